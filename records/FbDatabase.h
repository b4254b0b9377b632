#pragma once
// The thin layer between the records store and the Firebird client library (object API of
// libfbclient). It offers what the data module and the access classes need and nothing more:
// one attachment, one transaction with fixed parameters, statements with `:Name` parameters
// bound by name, and buffered cursors read by column name. Texts travel as Windows-1252
// (the attachment's lc_ctype); the API speaks QString.
//
// Qt's own InterBase driver is not used because it cannot set the transaction parameters
// (read_committed, rec_version, nowait) that the program relies on.
//
// The pieces: FbValue.h (values, parameters, DatabaseError), FbCursor.h (cursors), this file
// (attachment and transaction). Callers include this file only.
#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTime>
#include <QVariant>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "records/FbCursor.h"
#include "records/FbValue.h"

namespace Firebird {
class IAttachment;
class ITransaction;
}  // namespace Firebird

namespace norvix {

// ---------------------------------------------------------------------------------------------
// Connection.

// Opens attachments. The data module receives one; tests inject a fake that refuses passwords.
class FbConnector {
public:
    virtual ~FbConnector() = default;
    // Attaches with the two connection lines "user_name=<user>" and "password=<password>",
    // dialect 3 and lc_ctype WIN1252. A name "host:/path" goes through that host's server, a
    // plain path through the embedded engine. Throws DatabaseError (server's message).
    // The caller owns the returned attachment (release or detach it).
    virtual Firebird::IAttachment* attach(const QString& name, const QString& user,
                                          const QString& password) = 0;
};

// The real connector over libfbclient.
class FbClientConnector : public FbConnector {
public:
    Firebird::IAttachment* attach(const QString& name, const QString& user,
                                  const QString& password) override;
};
// A process-wide instance of the real connector.
FbConnector& defaultConnector();

class FbTransaction;
class FbDataSet;
class FbDatabase;

// Told on the caller's thread when the attachment comes (open, also the attach again after a
// lost connection) and just before it goes (close, forceClose): what is queued on an
// attachment, such as event interests, must go with it.
class FbAttachmentWatcher {
public:
    virtual ~FbAttachmentWatcher() = default;
    virtual void attached(FbDatabase& database) = 0;
    virtual void detaching(FbDatabase& database) = 0;
};

// The connection (one attachment). Closing it while a transaction is active ends that
// transaction with its default action (commit).
class FbDatabase {
public:
    explicit FbDatabase(FbConnector* connector = nullptr);  // nullptr: defaultConnector()
    ~FbDatabase();                                            // close()
    FbDatabase(const FbDatabase&) = delete;
    FbDatabase& operator=(const FbDatabase&) = delete;

    void setConnector(FbConnector* connector);  // nullptr: defaultConnector()
    void setDatabaseName(const QString& name);
    QString databaseName() const { return name_; }
    // The connection parameters, one "key=value" per line ("user_name=sysdba",
    // "password=..."), as the data module writes them.
    QStringList& params() { return params_; }
    const QStringList& params() const { return params_; }

    // Attaches with the current name and parameters; throws DatabaseError. Does nothing when
    // already connected. Takes the result of openAhead() when that was started with the same
    // name and parameters.
    void open();
    // Starts the attach of open() on a worker thread, so that the engine's slow first attach
    // (loading the engine, its character sets and lock tables) overlaps the caller's other
    // work. The next open() with the same name and parameters waits for it and takes its
    // attachment, or raises its error; an open() with anything else, or the end of this
    // object, waits for it and detaches what it attached. Nothing happens when connected or
    // already started. The connector must allow a call from another thread (the real one does).
    // Raises std::system_error when no thread can be started.
    void openAhead();
    bool connected() const { return attachment_ != nullptr; }
    // Ends active transactions with their default action, then detaches. Errors are thrown
    // after the attachment has been dropped, so the object is always disconnected afterwards.
    void close();
    // Drops the attachment without ending transactions or reporting errors.
    void forceClose();

    // A connection that broke (the server stopped, the network failed) is remembered by the
    // call that noticed it. The next operation (every statement passes FbDataSet::prepare, and
    // FbTransaction::startTransaction) calls recover(): it drops what belonged to the dead
    // attachment and attaches again with the same name and login, so a clinic's workstation
    // goes on by itself once the server is back; until then each operation raises
    // DatabaseError::connectionLost(). close() and forceClose() end this: a module that was
    // disconnected on purpose stays disconnected.
    void markLost() { lost_ = true; }
    void recover();

    // The database-information request: page size of the database. Throws DatabaseError.
    int requestInfo();
    // True when attached and the information request succeeds.
    bool testConnected();

    // Watchers are not owned; one removes itself before it ends.
    void addWatcher(FbAttachmentWatcher* watcher);
    void removeWatcher(FbAttachmentWatcher* watcher);

    Firebird::IAttachment* attachment() const { return attachment_; }
    // The attachment or a DatabaseError "Banco de dados não conectado".
    Firebird::IAttachment* requireAttachment() const;

private:
    friend class FbTransaction;
    struct Ahead;
    struct Login {
        QString user;
        QString password;
    };
    Login login() const;
    std::unique_ptr<Ahead> takeAhead();
    void notifyAttached();
    void notifyDetaching();
    std::vector<FbAttachmentWatcher*> watchers_;
    FbConnector* connector_;
    QString name_;
    QStringList params_;
    Firebird::IAttachment* attachment_ = nullptr;
    std::unique_ptr<Ahead> ahead_;
    std::vector<FbTransaction*> transactions_;
    bool lost_ = false;
};

// The transaction: parameters read_committed, rec_version, nowait (and write). Cursors that
// use it are closed when it ends.
class FbTransaction {
public:
    explicit FbTransaction(FbDatabase& database);
    ~FbTransaction();  // ends an active transaction with commit (the default action)
    FbTransaction(const FbTransaction&) = delete;
    FbTransaction& operator=(const FbTransaction&) = delete;

    FbDatabase& database() const { return database_; }
    void startTransaction();  // throws DatabaseError; an active transaction stays as it is
    bool inTransaction() const { return handle_ != nullptr; }
    void commit();            // closes the cursors, then commits; nothing when not active
    void rollback();          // closes the cursors, then rolls back; nothing when not active
    // The active transaction, started first when there is none.
    Firebird::ITransaction* handle();

private:
    friend class FbDataSet;
    friend class FbDatabase;
    void closeDataSets();
    void drop();  // forgets the handle without ending it (after a forced close)
    FbDatabase& database_;
    Firebird::ITransaction* handle_ = nullptr;
    std::vector<FbDataSet*> dataSets_;
};

}  // namespace norvix
