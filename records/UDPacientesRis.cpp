#include "records/UDPacientesRis.h"

#include <QMap>

#include "records/Esquema.h"
#include "records/ExameNovo.h"
#include "records/FbCursor.h"
#include "records/UfrmDataModule.h"

namespace norvix {

using Close = TDMPrincipal::Close;

namespace {

QString existeColuna(const char* coluna) {
    return QStringLiteral(
               "SELECT COUNT(*) AS N FROM RDB$RELATION_FIELDS WHERE RDB$RELATION_NAME = 'PACIENTESRIS' "
               "AND RDB$FIELD_NAME = '%1'")
        .arg(QLatin1String(coluna));
}

PessoaCadastrada lePessoa(const FbQuery& q) {
    return {q.asInt(QStringLiteral("CODIGO")), q.asString(QStringLiteral("NOME")),
            q.asString(QStringLiteral("DATANASCIMENTO")).trimmed(), q.asString(QStringLiteral("SEXO")).trimmed()};
}

}  // namespace

QString GaranteTabelaRis(FbDatabase& db) {
    return GaranteObjetos(
        db,
        {{QStringLiteral("SELECT COUNT(*) AS N FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'PACIENTESRIS'"),
          // Kept equal to data/schema.sql.
          QStringLiteral("CREATE TABLE PACIENTESRIS (IDRIS VARCHAR(64) NOT NULL, CODPACIENTE INTEGER NOT NULL,"
                         " EMISSOR VARCHAR(64), VINCULADOEM TIMESTAMP,"
                         " CONSTRAINT PK_PACIENTESRIS PRIMARY KEY (IDRIS))")},
         // A table made before the issuer and the moment were kept gains them; its links keep
         // a NULL moment, which sorts them first, as the oldest they are.
         {existeColuna("EMISSOR"), QStringLiteral("ALTER TABLE PACIENTESRIS ADD EMISSOR VARCHAR(64)")},
         {existeColuna("VINCULADOEM"), QStringLiteral("ALTER TABLE PACIENTESRIS ADD VINCULADOEM TIMESTAMP")}},
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

QList<VinculoRis> TDPacientesRis::Vinculos(int paciente) {
    FbQuery& q = DMPrincipal().openQuery(
        DMPrincipal().IBOperation,
        QStringLiteral("SELECT IdRis, Emissor, CAST(VinculadoEm AS DATE) AS Dia, CAST(VinculadoEm AS TIME) AS Hora "
                       "FROM PacientesRis WHERE CodPaciente = :Codigo ORDER BY VinculadoEm NULLS FIRST, IdRis"),
        {{"Codigo", paciente}});
    QList<VinculoRis> vinculos;
    for (; !q.eof(); q.next()) {
        VinculoRis v{q.asString(QStringLiteral("IDRIS")), q.asString(QStringLiteral("EMISSOR")), {}};
        if (!q.isNull(QStringLiteral("DIA")))
            v.vinculadoEm = QDateTime(q.asDate(QStringLiteral("DIA")), q.asTime(QStringLiteral("HORA")));
        vinculos << v;
    }
    q.close();
    return vinculos;
}

QString TDPacientesRis::IdDoPaciente(int paciente) { return Vinculos(paciente).value(0).idRis; }

PessoaCadastrada TDPacientesRis::Pessoa(int codigo) {
    FbQuery& q = DMPrincipal().openQuery(
        DMPrincipal().IBOperation,
        QStringLiteral("SELECT Codigo, Nome, DataNascimento, Sexo FROM Pacientes WHERE Codigo = :Codigo"),
        {{"Codigo", codigo}});
    const PessoaCadastrada p = q.isEmpty() ? PessoaCadastrada{} : lePessoa(q);
    q.close();
    return p;
}

QList<PessoaCadastrada> TDPacientesRis::PessoasDoPrimeiroNome(const QString& nome) {
    const QString primeiro = nome.simplified().section(QLatin1Char(' '), 0, 0);
    if (primeiro.isEmpty()) return {};
    // WIN_PTBR compares without regard to letter case and accents; the trailing blank keeps
    // "Maria" from taking "Mariana".
    FbQuery& q = DMPrincipal().openQuery(
        DMPrincipal().IBOperation,
        QStringLiteral("SELECT Codigo, Nome, DataNascimento, Sexo FROM Pacientes WHERE (TRIM(Nome) || ' ') "
                       "COLLATE WIN_PTBR STARTING WITH CAST(:Primeiro AS VARCHAR(51)) ORDER BY Codigo"),
        {{"Primeiro", primeiro + QLatin1Char(' ')}});
    QList<PessoaCadastrada> pessoas;
    for (; !q.eof(); q.next()) pessoas << lePessoa(q);
    q.close();
    return pessoas;
}

void TDPacientesRis::Vincula(int paciente, const QString& idRis, const QString& emissor, bool outroIdConfirmado) {
    const QString id = idRis.trimmed();
    if (id.isEmpty()) throw DatabaseError(QStringLiteral("O ID do paciente no RIS está vazio; nada foi ligado."));
    TDMPrincipal& dm = DMPrincipal();
    // Checked before anything is written: a refusal leaves the shared transaction untouched.
    const int dono = dm.selectInt(QStringLiteral("SELECT CodPaciente FROM PacientesRis WHERE IdRis = :Id"),
                                  {{"Id", id}}, QStringLiteral("CODPACIENTE"), Close::Yes);
    if (dono == paciente) return;  // linked already
    if (dono != 0 && Pessoa(dono).codigo != 0)
        throw DatabaseError(QStringLiteral("O ID %1 do RIS já está ligado a outro paciente (código %2). Desfaça "
                                           "aquela ligação no cadastro do paciente antes de ligar o ID a este.")
                                .arg(id)
                                .arg(dono));
    if (!outroIdConfirmado) {
        if (const QString outro = IdDoPaciente(paciente); !outro.isEmpty())
            throw DatabaseError(
                QStringLiteral("O paciente já está ligado ao ID %1 do RIS; o ID %2 não foi ligado.").arg(outro, id));
    }
    const QDateTime agora = Relogio().Agora();
    TDMPrincipal::Batch lote(dm);
    // What a patient deleted without its links left behind links nobody, and gives way. Another
    // station linking the ID meanwhile makes the insert fail on the key: nothing is moved.
    if (dono != 0)
        dm.execProcedure(QStringLiteral("DELETE FROM PacientesRis WHERE IdRis = :Id AND CodPaciente = :Dono"),
                         {{"Id", id}, {"Dono", dono}}, TDMPrincipal::Commit::No, Close::Yes);
    try {
        dm.execProcedure(QStringLiteral("INSERT INTO PacientesRis (IdRis, CodPaciente, Emissor, VinculadoEm) VALUES "
                                        "(:Id, :Codigo, :Emissor, CAST(:Dia AS DATE) + CAST(:Hora AS TIME))"),
                         {{"Id", id},
                          {"Codigo", paciente},
                          {"Emissor", emissor.trimmed().isEmpty() ? FbValue() : FbValue(emissor.trimmed())},
                          {"Dia", agora.date()},
                          {"Hora", agora.time()}},
                         TDMPrincipal::Commit::Yes, Close::Yes);
    } catch (const DatabaseError& e) {
        if (e.kind() == DatabaseError::Kind::Other &&
            dm.selectInt(QStringLiteral("SELECT COUNT(*) AS N FROM PacientesRis WHERE IdRis = :Id"), {{"Id", id}},
                         QStringLiteral("N"), Close::Yes) > 0)
            throw DatabaseError(
                QStringLiteral("O ID %1 do RIS acaba de ser ligado a um paciente por outra estação; nada foi ligado "
                               "aqui. Escolha o item da lista de trabalho de novo.")
                    .arg(id));
        throw;
    }
    lote.commit();
}

namespace {
QMap<int, OuvinteDesvinculo>& ouvintesDesvinculo() {
    static QMap<int, OuvinteDesvinculo> todos;
    return todos;
}
}  // namespace

int OuveDesvinculos(OuvinteDesvinculo ouvinte) {
    static int proximo = 0;
    ouvintesDesvinculo().insert(++proximo, std::move(ouvinte));
    return proximo;
}

void DeixaDeOuvirDesvinculos(int id) { ouvintesDesvinculo().remove(id); }

QStringList TDPacientesRis::Desvincula(int paciente, const QString& idRis) {
    DMPrincipal().execProcedure(QStringLiteral("DELETE FROM PacientesRis WHERE IdRis = :Id AND CodPaciente = :Codigo"),
                                {{"Id", idRis.trimmed()}, {"Codigo", paciente}}, TDMPrincipal::Commit::Yes, Close::Yes);
    QStringList avisos;
    for (const OuvinteDesvinculo& ouvinte : std::as_const(ouvintesDesvinculo())) {
        QString aviso;
        try {
            aviso = ouvinte(paciente, idRis.trimmed());
        } catch (const std::exception& e) {
            aviso = QString::fromUtf8(e.what());
        }
        if (!aviso.isEmpty()) avisos << aviso;
    }
    return avisos;
}

}  // namespace norvix
