#pragma once
// The data module: the program's only database connection, its only transaction and the
// named cursors that the windows and the access classes share.
//
// How an access operation is written (one short function per statement, on IBOperation):
//
//   // a stored procedure, committed at once (PCommitDataBase runs afterwards)
//   void TDPacientes::DeletePacientesByCodigo(int codigo) {
//       DMPrincipal().execProcedure("Execute Procedure DeletePacientesByCodigo :Codigo",
//                                   {{"Codigo", codigo}});
//   }
//   // a procedure that closes IBOperation and does not commit
//   DMPrincipal().execProcedure(sql, {{"Codigo", c}, {"Backup", b}},
//                               TDMPrincipal::Commit::No, TDMPrincipal::Close::Yes);
//   // a read of one column of the first row (0 / empty text when there is no row)
//   int TDPacientes::CountPacientes() {
//       return DMPrincipal().selectInt("SELECT COUNT(*) FROM Pacientes", {}, "COUNT");
//   }
//   QString nome = DMPrincipal().selectString(sql, {{"Codigo", c}}, "Nome",
//                                             TDMPrincipal::Close::Yes);
//   // several rows, or another cursor: open it, walk it, read what is needed
//   FbQuery& q = DMPrincipal().openQuery(DMPrincipal().IBOperation, sql, {{"CodigoExame", e}});
//   for (; !q.eof(); q.next()) codes.push_back(q.asInt("Codigo"));
//   q.close();
//
// Every helper follows the same steps: close the cursor, replace its statement, set the
// parameters by name, execute or open, read; then close and commit as asked. Errors of the
// server (a text longer than its column, ...) are raised as norvix::DatabaseError and nothing
// is committed. Two of them carry a message of the program's own: a record that another
// workstation is changing (Kind::LockConflict; the caller may try again) and a lost connection
// to a database server (Kind::ConnectionLost; the next operation attaches again by itself).
#include <QString>
#include <functional>

#include "records/AvisosBanco.h"
#include "records/FbDatabase.h"

namespace norvix {

class TDMPrincipal {
public:
    enum class Commit { No, Yes };
    enum class Close { No, Yes };

    // connector: nullptr for the real client library. The newest instance becomes the one
    // that DMPrincipal() returns until it is destroyed.
    explicit TDMPrincipal(FbConnector* connector = nullptr);
    // An active transaction is committed (its default action), then the connection closes.
    ~TDMPrincipal();
    TDMPrincipal(const TDMPrincipal&) = delete;
    TDMPrincipal& operator=(const TDMPrincipal&) = delete;

    // Connection and transaction.
    FbDatabase IBDatabase;
    FbTransaction IBTransaction;

    // Query cursors (statement replaceable at will).
    FbQuery IBOperation;         // scratch cursor of every access operation
    FbQuery IBQueryPacientes;    // "select * from PACIENTES"
    FbQuery IBQueryBuscaPac;     // "SELECT *  FROM PACIENTES"
    FbQuery IBQueryMedicos;      // "select CODIGO from MEDICOS"
    FbQuery IBQueryExames;       // "select * from EXAMES"
    FbQuery IBQueryExamesOrto;   // "select * from EXAMESORTO"
    FbQuery IBQueryLaudos;       // no statement
    FbQuery IBIdiomaOperation;   // "select * from LANG"

    // Table cursors (whole table in key order, optional filter).
    FbTable IBPacientes;
    FbTable IBMedicos;
    FbTable IBExames;
    FbTable IBLaudos;
    FbTable IBLaudosTexto;
    FbTable IBIdioma;
    FbTable IBIdiomaDefault;

    // What the database announces was stored, changed or deleted (by any workstation); the
    // windows that show lists listen to it.
    TAvisosBanco Avisos;

