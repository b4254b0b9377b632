// The attachment (connector, login, attach ahead, information request) and the transaction.
#include "records/FbDatabase.h"

#include <QFile>
#include <algorithm>
#include <exception>
#include <thread>
#include <utility>

#include "records/FbInternal.h"

using namespace Firebird;

namespace norvix {

using namespace fb;

IAttachment* FbClientConnector::attach(const QString& name, const QString& user,
                                       const QString& password) {
    return guarded([&](ThrowStatusWrapper* st) {
        XpbGuard dpb{util()->getXpbBuilder(st, IXpbBuilder::DPB, nullptr, 0)};
        dpb.builder->insertString(st, isc_dpb_user_name, toCp1252(user).constData());
        dpb.builder->insertString(st, isc_dpb_password, toCp1252(password).constData());
        dpb.builder->insertString(st, isc_dpb_lc_ctype, "WIN1252");
        dpb.builder->insertInt(st, isc_dpb_sql_dialect, int(kDialect));
        IProvider* provider = master()->getDispatcher();
        struct ProviderGuard {
            IProvider* p;
            ~ProviderGuard() { p->release(); }
        } guard{provider};
        // The name goes unchanged: "host:/path" reaches a server, a plain path the embedded
        // engine.
        const QByteArray file = QFile::encodeName(name);
        return provider->attachDatabase(st, file.constData(), dpb.builder->getBufferLength(st),
                                        dpb.builder->getBuffer(st));
    });
}

FbConnector& defaultConnector() {
    static FbClientConnector connector;
    return connector;
}

// ---------------------------------------------------------------------------------------------

// An attach running on a worker thread; the owner joins it before reading the results.
struct FbDatabase::Ahead {
    QString name;
    Login login;
    IAttachment* attachment = nullptr;
    std::exception_ptr error;
    std::thread worker;

    // Joins and detaches an attachment nobody took.
    ~Ahead() {
        if (worker.joinable()) worker.join();
        if (attachment && !quietly([&](ThrowStatusWrapper* st) { attachment->detach(st); }))
            attachment->release();
    }
};

FbDatabase::FbDatabase(FbConnector* connector)
    : connector_(connector ? connector : &defaultConnector()) {}

FbDatabase::~FbDatabase() {
    try {
        close();
    } catch (...) {
        forceClose();
    }
    ahead_.reset();
}

void FbDatabase::setConnector(FbConnector* connector) {
    connector_ = connector ? connector : &defaultConnector();
}

void FbDatabase::setDatabaseName(const QString& name) { name_ = name; }

FbDatabase::Login FbDatabase::login() const {
    Login result;
    for (const QString& line : params_) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) continue;
        const QString key = line.left(eq).trimmed().toLower();
        if (key == QLatin1String("user_name")) result.user = line.mid(eq + 1);
        else if (key == QLatin1String("password")) result.password = line.mid(eq + 1);
    }
    return result;
}

std::unique_ptr<FbDatabase::Ahead> FbDatabase::takeAhead() {
    std::unique_ptr<Ahead> ahead = std::move(ahead_);
    if (ahead && ahead->worker.joinable()) ahead->worker.join();
    return ahead;
}

void FbDatabase::open() {
    if (attachment_) return;
    const Login current = login();
    if (std::unique_ptr<Ahead> ahead = takeAhead();
        ahead && ahead->name == name_ && ahead->login.user == current.user &&
        ahead->login.password == current.password) {
        if (ahead->error) std::rethrow_exception(ahead->error);
        attachment_ = std::exchange(ahead->attachment, nullptr);
        notifyAttached();
        return;
    }  // an attach ahead for anything else is detached here
    attachment_ = connector_->attach(name_, current.user, current.password);
    notifyAttached();
}

void FbDatabase::addWatcher(FbAttachmentWatcher* watcher) {
    if (std::find(watchers_.begin(), watchers_.end(), watcher) == watchers_.end()) watchers_.push_back(watcher);
    if (attachment_) watcher->attached(*this);
}

void FbDatabase::removeWatcher(FbAttachmentWatcher* watcher) {
    if (std::find(watchers_.begin(), watchers_.end(), watcher) == watchers_.end()) return;
    if (attachment_) watcher->detaching(*this);
    std::erase(watchers_, watcher);
}

void FbDatabase::notifyAttached() {
    for (FbAttachmentWatcher* w : std::vector(watchers_)) w->attached(*this);
}

void FbDatabase::notifyDetaching() {
    for (FbAttachmentWatcher* w : std::vector(watchers_)) w->detaching(*this);
}

void FbDatabase::openAhead() {
    if (attachment_ || ahead_) return;
    auto ahead = std::make_unique<Ahead>();
    ahead->name = name_;
    ahead->login = login();
    ahead->worker = std::thread([a = ahead.get(), connector = connector_] {
        try {
            a->attachment = connector->attach(a->name, a->login.user, a->login.password);
        } catch (...) {
            a->error = std::current_exception();
        }
    });  // a thread that cannot start raises std::system_error and nothing is kept
    ahead_ = std::move(ahead);
}

