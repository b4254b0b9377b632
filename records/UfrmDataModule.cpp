#include "records/UfrmDataModule.h"

#include "records/UDLagrima.h"
#include "records/UDPacientesRis.h"
#include "records/UDPedidosRis.h"
#include "records/UDVisitasDicom.h"

#include <QThread>
#include <vector>


namespace norvix {

namespace {
// The live instances, newest last: DMPrincipal() is the newest one.
std::vector<TDMPrincipal*>& instances() {
    static std::vector<TDMPrincipal*> list;
    return list;
}
}  // namespace

const char* const TDMPrincipal::kPassword = "rqmz71";
const char* const TDMPrincipal::kFallbackPassword = "plumbstar";

TDMPrincipal::TDMPrincipal(FbConnector* connector)
    : IBDatabase(connector),
      IBTransaction(IBDatabase),
      IBOperation(IBTransaction, QStringLiteral("IBOperation")),
      IBQueryPacientes(IBTransaction, QStringLiteral("IBQueryPacientes"),
                       QStringLiteral("select * from PACIENTES")),
      IBQueryBuscaPac(IBTransaction, QStringLiteral("IBQueryBuscaPac"),
                      QStringLiteral("SELECT *  FROM PACIENTES")),
      IBQueryMedicos(IBTransaction, QStringLiteral("IBQueryMedicos"),
                     QStringLiteral("select CODIGO from MEDICOS")),
      IBQueryExames(IBTransaction, QStringLiteral("IBQueryExames"),
                    QStringLiteral("select * from EXAMES")),
      IBQueryExamesOrto(IBTransaction, QStringLiteral("IBQueryExamesOrto"),
                        QStringLiteral("select * from EXAMESORTO")),
      IBQueryLaudos(IBTransaction, QStringLiteral("IBQueryLaudos")),
      IBIdiomaOperation(IBTransaction, QStringLiteral("IBIdiomaOperation"),
                        QStringLiteral("select * from LANG")),
      IBPacientes(IBTransaction, QStringLiteral("IBPacientes"), QStringLiteral("PACIENTES"),
                  QStringLiteral("CODIGO")),
      IBMedicos(IBTransaction, QStringLiteral("IBMedicos"), QStringLiteral("MEDICOS"),
                QStringLiteral("CODIGO")),
      IBExames(IBTransaction, QStringLiteral("IBExames"), QStringLiteral("EXAMES"),
               QStringLiteral("CODIGO")),
      IBLaudos(IBTransaction, QStringLiteral("IBLaudos"), QStringLiteral("LAUDOS"),
               QStringLiteral("CODIGO")),
      IBLaudosTexto(IBTransaction, QStringLiteral("IBLaudosTexto"), QStringLiteral("LAUDOSTEXTO"),
                    QStringLiteral("CODIGO")),
      IBIdioma(IBTransaction, QStringLiteral("IBIdioma"), QStringLiteral("IDIOMA"),
               QStringLiteral("CODIGO")),
      IBIdiomaDefault(IBTransaction, QStringLiteral("IBIdiomaDefault"),
                      QStringLiteral("IDIOMA_DEFAULT")) {
    instances().push_back(this);
    Avisos.escuta(&IBDatabase);
}

TDMPrincipal::~TDMPrincipal() {
    auto& list = instances();
    std::erase(list, this);
    // The transaction's default action is commit: writes not yet committed (the backup marks)
    // become durable when the program ends.
    try {
        IBTransaction.commit();
    } catch (...) {
    }
    try {
        IBDatabase.close();
    } catch (...) {
        IBDatabase.forceClose();
    }
}

void TDMPrincipal::setLogin(const QString& password) {
    IBDatabase.params().clear();
    IBDatabase.params() << QStringLiteral("user_name=sysdba")
                        << QStringLiteral("password=") + password;
}

const QString TDMPrincipal::kLoginRefused = QStringLiteral("Usuário/Senha de BD incorreto!");

bool TDMPrincipal::PSetDataBaseName(const QString& name, QString* why) {
    if (why) why->clear();
    try {
        PDesconectionDataBase();
        IBDatabase.setDatabaseName(name);
        bool opened = false;
        for (const char* password : {kPassword, kFallbackPassword}) {
            setLogin(QString::fromLatin1(password));
            try {
                IBDatabase.open();
                opened = true;
                break;
            } catch (const DatabaseError&) {
            }
        }
        // Whatever the cause (password, server, file), the operator is told one thing.
        if (!opened && why) *why = kLoginRefused;
        const bool ok = IBDatabase.connected() && IBDatabase.testConnected();
        if (IBDatabase.connected() && !ok) IBDatabase.forceClose();
        if (ok) PConnectDataBase();
        return ok;
    } catch (...) {
        IBDatabase.forceClose();
        return false;
    }
}

void TDMPrincipal::PAttachAhead(const QString& name) {
    if (IBDatabase.connected()) return;
    IBDatabase.setDatabaseName(name);
    setLogin(QString::fromLatin1(kPassword));
    try {
        IBDatabase.openAhead();
    } catch (...) {
        // No thread to be had: PSetDataBaseName attaches the ordinary way.
    }
}

void TDMPrincipal::PConnectDataBase() {
    IBDatabase.open();
    // Before the data module's transaction starts, so that it sees the tables as they end up;
    // a database that cannot take them opens all the same (the notices say why).
    DefineAvisoTabelaLagrima(GaranteTabelaLagrima(IBDatabase));
    DefineAvisoTabelaRis(GaranteTabelaRis(IBDatabase));
    AvisoEsquema(QStringLiteral("AVISOS")) =
        GaranteObjetos(IBDatabase, TAvisosBanco::objetos(),
                       QStringLiteral("O banco de dados não pôde ser preparado para avisar as outras estações de "
                                      "trabalho das alterações: %1\nAs listas abertas só mostram o que outra estação "
                                      "gravou quando forem recarregadas."));
    DefineAvisoTabelaPedidosRis(GaranteTabelaPedidosRis(IBDatabase));
    DefineAvisoTabelaVisitasDicom(GaranteTabelaVisitasDicom(IBDatabase));
    IBTransaction.startTransaction();
}

void TDMPrincipal::PDesconectionDataBase() {
    // A rollback or detach that fails (the server went away) must not keep the module
    // connected: the server discards uncommitted work of a lost attachment anyway.
    try {
        IBTransaction.rollback();
    } catch (const DatabaseError&) {
    }
    try {
        IBDatabase.close();
    } catch (const DatabaseError&) {
        IBDatabase.forceClose();
    }
}

void TDMPrincipal::PCommitDataBase() {
    if (batchDepth_ > 0) return;  // the batch commits at its end
    IBTransaction.commit();
    reopenTables();
}

void TDMPrincipal::reopenTables() {
    for (FbDataSet* d : {static_cast<FbDataSet*>(&IBMedicos), static_cast<FbDataSet*>(&IBPacientes),
                         static_cast<FbDataSet*>(&IBExames), static_cast<FbDataSet*>(&IBLaudos),
                         static_cast<FbDataSet*>(&IBLaudosTexto),
                         static_cast<FbDataSet*>(&IBQueryPacientes)})
        d->open();
}

TDMPrincipal::Batch::Batch(TDMPrincipal& dm) : dm_(dm) { ++dm_.batchDepth_; }

TDMPrincipal::Batch::~Batch() {
    if (done_) return;
    --dm_.batchDepth_;
    if (dm_.batchDepth_ > 0) return;
    try {
        dm_.IBTransaction.rollback();
        dm_.reopenTables();
    } catch (const DatabaseError&) {
        // Leaving because of an error already: the server discards what was not committed.
    }
}

void TDMPrincipal::Batch::commit() {
    // A commit that fails leaves the transaction active: the batch stays open, so that leaving
    // its scope rolls the writes back instead of a later commit making them durable.
    if (dm_.batchDepth_ == 1) dm_.IBTransaction.commit();
    done_ = true;
    if (--dm_.batchDepth_ == 0) dm_.reopenTables();
}

void TDMPrincipal::runBatch(const std::function<void()>& work, const std::function<void()>& undo, int attempts) {
    for (int attempt = 1;; ++attempt) {
        {
            Batch batch(*this);  // rolls back when left without its commit
            try {
                work();
                batch.commit();
                return;
            } catch (const DatabaseError& e) {
                if (batch.committed()) return;
                if (undo) undo();
                if (e.kind() != DatabaseError::Kind::LockConflict || attempt >= attempts) throw;
            } catch (...) {
                if (batch.committed()) return;
                if (undo) undo();
                throw;
            }
        }
        // Another workstation's save holds the row for well under a second.
        QThread::msleep(250);
    }
}

void TDMPrincipal::execProcedure(const QString& sql, const FbParams& params, Commit commit,
                                 Close close) {
    execProcedure(IBOperation, sql, params, commit, close);
}

void TDMPrincipal::execProcedure(FbQuery& cursor, const QString& sql, const FbParams& params,
                                 Commit commit, Close close) {
    cursor.close();
    cursor.setSql(sql);
    cursor.setParams(params);
    cursor.execSql();
    if (close == Close::Yes) cursor.close();
    if (commit == Commit::Yes) PCommitDataBase();
}

FbQuery& TDMPrincipal::openQuery(FbQuery& cursor, const QString& sql, const FbParams& params) {
    cursor.close();
    cursor.setSql(sql);
    cursor.setParams(params);
    cursor.open();
    return cursor;
}

namespace {
// Whether the result has a first row to read; an empty one reads as 0 or the empty text, but a
// column the statement does not give is still an error.
bool firstRow(const FbQuery& q, const QString& column) {
    if (q.recNo() >= 0) return true;
    if (!q.hasField(column))
        throw DatabaseError(QStringLiteral("Coluna %1 não encontrada em %2.").arg(column, q.name()));
    return false;
}
}  // namespace

int TDMPrincipal::selectInt(const QString& sql, const FbParams& params, const QString& column,
                            Close close) {
    FbQuery& q = openQuery(IBOperation, sql, params);
    const int v = !firstRow(q, column) ? 0 : q.asInt(column);
    if (close == Close::Yes) IBOperation.close();
    return v;
}

double TDMPrincipal::selectDouble(const QString& sql, const FbParams& params,
                                  const QString& column, Close close) {
    FbQuery& q = openQuery(IBOperation, sql, params);
    const double v = !firstRow(q, column) ? 0.0 : q.asDouble(column);
    if (close == Close::Yes) IBOperation.close();
    return v;
}

QString TDMPrincipal::selectString(const QString& sql, const FbParams& params,
                                   const QString& column, Close close) {
    FbQuery& q = openQuery(IBOperation, sql, params);
    const QString v = !firstRow(q, column) ? QString() : q.asString(column);
    if (close == Close::Yes) IBOperation.close();
    return v;
}

QByteArray TDMPrincipal::selectBytes(const QString& sql, const FbParams& params,
                                     const QString& column, Close close) {
    FbQuery& q = openQuery(IBOperation, sql, params);
    const QByteArray v = !firstRow(q, column) ? QByteArray() : q.asBytes(column);
    if (close == Close::Yes) IBOperation.close();
    return v;
}

FbDataSet* TDMPrincipal::cursor(const QString& name) {
    FbDataSet* all[] = {&IBOperation, &IBQueryPacientes, &IBQueryBuscaPac, &IBQueryMedicos,
                        &IBQueryExames, &IBQueryExamesOrto, &IBQueryLaudos, &IBIdiomaOperation,
                        &IBPacientes, &IBMedicos, &IBExames, &IBLaudos, &IBLaudosTexto,
                        &IBIdioma, &IBIdiomaDefault};
    for (FbDataSet* d : all)
        if (d->name().compare(name, Qt::CaseInsensitive) == 0) return d;
    return nullptr;
}

TDMPrincipal& DMPrincipal() {
    if (instances().empty()) throw Error(QStringLiteral("O módulo de dados não foi criado."));
    return *instances().back();
}

bool hasDMPrincipal() { return !instances().empty(); }

}  // namespace norvix
