#include "UDPacientes.h"

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
    return DMPrincipal().selectInt(
               "SELECT FIRST 1 1 AS Existe FROM Pacientes WHERE Pacientes.TotalExames=:TotalExames",
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

}  // namespace norvix