void FbDatabase::close() {
    lost_ = false;
    if (!attachment_) return;
    QString failure;
    for (FbTransaction* t : transactions_) {
        try {
            t->commit();  // the transaction's default action
        } catch (const DatabaseError& e) {
            failure = e.message();
            t->drop();
        }
        for (FbDataSet* d : t->dataSets_) d->unprepare();
    }
    notifyDetaching();
    IAttachment* attachment = attachment_;
    attachment_ = nullptr;
    try {
        guarded([&](ThrowStatusWrapper* st) { attachment->detach(st); });
    } catch (const DatabaseError& e) {
        attachment->release();
        if (failure.isEmpty()) failure = e.message();
    }
    if (!failure.isEmpty()) throw DatabaseError(failure);
}

void FbDatabase::forceClose() {
    lost_ = false;
    for (FbTransaction* t : transactions_) {
        t->closeDataSets();
        t->drop();
        for (FbDataSet* d : t->dataSets_) d->unprepare();
    }
    if (!attachment_) return;
    notifyDetaching();
    IAttachment* attachment = attachment_;
    attachment_ = nullptr;
    if (!quietly([&](ThrowStatusWrapper* st) { attachment->detach(st); })) attachment->release();
}

void FbDatabase::recover() {
    if (!lost_) return;
    // Statements, cursors and transactions of the dead attachment cannot be ended on the
    // server; the server has rolled the transaction back already.
    forceClose();
    try {
        open();
    } catch (const DatabaseError&) {
        lost_ = true;  // still away: the next operation tries again
        throw DatabaseError::connectionLost();
    }
}

IAttachment* FbDatabase::requireAttachment() const {
    if (!attachment_) throw DatabaseError(QStringLiteral("Banco de dados não conectado."));
    return attachment_;
}

int FbDatabase::requestInfo() {
    IAttachment* attachment = requireAttachment();
    const unsigned char items[] = {isc_info_page_size, isc_info_end};
    unsigned char buffer[64] = {};
    guardedOn(*this, [&](ThrowStatusWrapper* st) {
        attachment->getInfo(st, sizeof items, items, sizeof buffer, buffer);
    });
    if (buffer[0] != isc_info_page_size)
        throw DatabaseError(QStringLiteral("O servidor não respondeu ao pedido de informações."));
    const int length = int(readInteger(buffer + 1, 2));
    if (length <= 0 || length > 8)
        throw DatabaseError(QStringLiteral("O servidor não respondeu ao pedido de informações."));
    return int(readInteger(buffer + 3, length));
}

bool FbDatabase::testConnected() {
    if (!attachment_) return false;
    try {
        return requestInfo() > 0;
    } catch (const DatabaseError&) {
        return false;
    }
}

// ---------------------------------------------------------------------------------------------

FbTransaction::FbTransaction(FbDatabase& database) : database_(database) {
    database_.transactions_.push_back(this);
}

FbTransaction::~FbTransaction() {
    try {
        commit();
    } catch (...) {
        drop();
    }
    auto& list = database_.transactions_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void FbTransaction::startTransaction() {
    database_.recover();
    if (handle_) return;
    IAttachment* attachment = database_.requireAttachment();
    handle_ = guardedOn(database_, [&](ThrowStatusWrapper* st) {
        XpbGuard tpb{util()->getXpbBuilder(st, IXpbBuilder::TPB, nullptr, 0)};
        tpb.builder->insertTag(st, isc_tpb_read_committed);
        tpb.builder->insertTag(st, isc_tpb_rec_version);
        tpb.builder->insertTag(st, isc_tpb_nowait);
        tpb.builder->insertTag(st, isc_tpb_write);
        return attachment->startTransaction(st, tpb.builder->getBufferLength(st),
                                            tpb.builder->getBuffer(st));
    });
}

ITransaction* FbTransaction::handle() {
    if (!handle_) startTransaction();
    return handle_;
}

void FbTransaction::closeDataSets() {
    for (FbDataSet* d : dataSets_) d->close();
}

void FbTransaction::commit() {
    if (!handle_) return;
    closeDataSets();
    // commit() releases the handle when it succeeds; on failure the transaction stays active.
    guardedOn(database_, [&](ThrowStatusWrapper* st) { handle_->commit(st); });
    handle_ = nullptr;
}

void FbTransaction::rollback() {
    if (!handle_) return;
    closeDataSets();
    ITransaction* handle = handle_;
    handle_ = nullptr;
    try {
        guardedOn(database_, [&](ThrowStatusWrapper* st) { handle->rollback(st); });
    } catch (const DatabaseError&) {
        // The server discards what was not committed when it cannot roll back now.
        handle->release();
        throw;
    }
}

void FbTransaction::drop() {
    if (!handle_) return;
    ITransaction* handle = handle_;
    handle_ = nullptr;
    if (!quietly([&](ThrowStatusWrapper* st) { handle->rollback(st); })) handle->release();
}

}  // namespace norvix
