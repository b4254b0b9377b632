#include "records/UDVisitasDicom.h"

#include "records/Esquema.h"
#include "records/FbCursor.h"
#include "records/UfrmDataModule.h"

namespace norvix {

using Close = TDMPrincipal::Close;

namespace {

// Kept equal to data/schema.sql.
const char* const kCriaTabela =
    "CREATE TABLE VISITASDICOM (VISITA VARCHAR(16) NOT NULL, CODPACIENTE INTEGER NOT NULL,"
    " IDPACIENTE VARCHAR(64) NOT NULL, EMISSOR VARCHAR(64), ESTUDOUID VARCHAR(64) NOT NULL, DATA DATE, HORA TIME,"
    " CONSTRAINT PK_VISITASDICOM PRIMARY KEY (VISITA))";
const char* const kCriaIndice = "CREATE INDEX IX_VISITASDICOM_CODPACIENTE ON VISITASDICOM (CODPACIENTE)";
const char* const kColunas = "VISITA, CODPACIENTE, IDPACIENTE, EMISSOR, ESTUDOUID, DATA, HORA";

TVisitaDicom daLinha(const FbDataSet& q) {
    return {q.asString(QStringLiteral("VISITA")),   q.asInt(QStringLiteral("CODPACIENTE")),
            q.asString(QStringLiteral("IDPACIENTE")), q.asString(QStringLiteral("EMISSOR")),
            q.asString(QStringLiteral("ESTUDOUID")),  q.asDate(QStringLiteral("DATA")),
            q.asTime(QStringLiteral("HORA"))};
}

QList<TVisitaDicom> lista(const QString& onde, const FbParams& params) {
    TDMPrincipal& dm = DMPrincipal();
    FbQuery& q = dm.openQuery(
        dm.IBOperation,
        QStringLiteral("SELECT %1 FROM VisitasDicom WHERE %2 ORDER BY Data, Hora, Visita").arg(QLatin1String(kColunas), onde),
        params);
    QList<TVisitaDicom> out;
    for (; !q.eof(); q.next()) out << daLinha(q);
    q.close();
    return out;
}

void semTabela() {
    if (!AvisoTabelaVisitasDicom().isEmpty()) throw Error(AvisoTabelaVisitasDicom());
}

}  // namespace

QString GaranteTabelaVisitasDicom(FbDatabase& db) {
    return GaranteObjetos(
        db,
        {{QStringLiteral("SELECT COUNT(*) AS N FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'VISITASDICOM'"),
          QString::fromLatin1(kCriaTabela)},
         {QStringLiteral("SELECT COUNT(*) AS N FROM RDB$INDICES WHERE RDB$INDEX_NAME = 'IX_VISITASDICOM_CODPACIENTE'"),
          QString::fromLatin1(kCriaIndice)}},
        QStringLiteral("O banco de dados não pôde ser preparado para o envio de exames em DICOM (tabela VISITASDICOM): "
                       "%1\nNenhum exame é enviado ao PACS até que isso seja resolvido; o restante do programa não foi "
                       "afetado."));
}

QString AvisoTabelaVisitasDicom() { return AvisoEsquema(QStringLiteral("VISITASDICOM")); }
void DefineAvisoTabelaVisitasDicom(const QString& texto) { AvisoEsquema(QStringLiteral("VISITASDICOM")) = texto; }

TDVisitasDicom& DVisitasDicom() {
    static TDVisitasDicom instancia;
    return instancia;
}

std::optional<TVisitaDicom> TDVisitasDicom::DaVisita(const QString& visita) {
    semTabela();
    const QList<TVisitaDicom> v = lista(QStringLiteral("Visita = :Visita"), {{"Visita", visita}});
    return v.isEmpty() ? std::nullopt : std::optional(v.first());
}

TVisitaDicom TDVisitasDicom::Registra(const TVisitaDicom& v) {
    semTabela();
    if (const std::optional<TVisitaDicom> antes = DaVisita(v.visita)) return *antes;
    try {
        DMPrincipal().execProcedure(
            QStringLiteral("INSERT INTO VisitasDicom (%1) VALUES (:Visita, :Paciente, :Id, :Emissor, :Estudo, :Data, "
                           ":Hora)")
                .arg(QLatin1String(kColunas)),
            {{"Visita", v.visita},
             {"Paciente", v.paciente},
             {"Id", v.idPaciente},
             {"Emissor", v.emissor},
             {"Estudo", v.estudoUid},
             {"Data", v.data},
             {"Hora", v.hora}},
            TDMPrincipal::Commit::Yes, Close::Yes);
    } catch (const DatabaseError&) {
        // Another station wrote the visit first: its identity stands.
        if (const std::optional<TVisitaDicom> outra = DaVisita(v.visita)) return *outra;
        throw;
    }
    return v;
}

bool TDVisitasDicom::EstudoDeOutroPaciente(const QString& estudoUid, int paciente) {
    semTabela();
    return DMPrincipal().selectInt(
               QStringLiteral("SELECT COUNT(*) FROM VisitasDicom WHERE EstudoUid = :Estudo AND CodPaciente <> :Paciente"),
               {{"Estudo", estudoUid}, {"Paciente", paciente}}, QStringLiteral("COUNT"), Close::Yes) > 0;
}

QList<TVisitaDicom> TDVisitasDicom::DoPaciente(int paciente) {
    semTabela();
    return lista(QStringLiteral("CodPaciente = :Paciente"), {{"Paciente", paciente}});
}

int TDVisitasDicom::Esquece(int paciente) {
    semTabela();
    const int n = int(DoPaciente(paciente).size());
    DMPrincipal().execProcedure(QStringLiteral("DELETE FROM VisitasDicom WHERE CodPaciente = :Paciente"),
                                {{"Paciente", paciente}}, TDMPrincipal::Commit::Yes, Close::Yes);
    return n;
}

void TDVisitasDicom::ExcluiDoPaciente(int paciente) {
    if (!AvisoTabelaVisitasDicom().isEmpty()) return;
    DMPrincipal().execProcedure(QStringLiteral("DELETE FROM VisitasDicom WHERE CodPaciente = :Paciente"),
                                {{"Paciente", paciente}}, TDMPrincipal::Commit::No, Close::Yes);
}

}  // namespace norvix
