#include "UDPacientes.h"

#include "FbCursor.h"
#include "UfrmDataModule.h"

namespace norvix {

using Commit = TDMPrincipal::Commit;
using Close = TDMPrincipal::Close;

TDPacientes& DPacientes() {
    static TDPacientes instancia;
    return instancia;
}

void TDPacientes::InsertPacientes(
    const QString& Nome, const QString& Rg, const QString& Cpf, const QString& Sexo,
    const QString& EstadoCivil, const QString& Conjuge, const QString& DataNascimento,
    const QString& Naturalidade, const QString& NaturalidadeEstado, const QString& Pai,
    const QString& Mae, const QString& Rua, const QString& Complemento, const QString& Bairro,
    const QString& Cidade, const QString& Estado, const QString& Cep, const QString& Fone,
    const QString& Celular, const QString& Convenio, const QString& Profissao,
    const QString& TipoSang, const QDate& DtCadastro, int TotalExames) {
    DMPrincipal().execProcedure(
        "Execute Procedure InsertPacientes :Nome,:Rg,:CPF,:Sexo,:EstadoCivil,:Conjuge,"
        ":DataNascimento,:Naturalidade,:NaturalidadeEstado,:Pai,:Mae,:Rua,:Complemento,"
        ":Bairro,:Cidade,:Estado,:Cep,:Fone,:Celular,:Convenio,:Profissao,:TipoSang,"
        ":DtCadastro,:TotalExames",
        {{"Nome", Nome}, {"Rg", Rg}, {"Cpf", Cpf}, {"Sexo", Sexo},
         {"EstadoCivil", EstadoCivil}, {"Conjuge", Conjuge}, {"DataNascimento", DataNascimento},
         {"Naturalidade", Naturalidade}, {"NaturalidadeEstado", NaturalidadeEstado},
         {"Pai", Pai}, {"Mae", Mae}, {"Rua", Rua}, {"Complemento", Complemento},
         {"Bairro", Bairro}, {"Cidade", Cidade}, {"Estado", Estado}, {"Cep", Cep},
         {"Fone", Fone}, {"Celular", Celular}, {"Convenio", Convenio},
         {"Profissao", Profissao}, {"TipoSang", TipoSang}, {"DtCadastro", DtCadastro},
         {"TotalExames", TotalExames}});
}

void TDPacientes::UpdatePacientesByCodigo(
    int Codigo, const QString& Nome, const QString& Rg, const QString& Cpf, const QString& Sexo,
    const QString& EstadoCivil, const QString& Conjuge, const QString& DataNascimento,
    const QString& Naturalidade, const QString& NaturalidadeEstado, const QString& Pai,
    const QString& Mae, const QString& Rua, const QString& Complemento, const QString& Bairro,
    const QString& Cidade, const QString& Estado, const QString& Cep, const QString& Fone,
    const QString& Celular, const QString& Convenio, const QString& Profissao,
    const QString& TipoSang) {
    DMPrincipal().execProcedure(
        "Execute Procedure UpdatePacientesByCodigo :Codigo,:Nome,:Rg,:CPF,:Sexo,:EstadoCivil,"
        ":Conjuge,:DataNascimento,:Naturalidade,:NaturalidadeEstado,:Pai,:Mae,:Rua,"
        ":Complemento,:Bairro,:Cidade,:Estado,:Cep,:Fone,:Celular,:Convenio,:Profissao,"
        ":TipoSang",
        {{"Codigo", Codigo}, {"Nome", Nome}, {"Rg", Rg}, {"Cpf", Cpf}, {"Sexo", Sexo},
         {"EstadoCivil", EstadoCivil}, {"Conjuge", Conjuge}, {"DataNascimento", DataNascimento},
         {"Naturalidade", Naturalidade}, {"NaturalidadeEstado", NaturalidadeEstado},
         {"Pai", Pai}, {"Mae", Mae}, {"Rua", Rua}, {"Complemento", Complemento},
         {"Bairro", Bairro}, {"Cidade", Cidade}, {"Estado", Estado}, {"Cep", Cep},
         {"Fone", Fone}, {"Celular", Celular}, {"Convenio", Convenio},
         {"Profissao", Profissao}, {"TipoSang", TipoSang}});
}

void TDPacientes::DeletePacientesByCodigo(int Codigo) {
    DMPrincipal().execProcedure("Execute Procedure DeletePacientesByCodigo :Codigo",
                                {{"Codigo", Codigo}});
}

void TDPacientes::UpdateExamesPacientesByCodigo(int Codigo, const QString& UltimoExame,
                                                int TotalExames) {
    DMPrincipal().execProcedure(
        "Execute Procedure UpdateExamesPacientesByCodigo :Codigo,:UltimoExame,:TotalExames",
        {{"Codigo", Codigo}, {"UltimoExame", UltimoExame}, {"TotalExames", TotalExames}},
        Commit::Yes, Close::Yes);
}

QString TDPacientes::SelectNomeByCodigo(int Codigo) {
    return DMPrincipal().selectString("SELECT Nome FROM Pacientes WHERE Pacientes.Codigo = :Codigo",
                                      {{"Codigo", Codigo}}, "Nome");
}

int TDPacientes::SelectCodigoByNome(const QString& Nome) {
    return DMPrincipal().selectInt("SELECT * FROM Pacientes WHERE Pacientes.Nome = :NomePac",
                                   {{"NomePac", Nome}}, "Codigo", Close::Yes);
}

int TDPacientes::SelectCodigoInseridoByNome(const QString& Nome) {
    // RDB$RECORD_VERSION is the transaction that wrote the row's current version.
    return DMPrincipal().selectInt(
        "SELECT MAX(Codigo) AS Codigo FROM Pacientes WHERE Pacientes.Nome = :Nome AND "
        "RDB$RECORD_VERSION = CURRENT_TRANSACTION",
        {{"Nome", Nome}}, "Codigo", Close::Yes);
}

bool TDPacientes::ExisteCodigo(int Codigo) {
    return DMPrincipal().selectInt("SELECT FIRST 1 1 AS Existe FROM Pacientes WHERE Pacientes.Codigo = :Codigo",
                                   {{"Codigo", Codigo}}, "Existe", Close::Yes) == 1;
}

int TDPacientes::CountPacientes() {
    return DMPrincipal().selectInt("SELECT COUNT(*) FROM Pacientes", {}, "COUNT");
}

int TDPacientes::GenIdPacientes() {
    return DMPrincipal().selectInt("SELECT FIRST(1) GEN_ID(Codigo_Pacientes, 0) FROM Pacientes",
                                   {}, "GEN_ID");
}

bool TDPacientes::ExistemPacientesSemExames() {
    // Ordered by the column: the server walks its index from the value and stops at the first
    // row, instead of first gathering every such patient (a tenth of a large clinic).
    return DMPrincipal().selectInt("SELECT FIRST 1 1 AS Existe FROM Pacientes WHERE Pacientes.TotalExames=:TotalExames "
                                   "ORDER BY Pacientes.TotalExames",
                                   {{"TotalExames", 0}}, "Existe", Close::Yes) == 1;
}

int TDPacientes::CountPacientesSemExames() {
    return DMPrincipal().selectInt(
        "SELECT COUNT(*) FROM Pacientes WHERE Pacientes.TotalExames=:TotalExames",
        {{"TotalExames", 0}}, "COUNT", Close::Yes);
}

int TDPacientes::SelectTotalExamesByCodigo(int Codigo) {
    return DMPrincipal().selectInt("SELECT * FROM Pacientes WHERE Pacientes.Codigo = :Codigo",
                                   {{"Codigo", Codigo}}, "TotalExames");
}

TPaciente TPaciente::daLinha(const FbDataSet& q) {
    TPaciente p;
    p.codigo = q.asInt(QStringLiteral("CODIGO"));
    p.nome = q.asString(QStringLiteral("NOME"));
    p.rg = q.asString(QStringLiteral("RG"));
    p.convenio = q.asString(QStringLiteral("CONVENIO"));
    p.ultimoExame = q.asString(QStringLiteral("ULTIMOEXAME"));
    p.dtCadastro = q.asDate(QStringLiteral("DTCADASTRO"));
    p.totalExames = q.asInt(QStringLiteral("TOTALEXAMES"));
    return p;
}

QList<int> TDPacientes::SelectCodigosByNome(const QString& Nome) {
    FbQuery& q = DMPrincipal().openQuery(
        DMPrincipal().IBOperation,
        QStringLiteral("SELECT Codigo FROM Pacientes WHERE Pacientes.Nome = :NomePac ORDER BY Codigo"),
        {{"NomePac", Nome}});
    QList<int> codigos;
    for (; !q.eof(); q.next()) codigos << q.asInt(QStringLiteral("CODIGO"));
    q.close();
    return codigos;
}

std::optional<TPaciente> TDPacientes::SelectPacienteByCodigo(int Codigo) {
    FbQuery& q = DMPrincipal().openQuery(
        DMPrincipal().IBOperation,
        QStringLiteral("SELECT Codigo, Nome, Rg, Convenio, UltimoExame, DtCadastro, TotalExames FROM Pacientes "
                       "WHERE Pacientes.Codigo = :Codigo"),
        {{"Codigo", Codigo}});
    std::optional<TPaciente> paciente;
    if (q.recNo() >= 0) paciente = TPaciente::daLinha(q);
    q.close();
    return paciente;
}

std::optional<TDadosPessoais> TDPacientes::SelectDadosPessoaisByCodigo(int Codigo) {
    FbQuery& q = DMPrincipal().openQuery(
        DMPrincipal().IBOperation,
        QStringLiteral("SELECT Sexo, DataNascimento FROM Pacientes WHERE Pacientes.Codigo = :Codigo"),
        {{"Codigo", Codigo}});
    std::optional<TDadosPessoais> dados;
    if (q.recNo() >= 0)
        dados = TDadosPessoais{q.asString(QStringLiteral("SEXO")), q.asString(QStringLiteral("DATANASCIMENTO"))};
    q.close();
    return dados;
}

std::optional<TPaciente> TDPacientes::AbrePacienteAtual(int Codigo) {
    FbQuery& q = DMPrincipal().openQuery(DMPrincipal().IBQueryPacientes,
                                         QStringLiteral("Select * FROM Pacientes WHERE Pacientes.Codigo = :Codigo"),
                                         {{"Codigo", Codigo}});
    std::optional<TPaciente> paciente;
    if (q.recNo() >= 0) paciente = TPaciente::daLinha(q);
    return paciente;
}

QString TDPacientes::SelectNomeOutroPacienteByCpf(const QString& Cpf, int Codigo) {
    return DMPrincipal().selectString(
        QStringLiteral("SELECT FIRST 1 Nome FROM Pacientes WHERE Pacientes.Cpf = :Cpf AND Pacientes.Codigo <> :Codigo"),
        {{"Cpf", Cpf}, {"Codigo", Codigo}}, QStringLiteral("Nome"), Close::Yes);
}

void TDPacientes::BloqueiaPaciente(int Codigo) {
    DMPrincipal().openQuery(DMPrincipal().IBOperation,
                            QStringLiteral("SELECT Codigo FROM Pacientes WHERE Pacientes.Codigo = :Codigo WITH LOCK"),
                            {{"Codigo", Codigo}});
    DMPrincipal().IBOperation.close();
}

void TDPacientes::AtualizaContadores(int Codigo, const QString& UltimoExame) {
    TDMPrincipal& dm = DMPrincipal();
    const int total = dm.selectInt(QStringLiteral("SELECT COUNT(*) FROM Exames WHERE Exames.CodPaciente = :CodPac"),
                                   {{"CodPac", Codigo}}, QStringLiteral("COUNT"), Close::Yes);
    QString ultimo = UltimoExame;
    if (ultimo.isEmpty()) {
        // The newest by date, then time, then code: exams of other days that share the time of
        // day are not taken for it.
        FbQuery& q = dm.openQuery(dm.IBOperation,
                                  QStringLiteral("SELECT FIRST 1 Olho, Data, Hora FROM Exames WHERE Exames.CodPaciente = "
                                                 ":CodPac ORDER BY Data DESC, Hora DESC, Codigo DESC"),
                                  {{"CodPac", Codigo}});
        ultimo = q.recNo() < 0 ? QStringLiteral("  ")
                               : q.asString(QStringLiteral("OLHO")) + QLatin1Char(' ') +
                                     q.asDate(QStringLiteral("DATA")).toString(QStringLiteral("dd/MM/yyyy")) +
                                     QLatin1Char(' ') + q.asTime(QStringLiteral("HORA")).toString(QStringLiteral("HH:mm"));
        q.close();
    }
    UpdateExamesPacientesByCodigo(Codigo, ultimo, total);
}

}  // namespace norvix
