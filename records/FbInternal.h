#pragma once
// Shared by the pieces of the Firebird layer (FbDatabase, FbStatement, FbCursor, FbBlob.cpp):
// the client library's entry points, turning its failures into DatabaseError, and the small
// helpers more than one piece needs. Not for use outside records/.
#include <firebird/Interface.h>
#include <iberror.h>

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <utility>

#include "platform/Cp1252.h"
#include "records/FbDatabase.h"

namespace norvix::fb {

constexpr unsigned kDialect = 3;
constexpr unsigned kCharsetWin1252 = 53;  // Firebird's id of WIN1252
constexpr unsigned kBlobChunk = 32768;
constexpr qsizetype kMaxVarchar = 32765;  // Firebird's widest VARCHAR, in bytes

inline Firebird::IMaster* master() {
    static Firebird::IMaster* instance = Firebird::fb_get_master_interface();
    return instance;
}

inline Firebird::IUtil* util() { return master()->getUtilInterface(); }

// Server messages are plain ASCII but may quote a file name (UTF-8 on this system) or a
// value of the connection (Windows-1252): take UTF-8 when it decodes cleanly.
inline QString decodeMessage(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError()) return text;
    return fromCp1252(bytes);
}

inline QString statusText(Firebird::IStatus* status) {
    char buffer[4096];
    util()->formatStatus(buffer, sizeof buffer, status);
    QString text = decodeMessage(QByteArray(buffer)).trimmed();
    return text.isEmpty() ? QStringLiteral("Erro do banco de dados") : text;
}

// A status for one call. Every fetched row makes a call, so the outermost call of the thread
// reuses one status object (cleared each time) instead of allocating a new one.
struct Status {
    static Firebird::IStatus* shared() {
        thread_local Firebird::IStatus* status = master()->getStatus();
        return status;
    }
    static int& depth() {
        thread_local int d = 0;
        return d;
    }
    bool own = depth()++ > 0;
    Firebird::ThrowStatusWrapper wrapper{own ? master()->getStatus() : shared()};
    Status() { wrapper.init(); }
    ~Status() {
        --depth();
        if (own) wrapper.dispose();
    }
    Firebird::ThrowStatusWrapper* operator&() { return &wrapper; }
};

// The error for a failed call: a lock held by another transaction (with nowait the server
// refuses at once) and a broken connection get their own kind; anything else keeps the
// server's text.
inline DatabaseError databaseError(Firebird::IStatus* status) {
    for (const ISC_STATUS* v = status->getErrors(); *v != isc_arg_end;
         v += *v == isc_arg_cstring ? 3 : 2) {
        if (*v != isc_arg_gds) continue;
        switch (v[1]) {
        case isc_lock_conflict:
        case isc_update_conflict:
        case isc_deadlock: return DatabaseError::lockConflict();
        case isc_network_error:
        case isc_net_read_err:
        case isc_net_write_err:
        case isc_lost_db_connection:
        case isc_conn_lost:
        case isc_att_shutdown:
        case isc_shutdown: return DatabaseError::connectionLost();
        default: break;
        }
    }
    return DatabaseError(statusText(status));
}

// Runs f with a throwing status and turns a Firebird failure into a DatabaseError.
template <class F>
decltype(auto) guarded(F&& f) {
    Status status;
    try {
        return f(&status);
    } catch (const Firebird::FbException& e) {
        throw databaseError(e.getStatus());
    }
}

// guarded() for a call on the attachment of `database`: a broken connection is remembered
// there, so that the next operation attaches again.
template <class F>
decltype(auto) guardedOn(FbDatabase& database, F&& f) {
    try {
        return guarded(std::forward<F>(f));
    } catch (const DatabaseError& e) {
        if (e.kind() == DatabaseError::Kind::ConnectionLost) database.markLost();
        throw;
    }
}

// Runs f and ignores a failure: for releasing what is being thrown away anyway.
template <class F>
bool quietly(F&& f) {
    try {
        guarded(std::forward<F>(f));
        return true;
    } catch (const DatabaseError&) {
        return false;
    }
}

struct XpbGuard {
    Firebird::IXpbBuilder* builder;
    ~XpbGuard() {
        if (builder) builder->dispose();
    }
};

// A little-endian integer of an information reply.
inline qint64 readInteger(const unsigned char* p, int length) {
    qint64 value = 0;
    for (int i = length - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

// Blobs (FbBlob.cpp): the whole content of a stored blob, and a new blob holding `bytes`
// (an empty value is an empty blob, not NULL).
QByteArray readBlob(Firebird::ThrowStatusWrapper* st, Firebird::IAttachment* attachment,
                    Firebird::ITransaction* transaction, const ISC_QUAD& id);
ISC_QUAD writeBlob(Firebird::ThrowStatusWrapper* st, Firebird::IAttachment* attachment,
                   Firebird::ITransaction* transaction, const QByteArray& bytes);

}  // namespace norvix::fb
