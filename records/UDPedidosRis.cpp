#include "records/UDPedidosRis.h"

#include "records/Esquema.h"
#include "records/FbCursor.h"
#include "records/UfrmDataModule.h"

namespace norvix {

using Close = TDMPrincipal::Close;

namespace {

// Kept equal to data/schema.sql.
const char* const kCriaTabela =
    "CREATE TABLE PEDIDOSRIS (CODPACIENTE INTEGER NOT NULL, IDRIS VARCHAR(64), EMISSOR VARCHAR(64),"
    " ACCESSION VARCHAR(64), ESTUDOUID VARCHAR(64), PROCEDIMENTOID VARCHAR(64), PROCEDIMENTO VARCHAR(64),"
    " PASSOID VARCHAR(64), DATA DATE NOT NULL, HORA TIME, CODEXAME INTEGER)";
const char* const kCriaIndice = "CREATE INDEX IX_PEDIDOSRIS_CODPACIENTE ON PEDIDOSRIS (CODPACIENTE)";
constexpr int kLargura = 64;

const char* const kColunas =
    "CODPACIENTE, IDRIS, EMISSOR, ACCESSION, ESTUDOUID, PROCEDIMENTOID, PROCEDIMENTO, PASSOID, DATA, HORA, CODEXAME";

TPedidoRis daLinha(const FbDataSet& q) {
    TPedidoRis p;
    p.paciente = q.asInt(QStringLiteral("CODPACIENTE"));
    p.idRis = q.asString(QStringLiteral("IDRIS"));
    p.emissor = q.asString(QStringLiteral("EMISSOR"));
    p.accession = q.asString(QStringLiteral("ACCESSION"));
    p.estudoUid = q.asString(QStringLiteral("ESTUDOUID"));
    p.procedimentoId = q.asString(QStringLiteral("PROCEDIMENTOID"));
    p.procedimento = q.asString(QStringLiteral("PROCEDIMENTO"));
    p.passoId = q.asString(QStringLiteral("PASSOID"));
    p.data = q.asDate(QStringLiteral("DATA"));
    p.hora = q.asTime(QStringLiteral("HORA"));
    p.exame = q.asInt(QStringLiteral("CODEXAME"));
    return p;
}

bool semTabela() { return !AvisoTabelaPedidosRis().isEmpty(); }

}  // namespace

QString GaranteTabelaPedidosRis(FbDatabase& db) {
    return GaranteObjetos(
        db,
        {{QStringLiteral("SELECT COUNT(*) AS N FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'PEDIDOSRIS'"),
          QString::fromLatin1(kCriaTabela)},
         {QStringLiteral("SELECT COUNT(*) AS N FROM RDB$INDICES WHERE RDB$INDEX_NAME = 'IX_PEDIDOSRIS_CODPACIENTE'"),
          QString::fromLatin1(kCriaIndice)}},
        QStringLiteral("O banco de dados não pôde ser preparado para os pedidos da lista de trabalho DICOM (tabela "
                       "PEDIDOSRIS): %1\nOs exames saem sem o número de acesso do RIS; o restante do programa não "
                       "foi afetado."));
}

QString AvisoTabelaPedidosRis() { return AvisoEsquema(QStringLiteral("PEDIDOSRIS")); }
void DefineAvisoTabelaPedidosRis(const QString& texto) { AvisoEsquema(QStringLiteral("PEDIDOSRIS")) = texto; }

TDPedidosRis& DPedidosRis() {
    static TDPedidosRis instancia;
    return instancia;
}

void TDPedidosRis::Escolhe(const TPedidoRis& p) {
    if (semTabela()) throw Error(AvisoTabelaPedidosRis());
    const std::pair<const char*, QString> valores[] = {
        {"ID do paciente", p.idRis},       {"emissor do ID", p.emissor},
        {"número de acesso", p.accession}, {"Study Instance UID", p.estudoUid},
        {"ID do procedimento", p.procedimentoId}, {"procedimento", p.procedimento},
        {"ID do passo agendado", p.passoId}};
    for (const auto& [nome, valor] : valores)
        if (valor.trimmed().size() > kLargura)
            throw Error(QStringLiteral("O pedido do RIS não foi registrado: o %1 tem mais de %2 caracteres.")
                            .arg(QLatin1String(nome))
                            .arg(kLargura));
    if (p.paciente <= 0 || !p.data.isValid())
        throw Error(QStringLiteral("O pedido do RIS não foi registrado: paciente ou data inválidos."));
    TDMPrincipal& dm = DMPrincipal();
    dm.runBatch([&] {
        // The operator changed their mind: the order still waiting is not this patient's next exam's.
        dm.execProcedure(QStringLiteral("DELETE FROM PedidosRis WHERE CodPaciente = :Paciente AND CodExame IS NULL"),
                         {{"Paciente", p.paciente}}, TDMPrincipal::Commit::No, Close::Yes);
        dm.execProcedure(
            QStringLiteral("INSERT INTO PedidosRis (%1) VALUES (:Paciente, :IdRis, :Emissor, :Accession, :EstudoUid, "
                           ":ProcedimentoId, :Procedimento, :PassoId, :Data, :Hora, NULL)")
                .arg(QLatin1String(kColunas)),
            {{"Paciente", p.paciente},
             {"IdRis", p.idRis.trimmed()},
             {"Emissor", p.emissor.trimmed()},
             {"Accession", p.accession.trimmed()},
             {"EstudoUid", p.estudoUid.trimmed()},
             {"ProcedimentoId", p.procedimentoId.trimmed()},
             {"Procedimento", p.procedimento.trimmed()},
             {"PassoId", p.passoId.trimmed()},
             {"Data", p.data},
             {"Hora", p.hora.isValid() ? FbValue(p.hora) : FbValue()}},
            TDMPrincipal::Commit::No, Close::Yes);
    });
}

void TDPedidosRis::Anexa(int paciente, int exame, const QDate& dia) {
    if (semTabela()) return;
    DMPrincipal().execProcedure(QStringLiteral("UPDATE PedidosRis SET CodExame = :Exame WHERE CodPaciente = :Paciente "
                                               "AND CodExame IS NULL AND Data = :Dia"),
                                {{"Exame", exame}, {"Paciente", paciente}, {"Dia", dia}}, TDMPrincipal::Commit::No,
                                Close::Yes);
}

std::optional<TPedidoRis> TDPedidosRis::DosExames(const QList<int>& exames) {
    if (semTabela() || exames.isEmpty()) return std::nullopt;
    QStringList nomes;
    FbParams params;
    for (int i = 0; i < exames.size(); ++i) {
        nomes << QStringLiteral(":E%1").arg(i);
        params.push_back({QStringLiteral("E%1").arg(i), exames[i]});
    }
    TDMPrincipal& dm = DMPrincipal();
    FbQuery& q = dm.openQuery(dm.IBOperation,
                              QStringLiteral("SELECT %1 FROM PedidosRis WHERE CodExame IN (%2) ORDER BY Data, Hora")
                                  .arg(QLatin1String(kColunas), nomes.join(QStringLiteral(", "))),
                              params);
    std::optional<TPedidoRis> p;
    if (!q.eof()) p = daLinha(q);
    q.close();
    return p;
}

void TDPedidosRis::ExcluiDoPaciente(int paciente) {
    if (semTabela()) return;
    DMPrincipal().execProcedure(QStringLiteral("DELETE FROM PedidosRis WHERE CodPaciente = :Paciente"),
                                {{"Paciente", paciente}}, TDMPrincipal::Commit::No, Close::Yes);
}

}  // namespace norvix
