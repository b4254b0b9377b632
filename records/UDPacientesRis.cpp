#include "records/UDPacientesRis.h"

#include "records/Esquema.h"
#include "records/FbCursor.h"
#include "records/UArquivosExameTexto.h"
#include "records/UfrmDataModule.h"

namespace norvix {

using Close = TDMPrincipal::Close;

QString GaranteTabelaRis(FbDatabase& db) {
    return GaranteObjetos(
        db,
        {{QStringLiteral("SELECT COUNT(*) AS N FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'PACIENTESRIS'"),
          // Kept equal to data/schema.sql.
          QStringLiteral("CREATE TABLE PACIENTESRIS (IDRIS VARCHAR(64) NOT NULL, CODPACIENTE INTEGER NOT NULL,"
                         " CONSTRAINT PK_PACIENTESRIS PRIMARY KEY (IDRIS))")}},
        QStringLiteral("O banco de dados não pôde ser preparado para a lista de trabalho DICOM (tabela PACIENTESRIS): "
                       "%1\nO restante do programa não foi afetado."));
}

QString AvisoTabelaRis() { return AvisoEsquema(QStringLiteral("PACIENTESRIS")); }
void DefineAvisoTabelaRis(const QString& texto) { AvisoEsquema(QStringLiteral("PACIENTESRIS")) = texto; }

TDPacientesRis& DPacientesRis() {
    static TDPacientesRis instancia;
    return instancia;
}

int TDPacientesRis::PacienteDoId(const QString& idRis) {
    // Joined with the patients: a link left by a patient deleted elsewhere is no patient.
    return DMPrincipal().selectInt(QStringLiteral("SELECT R.CodPaciente FROM PacientesRis R JOIN Pacientes P ON "
                                                  "P.Codigo = R.CodPaciente WHERE R.IdRis = :Id"),
                                   {{"Id", idRis.trimmed()}}, QStringLiteral("CODPACIENTE"), Close::Yes);
}

QString TDPacientesRis::IdDoPaciente(int paciente) {
    return DMPrincipal().selectString(
        QStringLiteral("SELECT FIRST 1 IdRis FROM PacientesRis WHERE CodPaciente = :Codigo ORDER BY IdRis"),
        {{"Codigo", paciente}}, QStringLiteral("IDRIS"), Close::Yes);
}

QList<int> TDPacientesRis::PacientesDoNome(const QString& nome, const QString& nascimento) {
    QString sql = QStringLiteral("SELECT Codigo FROM Pacientes WHERE Upper(Nome) = CAST(:Nome AS VARCHAR(50))");
    FbParams params{{"Nome", MaiusculasComAcentos(nome.simplified())}};
    if (!nascimento.isEmpty()) {
        sql += QStringLiteral(" AND DataNascimento = :Nascimento");
        params.push_back({"Nascimento", nascimento});
    }
    FbQuery& q = DMPrincipal().openQuery(DMPrincipal().IBOperation, sql + QStringLiteral(" ORDER BY Codigo"), params);
    QList<int> codigos;
    for (; !q.eof(); q.next()) codigos << q.asInt(QStringLiteral("CODIGO"));
    q.close();
    return codigos;
}

void TDPacientesRis::Vincula(int paciente, const QString& idRis) {
    DMPrincipal().execProcedure(
        QStringLiteral("UPDATE OR INSERT INTO PacientesRis (IdRis, CodPaciente) VALUES (:Id, :Codigo) MATCHING (IdRis)"),
        {{"Id", idRis.trimmed()}, {"Codigo", paciente}}, TDMPrincipal::Commit::Yes, Close::Yes);
}

}  // namespace norvix