    // Disconnects, sets the name, logs in as sysdba with the first password and then the
    // fallback one, tests the connection with an information request and starts the
    // transaction. True when connected. When both passwords are refused, why (if given) gets
    // "Usuário/Senha de BD incorreto!" for the caller to show; any other failure leaves it empty.
    // Shows nothing itself.
    bool PSetDataBaseName(const QString& name, QString* why = nullptr);
    // Starts attaching the database with the first password on a worker thread (see
    // FbDatabase::openAhead); a later PSetDataBaseName with the same name takes that work
    // instead of repeating it. Nothing happens when connected. Never raises, never shows.
    void PAttachAhead(const QString& name);
    // Connects with the name and password last set, then starts the transaction. Throws
    // DatabaseError.
    void PConnectDataBase();
    // Rolls the transaction back, then disconnects. Harmless when disconnected.
    void PDesconectionDataBase();
    // Commits (every cursor closes), then reopens IBMedicos, IBPacientes, IBExames, IBLaudos,
    // IBLaudosTexto and IBQueryPacientes; opening the first starts a new transaction.
    void PCommitDataBase();

    bool connected() const { return IBDatabase.connected(); }

    // Writes that must stand or fall together (an exam with its reports and the patient's
    // counters): while a batch lives, the commits that operations ask for are held back;
    // commit() commits them all at once, and leaving the scope without it rolls them back.
    class Batch {
    public:
        explicit Batch(TDMPrincipal& dm);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;
        // Commits when this is the outermost batch (an inner one leaves it to the outer).
        // When the commit itself fails the batch stays uncommitted and rolls back at its end.
        void commit();
        bool committed() const { return done_; }

    private:
        TDMPrincipal& dm_;
        bool done_ = false;
    };

    // Runs work in one Batch and commits it. When a row it needs is held by another
    // workstation (DatabaseError::Kind::LockConflict), the batch rolls back, undo runs and the
    // work is tried again after a short pause, up to `attempts` times in all; any other error,
    // or the last conflict, rolls back, runs undo and is raised again. A failure after the
    // commit (reopening the cursors) is left to the next operation on them.
    void runBatch(const std::function<void()>& work, const std::function<void()>& undo = {},
                  int attempts = 20);

    // ---- the operation pattern ----------------------------------------------------------
    // Runs a statement without result (an "Execute Procedure ..." or DML) on `cursor`
    // (IBOperation by default); then closes it when asked and commits when asked.
    void execProcedure(const QString& sql, const FbParams& params = {},
                       Commit commit = Commit::Yes, Close close = Close::No);
    void execProcedure(FbQuery& cursor, const QString& sql, const FbParams& params,
                       Commit commit, Close close);
    // Closes `cursor`, replaces its statement, sets the parameters and opens it on its
    // first row. Returns the cursor.
    FbQuery& openQuery(FbQuery& cursor, const QString& sql, const FbParams& params = {});
    // Opens the statement on IBOperation and reads `column` of the first row; 0, 0.0 or the
    // empty text when there is no row or the value is NULL. With Close::Yes the cursor is
    // closed before returning; otherwise it stays open on its first row.
    int selectInt(const QString& sql, const FbParams& params, const QString& column,
                  Close close = Close::No);
    double selectDouble(const QString& sql, const FbParams& params, const QString& column,
                        Close close = Close::No);
    QString selectString(const QString& sql, const FbParams& params, const QString& column,
                         Close close = Close::No);
    QByteArray selectBytes(const QString& sql, const FbParams& params, const QString& column,
                           Close close = Close::No);

    // Cursor by its name ("IBOperation", "IBQueryPacientes", ...); nullptr when unknown.
    FbDataSet* cursor(const QString& name);

    // The passwords tried by PSetDataBaseName, in order.
    static const char* const kPassword;
    static const char* const kFallbackPassword;
    // What the operator is told when both are refused.
    static const QString kLoginRefused;

private:
    void setLogin(const QString& password);
    void reopenTables();
    int batchDepth_ = 0;
};

// The process-wide data module (created by the program entry before the main window).
// Raises norvix::Error when none exists.
TDMPrincipal& DMPrincipal();
bool hasDMPrincipal();

}  // namespace norvix
