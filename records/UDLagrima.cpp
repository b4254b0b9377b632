#include "UDLagrima.h"

#include <cmath>

#include "FbCursor.h"
#include "FbDatabase.h"
#include "UDPacientes.h"
#include "UDPedidosRis.h"
#include "UfrmDataModule.h"
#include "records/Esquema.h"
#include "tearfilm/TearFilm.h"

namespace norvix {

using Close = TDMPrincipal::Close;

namespace {

// Kept equal to data/schema.sql (a test compares the two).
const char* const kCriaTabela =
    "CREATE TABLE EXAMESLAGRIMA ("
    " CODIGO INTEGER NOT NULL, CODPACIENTE INTEGER NOT NULL, CODRESP INTEGER NOT NULL,"
    " DATA DATE, HORA TIME, OLHO VARCHAR(2),"
    " PRIMEIRA DOUBLE PRECISION, MEDIA DOUBLE PRECISION, AREA DOUBLE PRECISION,"
    " PISCADA DOUBLE PRECISION, DURACAO DOUBLE PRECISION, FPS DOUBLE PRECISION,"
    " RESULTADO BLOB SUB_TYPE 0 SEGMENT SIZE 4096, GRAVACAO BLOB SUB_TYPE 0 SEGMENT SIZE 16384,"
    " CONSTRAINT PK_CODIGOEXAMESLAGRIMA PRIMARY KEY (CODIGO))";
const char* const kCriaIndice = "CREATE INDEX IX_EXAMESLAGRIMA_CODPACIENTE ON EXAMESLAGRIMA (CODPACIENTE)";

const QString kTabela = QStringLiteral(
    "SELECT COUNT(*) AS N FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'EXAMESLAGRIMA'");
const QString kIndice = QStringLiteral(
    "SELECT COUNT(*) AS N FROM RDB$INDICES WHERE RDB$INDEX_NAME = 'IX_EXAMESLAGRIMA_CODPACIENTE'");

// The columns the lists read: everything but the two blobs.
const char* const kColunas =
    "L.CODIGO, L.CODPACIENTE, L.CODRESP, L.DATA, L.HORA, L.OLHO, L.PRIMEIRA, L.MEDIA, L.AREA, "
    "L.PISCADA, L.DURACAO, L.FPS";

double lido(const FbDataSet& q, const char* coluna) {
    const QString c = QLatin1String(coluna);
    return q.isNull(c) ? lagrima::TearFilmResult::kNone : q.asDouble(c);
}

TExameLagrima daLinha(const FbDataSet& q) {
    TExameLagrima e;
    e.codigo = q.asInt(QStringLiteral("CODIGO"));
    e.paciente = q.asInt(QStringLiteral("CODPACIENTE"));
    e.medico = q.asInt(QStringLiteral("CODRESP"));
    e.data = q.asDate(QStringLiteral("DATA"));
    e.hora = q.asTime(QStringLiteral("HORA"));
    e.olho = q.asString(QStringLiteral("OLHO"));
    e.primeira = lido(q, "PRIMEIRA");
    e.media = lido(q, "MEDIA");
    e.area = lido(q, "AREA");
    e.piscada = lido(q, "PISCADA");
    e.duracao = lido(q, "DURACAO");
    e.fps = lido(q, "FPS");
    return e;
}

FbValue numero(double v) { return std::isfinite(v) ? FbValue(v) : FbValue(); }

}  // namespace

QString GaranteTabelaLagrima(FbDatabase& db) {
    return GaranteObjetos(db, {{kTabela, QString::fromLatin1(kCriaTabela)}, {kIndice, QString::fromLatin1(kCriaIndice)}},
                          QStringLiteral("O banco de dados não pôde ser preparado para os exames de filme lacrimal "
                                         "(tabela EXAMESLAGRIMA): %1\nOs demais exames não foram afetados."));
}

QString AvisoTabelaLagrima() { return AvisoEsquema(QStringLiteral("EXAMESLAGRIMA")); }
void DefineAvisoTabelaLagrima(const QString& texto) { AvisoEsquema(QStringLiteral("EXAMESLAGRIMA")) = texto; }

QString TExameLagrima::legenda() const {
    return olho + QStringLiteral(" - ") + data.toString(QStringLiteral("dd/MM/yyyy")) + QLatin1Char(' ') +
           hora.toString(QStringLiteral("HH:mm:ss")) + QLatin1Char('\n') +
           (std::isnan(primeira) ? QStringLiteral("NIBUT sem ruptura") : QStringLiteral("NIBUT %1 s").arg(lagrima::secondsText(primeira)));
}

bool TExameLagrima::result(lagrima::TearFilmResult* out, QString* error) const {
    return lagrima::fromJson(resultado, out, error);
}

TDLagrima& DLagrima() {
    static TDLagrima instancia;
    return instancia;
}

int TDLagrima::Insere(const TExameLagrimaNovo& e, const lagrima::TearFilmResult& r, const QByteArray& gravacao) {
    TDMPrincipal& dm = DMPrincipal();
    DPacientes().BloqueiaPaciente(e.paciente);
    if (dm.selectInt(QStringLiteral("SELECT COUNT(*) FROM Pacientes WHERE Pacientes.Codigo = :Codigo"),
                     {{"Codigo", e.paciente}}, QStringLiteral("COUNT"), Close::Yes) == 0)
        throw Error(QStringLiteral("O paciente não está mais cadastrado; o exame não foi gravado."));
    // One code space with EXAMES; past any row a lagging generator would collide with.
    int codigo = dm.selectInt(QStringLiteral("SELECT GEN_ID(CODIGO_EXAMES, 1) AS CODIGO FROM RDB$DATABASE"), {},
                              QStringLiteral("CODIGO"), Close::Yes);
    const int maior = dm.selectInt(QStringLiteral("SELECT MAX(CODIGO) AS MAIOR FROM ExamesLagrima WHERE CODIGO >= :Codigo"),
                                   {{"Codigo", codigo}}, QStringLiteral("MAIOR"), Close::Yes);
    if (maior >= codigo)
        codigo = dm.selectInt(QStringLiteral("SELECT GEN_ID(CODIGO_EXAMES, %1) AS CODIGO FROM RDB$DATABASE")
                                  .arg(maior - codigo + 1),
                              {}, QStringLiteral("CODIGO"), Close::Yes);
    dm.execProcedure(
        QStringLiteral("INSERT INTO ExamesLagrima (Codigo, CodPaciente, CodResp, Data, Hora, Olho, Primeira, Media, "
                       "Area, Piscada, Duracao, Fps, Resultado, Gravacao) VALUES (:Codigo, :CodPaciente, :CodResp, "
                       ":Data, :Hora, :Olho, :Primeira, :Media, :Area, :Piscada, :Duracao, :Fps, :Resultado, :Gravacao)"),
        {{"Codigo", codigo}, {"CodPaciente", e.paciente}, {"CodResp", e.medico}, {"Data", e.data}, {"Hora", e.hora},
         {"Olho", e.olho}, {"Primeira", numero(r.firstS)}, {"Media", numero(r.averageS)},
         {"Area", numero(r.brokenPercentAtEnd())}, {"Piscada", numero(r.blinkS)}, {"Duracao", numero(r.recordedS)},
         {"Fps", numero(r.fps)}, {"Resultado", lagrima::toJson(r)}, {"Gravacao", gravacao}},
        TDMPrincipal::Commit::No, Close::Yes);
    DPedidosRis().Anexa(e.paciente, codigo, e.data);  // the worklist order chosen for this exam
    return codigo;
}

int TDLagrima::Grava(const TExameLagrimaNovo& e, const lagrima::TearFilmResult& r, const QByteArray& gravacao) {
    int codigo = 0;
    DMPrincipal().runBatch([&] { codigo = Insere(e, r, gravacao); }, [&] { codigo = 0; });
    return codigo;
}

QList<TExameLagrima> TDLagrima::SelectByPaciente(int CodPac, int CodMed) {
    TDMPrincipal& dm = DMPrincipal();
    const QString sql = QStringLiteral("SELECT %1 FROM ExamesLagrima L WHERE L.CodPaciente = :CodPac%2 "
                                       "ORDER BY L.Data DESC, L.Hora DESC, L.Codigo DESC")
                            .arg(QLatin1String(kColunas), CodMed ? QStringLiteral(" AND L.CodResp = :CodMed") : QString());
    FbParams params{{"CodPac", CodPac}};
    if (CodMed) params.push_back({"CodMed", CodMed});
    FbQuery& q = dm.openQuery(dm.IBOperation, sql, params);
    QList<TExameLagrima> out;
    for (; !q.eof(); q.next()) out << daLinha(q);
    q.close();
    return out;
}

std::optional<TExameLagrima> TDLagrima::SelectByCodigo(int Codigo) {
    TDMPrincipal& dm = DMPrincipal();
    FbQuery& q = dm.openQuery(dm.IBOperation,
                              QStringLiteral("SELECT %1, L.RESULTADO, M.NOME AS NOMEMEDICO FROM ExamesLagrima L "
                                             "LEFT JOIN Medicos M ON M.Codigo = L.CodResp WHERE L.Codigo = :Codigo")
                                  .arg(QLatin1String(kColunas)),
                              {{"Codigo", Codigo}});
    std::optional<TExameLagrima> e;
    if (q.recNo() >= 0) {
        e = daLinha(q);
        e->resultado = q.asBytes(QStringLiteral("RESULTADO"));
        e->nomeMedico = q.asString(QStringLiteral("NOMEMEDICO"));
    }
    q.close();
    return e;
}

QByteArray TDLagrima::SelectGravacao(int Codigo) {
    return DMPrincipal().selectBytes(QStringLiteral("SELECT Gravacao FROM ExamesLagrima WHERE Codigo = :Codigo"),
                                     {{"Codigo", Codigo}}, QStringLiteral("GRAVACAO"), Close::Yes);
}

std::optional<TExameLagrima> TDLagrima::UltimoDoOlho(int CodPac, const QString& olho) {
    const int codigo = DMPrincipal().selectInt(
        QStringLiteral("SELECT FIRST 1 Codigo FROM ExamesLagrima WHERE CodPaciente = :CodPac AND Olho = :Olho "
                       "ORDER BY Data DESC, Hora DESC, Codigo DESC"),
        {{"CodPac", CodPac}, {"Olho", olho}}, QStringLiteral("CODIGO"), Close::Yes);
    return codigo > 0 ? SelectByCodigo(codigo) : std::nullopt;
}

int TDLagrima::CountByPaciente(int CodPac) {
    return DMPrincipal().selectInt(QStringLiteral("SELECT COUNT(*) FROM ExamesLagrima WHERE CodPaciente = :CodPac"),
                                   {{"CodPac", CodPac}}, QStringLiteral("COUNT"), Close::Yes);
}

void TDLagrima::DeleteByCodigo(int Codigo) {
    DMPrincipal().execProcedure(QStringLiteral("DELETE FROM ExamesLagrima WHERE Codigo = :Codigo"), {{"Codigo", Codigo}},
                                TDMPrincipal::Commit::No, Close::Yes);
}

void TDLagrima::DeleteByPaciente(int CodPac) {
    DMPrincipal().execProcedure(QStringLiteral("DELETE FROM ExamesLagrima WHERE CodPaciente = :CodPac"),
                                {{"CodPac", CodPac}}, TDMPrincipal::Commit::No, Close::Yes);
}

void TDLagrima::Exclui(int Codigo) {
    DMPrincipal().runBatch([&] { DeleteByCodigo(Codigo); });
}

}  // namespace norvix
