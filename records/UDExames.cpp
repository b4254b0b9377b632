#include "UDExames.h"

#include <QRegularExpression>

#include "FbCursor.h"
#include "UfrmDataModule.h"

namespace norvix {

using Commit = TDMPrincipal::Commit;
using Close = TDMPrincipal::Close;

TNavegadorRegistros::TNavegadorRegistros(const char* tabela, FbQuery& (*cursor)())
    : tabela_(tabela), cursor_(cursor) {}

void TNavegadorRegistros::Fecha() {
    aberto_ = false;
    cursor_().close();
}

void TNavegadorRegistros::Navegar(const QString& Campo, const QString& Conteudo,
                                  const QString& Comando) {
    if (!aberto_) return;
    if (Comando.isEmpty()) {
        static const QRegularExpression coluna(QStringLiteral("^[A-Za-z_][A-Za-z0-9_$]{0,62}$"));
        if (!coluna.match(Campo).hasMatch())
            throw Error(QStringLiteral("Nome de coluna inválido para a navegação: \"%1\".")
                            .arg(Campo.left(64)));
        DMPrincipal().openQuery(cursor_(),
                                QStringLiteral("SELECT * FROM %1 WHERE %1.%2=:Content")
                                    .arg(QLatin1String(tabela_), Campo),
                                {{"Content", Conteudo}});
    }
    FbQuery& cursor = cursor_();
    if (Comando == QLatin1String("First"))
        cursor.first();
    else if (Comando == QLatin1String("Next"))
        cursor.next();
    else if (Comando == QLatin1String("Prior"))
        cursor.prior();
}

int TNavegadorRegistros::Inteiro(const char* coluna) const {
    FbQuery& cursor = cursor_();
    if (!aberto_ || !cursor.active() || cursor.recNo() < 0) return 0;
    return cursor.asInt(QLatin1String(coluna));
}

namespace {
FbQuery& cursorExames() { return DMPrincipal().IBQueryExames; }
}  // namespace

TDExames& DExames() {
    static TDExames instancia;
    return instancia;
}

TDExames::TDExames() : navegador_("Exames", cursorExames) {}

void TDExames::InsertExames(int CodPaciente, int CodResp, const QDate& Data, const QTime& Hora,
                            const QString& Olho, double IndConf, const QString& TipoExame,
                            const QString& Backup, const QString& Diag,
                            const QString& Observacao, int NumAneis, const QString& TipoCone) {
    DMPrincipal().execProcedure(
        "Execute Procedure InsertExames :CodPaciente,:CodResp,:Data,:Hora,:Olho,:IndConf,"
        ":TipoExame,:Backup,:Diag,:Observacao,:NumAneis,:TipoCone",
        {{"CodPaciente", CodPaciente}, {"CodResp", CodResp}, {"Data", Data}, {"Hora", Hora},
         {"Olho", Olho}, {"IndConf", IndConf}, {"TipoExame", TipoExame}, {"Backup", Backup},
         {"Diag", Diag}, {"Observacao", Observacao}, {"NumAneis", NumAneis},
         {"TipoCone", TipoCone}});
}

void TDExames::InsertExamesOrto(int ECodExame, double EDiv, double EExc, double ERaio,
                                double ESag) {
    DMPrincipal().execProcedure(
        "Execute Procedure InsertExamesOrto :ECodExame,:EDiv,:EExc,:ERaio,:ESag",
        {{"ECodExame", ECodExame}, {"EDiv", EDiv}, {"EExc", EExc}, {"ERaio", ERaio},
         {"ESag", ESag}});
}

void TDExames::UpdateBackupExameByCodigo(int Codigo, const QString& Backup) {
    DMPrincipal().execProcedure("Execute Procedure UpdateBackupExameByCodigo :Codigo,:Backup",
                                {{"Codigo", Codigo}, {"Backup", Backup}}, Commit::No,
                                Close::Yes);
}

bool TDExames::ZeraBackupExames() {
    try {
        DMPrincipal().execProcedure("Execute Procedure ZeraBackupExames", {}, Commit::No,
                                    Close::Yes);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TDExames::UpdateDiagExameByCodigo(int Codigo, const QString& Diag) {
    DMPrincipal().execProcedure("Execute Procedure UpdateDiagExameByCodigo :Codigo,:Diag",
                                {{"Codigo", Codigo}, {"Diag", Diag}}, Commit::Yes, Close::Yes);
}

void TDExames::UpdateObsExameByCodigo(int Codigo, const QString& Obs) {
    DMPrincipal().execProcedure("Execute Procedure UpdateObsExameByCodigo :Codigo,:Obs",
                                {{"Codigo", Codigo}, {"Obs", Obs}}, Commit::Yes, Close::Yes);
}

namespace {
// One statement, so that nothing can come between the check and the write. Firebird compares
// texts padded with blanks: the length makes "a" and "a " differ.
bool atualizaSeInalterado(const char* coluna, int codigo, const QString& mostrado, const QString& novo) {
    TDMPrincipal& dm = DMPrincipal();
    dm.execProcedure(QStringLiteral("UPDATE Exames SET %1 = :Novo WHERE Codigo = :Codigo AND COALESCE(%1, '') = "
                                    ":Mostrado AND CHAR_LENGTH(COALESCE(%1, '')) = :Tamanho")
                         .arg(QLatin1String(coluna)),
                     {{"Novo", novo}, {"Codigo", codigo}, {"Mostrado", mostrado}, {"Tamanho", int(mostrado.size())}},
                     Commit::No, Close::Yes);
    if (dm.IBOperation.rowsAffected() == 0) return false;
    dm.PCommitDataBase();
    return true;
}
}  // namespace

bool TDExames::UpdateDiagExameSeInalterado(int Codigo, const QString& Mostrado, const QString& Diag) {
    return atualizaSeInalterado("Diag", Codigo, Mostrado, Diag);
}

bool TDExames::UpdateObsExameSeInalterado(int Codigo, const QString& Mostrado, const QString& Obs) {
    return atualizaSeInalterado("Observacao", Codigo, Mostrado, Obs);
}

void TDExames::DeleteExamesByCodigo(int Codigo) {
    DMPrincipal().execProcedure("Execute Procedure DeleteExamesByCodigo :Codigo",
                                {{"Codigo", Codigo}});
}

void TDExames::DeleteExamesOrtoByCodigoExame(int CodExame) {
    DMPrincipal().execProcedure("Execute Procedure DeleteExamesOrtoByCodigoExame :CodExame",
                                {{"CodExame", CodExame}});
}

int TDExames::SelectCodRespByCodigo(int Codigo) {
    return DMPrincipal().selectInt("SELECT Exames.CodResp FROM Exames WHERE Exames.Codigo=:Codigo",
                                   {{"Codigo", Codigo}}, "CodResp", Close::Yes);
}

int TDExames::CountExames() {
    return DMPrincipal().selectInt("SELECT COUNT(*) FROM Exames", {}, "COUNT");
}

int TDExames::CountExamesByMedico(int CodMed) {
    return DMPrincipal().selectInt("SELECT COUNT(*) FROM Exames WHERE Exames.CodResp=:CodMed",
                                   {{"CodMed", CodMed}}, "COUNT", Close::Yes);
}

int TDExames::CountExamesByPaciente(int CodPac) {
    return DMPrincipal().selectInt("SELECT COUNT(*) FROM Exames WHERE Exames.CodPaciente = :CodPac",
                                   {{"CodPac", CodPac}}, "COUNT", Close::Yes);
}

int TDExames::CountExamesByMedicoPaciente(int CodMed, int CodPac) {
    return DMPrincipal().selectInt(
        "SELECT COUNT(*) FROM Exames WHERE Exames.CodResp=:CodMed AND Exames.CodPaciente=:CodPac",
        {{"CodMed", CodMed}, {"CodPac", CodPac}}, "COUNT", Close::Yes);
}

int TDExames::GenIdExames() {
    return DMPrincipal().selectInt("SELECT FIRST(1) GEN_ID(Codigo_Exames, 0) FROM Exames", {},
                                   "GEN_ID");
}

// ---- values ---------------------------------------------------------------------------------

QString TExame::legenda() const {
    return olho + QStringLiteral(" - ") + data.toString(QStringLiteral("dd/MM/yyyy")) + QLatin1Char(' ') +
           hora.toString(QStringLiteral("HH:mm:ss"));
}

TExame TExame::daLinha(const FbDataSet& q) {
    TExame e;
    e.codigo = q.asInt(QStringLiteral("CODIGO"));
    e.paciente = q.asInt(QStringLiteral("CODPACIENTE"));
    e.medico = q.asInt(QStringLiteral("CODRESP"));
    e.olho = q.asString(QStringLiteral("OLHO"));
    e.data = q.asDate(QStringLiteral("DATA"));
    e.hora = q.asTime(QStringLiteral("HORA"));
    e.tipo = q.asString(QStringLiteral("TIPOEXAME"));
    e.diag = q.asString(QStringLiteral("DIAG"));
    e.observacao = q.asString(QStringLiteral("OBSERVACAO"));
    e.indConf = q.asDouble(QStringLiteral("INDCONF"));
    e.numAnel = q.asInt(QStringLiteral("NUMANEL"));
    e.tipoCone = q.asString(QStringLiteral("TIPOCONE"));
    return e;
}

std::optional<TExame> TDExames::SelectExameByCodigo(int Codigo) {
    // One statement for what the exam panel shows: the row, its doctor and its values.
    FbQuery& q = DMPrincipal().openQuery(
        DMPrincipal().IBOperation,
        QStringLiteral("SELECT FIRST 1 Exames.*, Medicos.Nome AS NomeMedico, ExamesOrto.Sag AS OrtoSag, "
                       "ExamesOrto.Div AS OrtoDiv, ExamesOrto.Raio AS OrtoRaio, ExamesOrto.CodExame AS OrtoCodigo "
                       "FROM Exames LEFT JOIN Medicos ON Medicos.Codigo = Exames.CodResp "
                       "LEFT JOIN ExamesOrto ON ExamesOrto.CodExame = Exames.Codigo WHERE Exames.Codigo = :Codigo"),
        {{"Codigo", Codigo}});
    std::optional<TExame> exame;
    if (q.recNo() >= 0) {
        exame = TExame::daLinha(q);
        exame->nomeMedico = q.asString(QStringLiteral("NOMEMEDICO"));
        if (exame->ortoceratologia())
            exame->orto = q.isNull(QStringLiteral("ORTOCODIGO"))
                              ? TOrtoExame{}
                              : TOrtoExame{q.asDouble(QStringLiteral("ORTOSAG")), q.asDouble(QStringLiteral("ORTODIV")),
                                           q.asDouble(QStringLiteral("ORTORAIO"))};
    }
    q.close();
    return exame;
}

QList<TExame> TDExames::SelectExamesByPaciente(int CodPac, int CodMed) {
    FbQuery& q = CodMed == 0
                     ? DMPrincipal().openQuery(
                           DMPrincipal().IBQueryExames,
                           QStringLiteral("SELECT * FROM Exames WHERE Exames.CodPaciente = :codigoPaciente"),
                           {{"codigoPaciente", CodPac}})
                     : DMPrincipal().openQuery(DMPrincipal().IBQueryExames,
                                               QStringLiteral("SELECT * FROM Exames WHERE Exames.CodPaciente = "
                                                              ":codigoPaciente AND Exames.CodResp = :codigoMedico"),
                                               {{"codigoPaciente", CodPac}, {"codigoMedico", CodMed}});
    QList<TExame> exames;
    for (; !q.eof(); q.next()) exames << TExame::daLinha(q);
    return exames;
}

std::optional<TExame> TDExames::SelectExameByLegenda(int CodPac, const QString& legenda) {
    // Eye in characters 1-2, date in 6-15, time in 17-24 of the caption.
    const QDate data = QDate::fromString(legenda.mid(5, 10), QStringLiteral("dd/MM/yyyy"));
    const QTime hora = QTime::fromString(legenda.mid(16, 8), QStringLiteral("HH:mm:ss"));
    if (!data.isValid() || !hora.isValid()) return std::nullopt;
    const int codigo = DMPrincipal().selectInt(
        QStringLiteral("SELECT Codigo FROM Exames WHERE Exames.CodPaciente=:CodPac AND Exames.Data=:Data AND "
                       "Exames.Hora=:Hora AND Exames.Olho=:Ol"),
        {{"CodPac", CodPac}, {"Data", data}, {"Hora", hora}, {"Ol", legenda.left(2)}}, QStringLiteral("Codigo"),
        Close::Yes);
    return codigo == 0 ? std::nullopt : SelectExameByCodigo(codigo);
}

int TDExames::CountExamesSemBackup() {
    return DMPrincipal().selectInt("SELECT COUNT(*) FROM Exames WHERE Exames.Backup=:Backup",
                                   {{"Backup", QStringLiteral("")}}, "COUNT", Close::Yes);
}

TDExames& TDExames::AbreNavegador() {
    navegador_.Abre();
    return *this;
}

void TDExames::FechaNavegador() { navegador_.Fecha(); }

void TDExames::Navegar(const QString& Campo, const QString& Conteudo, const QString& Comando) {
    navegador_.Navegar(Campo, Conteudo, Comando);
}

int TDExames::CodPacienteAtual() const { return navegador_.Inteiro("CodPaciente"); }

int TDExames::CodigoAtual() const { return navegador_.Inteiro("Codigo"); }

}  // namespace norvix
