#include "records/FbDatabase.h"

#include <firebird/Interface.h>

#include <QFile>
#include <QStringDecoder>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <thread>
#include <utility>

#include "platform/Cp1252.h"

using namespace Firebird;

namespace norvix {

namespace {

constexpr unsigned kDialect = 3;
constexpr unsigned kCharsetWin1252 = 53;  // Firebird's id of WIN1252
constexpr unsigned kBlobChunk = 32768;
constexpr qsizetype kMaxVarchar = 32765;  // Firebird's widest VARCHAR, in bytes

IMaster* master() {
    static IMaster* instance = fb_get_master_interface();
    return instance;
}

IUtil* util() { return master()->getUtilInterface(); }

// Server messages are plain ASCII but may quote a file name (UTF-8 on this system) or a
// value of the connection (Windows-1252): take UTF-8 when it decodes cleanly.
QString decodeMessage(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError()) return text;
    return fromCp1252(bytes);
}

QString statusText(IStatus* status) {
    char buffer[4096];
    util()->formatStatus(buffer, sizeof buffer, status);
    QString text = decodeMessage(QByteArray(buffer)).trimmed();
    return text.isEmpty() ? QStringLiteral("Erro do banco de dados") : text;
}

// A status for one call. Every fetched row makes a call, so the outermost call of the thread
// reuses one status object (cleared each time) instead of allocating a new one.
struct Status {
    static IStatus* shared() {
        thread_local IStatus* status = master()->getStatus();
        return status;
    }
    static int& depth() {
        thread_local int d = 0;
        return d;
    }
    bool own = depth()++ > 0;
    ThrowStatusWrapper wrapper{own ? master()->getStatus() : shared()};
    Status() { wrapper.init(); }
    ~Status() {
        --depth();
        if (own) wrapper.dispose();
    }
    ThrowStatusWrapper* operator&() { return &wrapper; }
};

// Runs f with a throwing status and turns a Firebird failure into a DatabaseError.
template <class F>
decltype(auto) guarded(F&& f) {
    Status status;
    try {
        return f(&status);
    } catch (const FbException& e) {
        throw DatabaseError(statusText(e.getStatus()));
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
    IXpbBuilder* builder;
    ~XpbGuard() {
        if (builder) builder->dispose();
    }
};

bool isIdentStart(QChar c) { return c.isLetter() || c == QLatin1Char('_'); }
bool isIdentChar(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$');
}

qint64 readInteger(const unsigned char* p, int length) {
    qint64 value = 0;
    for (int i = length - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

// Texts of every fetched row pass here: bytes outside 0x80..0x9F are Latin-1, which Qt
// converts fastest, so only texts holding one of those go through the full table.
QString decodeText(const char* data, qsizetype length) {
    for (qsizetype i = 0; i < length; ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        if (b >= 0x80 && b <= 0x9F) return fromCp1252(QByteArray(data, length));
    }
    return QString::fromLatin1(data, length);
}

QString valueAsText(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::QDate: return v.toDate().toString(QStringLiteral("dd/MM/yyyy"));
    case QMetaType::QTime: return v.toTime().toString(QStringLiteral("HH:mm:ss"));
    case QMetaType::QDateTime:
        return v.toDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    case QMetaType::Double: return QString::number(v.toDouble(), 'g', 15);
    case QMetaType::QByteArray: return fromCp1252(v.toByteArray());
    default: return v.toString();
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------

FbParsedSql parseNamedParameters(const QString& sql) {
    FbParsedSql result;
    result.sql.reserve(sql.size());
    const qsizetype n = sql.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // A quoted text or name: copied as it stands (a doubled quote reopens at once).
            qsizetype end = sql.indexOf(c, i + 1);
            if (end < 0) end = n - 1;
            result.sql += sql.mid(i, end - i + 1);
            i = end + 1;
        } else if (c == QLatin1Char('-') && i + 1 < n && sql[i + 1] == QLatin1Char('-')) {
            qsizetype end = sql.indexOf(QLatin1Char('\n'), i);
            if (end < 0) end = n - 1;
            result.sql += sql.mid(i, end - i + 1);
            i = end + 1;
        } else if (c == QLatin1Char('/') && i + 1 < n && sql[i + 1] == QLatin1Char('*')) {
            qsizetype end = sql.indexOf(QLatin1String("*/"), i + 2);
            end = end < 0 ? n - 1 : end + 1;
            result.sql += sql.mid(i, end - i + 1);
            i = end + 1;
        } else if (c == QLatin1Char(':') && i + 1 < n && isIdentStart(sql[i + 1]) &&
                   (i == 0 || !isIdentChar(sql[i - 1]))) {
            qsizetype end = i + 1;
            while (end < n && isIdentChar(sql[end])) ++end;
            result.names << sql.mid(i + 1, end - i - 1).toUpper();
            result.sql += QLatin1Char('?');
            i = end;
        } else {
            result.sql += c;
            ++i;
        }
    }
    return result;
}

// ---------------------------------------------------------------------------------------------

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
        return;
    }  // an attach ahead for anything else is detached here
    attachment_ = connector_->attach(name_, current.user, current.password);
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
    for (FbTransaction* t : transactions_) {
        t->closeDataSets();
        t->drop();
        for (FbDataSet* d : t->dataSets_) d->unprepare();
    }
    if (!attachment_) return;
    IAttachment* attachment = attachment_;
    attachment_ = nullptr;
    if (!quietly([&](ThrowStatusWrapper* st) { attachment->detach(st); })) attachment->release();
}

IAttachment* FbDatabase::requireAttachment() const {
    if (!attachment_) throw DatabaseError(QStringLiteral("Banco de dados não conectado."));
    return attachment_;
}

int FbDatabase::requestInfo() {
    IAttachment* attachment = requireAttachment();
    const unsigned char items[] = {isc_info_page_size, isc_info_end};
    unsigned char buffer[64] = {};
    guarded([&](ThrowStatusWrapper* st) {
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
    if (handle_) return;
    IAttachment* attachment = database_.requireAttachment();
    handle_ = guarded([&](ThrowStatusWrapper* st) {
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
    guarded([&](ThrowStatusWrapper* st) { handle_->commit(st); });
    handle_ = nullptr;
}

void FbTransaction::rollback() {
    if (!handle_) return;
    closeDataSets();
    ITransaction* handle = handle_;
    handle_ = nullptr;
    try {
        guarded([&](ThrowStatusWrapper* st) { handle->rollback(st); });
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

// ---------------------------------------------------------------------------------------------

FbDataSet::FbDataSet(FbTransaction& transaction, const QString& name)
    : transaction_(transaction), name_(name) {
    transaction_.dataSets_.push_back(this);
}

FbDataSet::~FbDataSet() {
    close();
    unprepare();
    auto& list = transaction_.dataSets_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void FbDataSet::setParam(const QString& name, const FbValue& value) {
    QString key = name.startsWith(QLatin1Char(':')) ? name.mid(1) : name;
    key = key.toUpper();
    for (FbParam& p : params_) {
        if (p.name == key) {
            p.value = value;
            return;
        }
    }
    params_.push_back({key, value});
}

void FbDataSet::setParams(const FbParams& params) {
    for (const FbParam& p : params) setParam(p.name, p.value);
}

void FbDataSet::clearParams() { params_.clear(); }

void FbDataSet::invalidateStatement() {
    close();
    unprepare();
}

void FbDataSet::unprepare() {
    releaseResultSet();
    if (inMetaCache_) {
        inMetaCache_->release();
        inMetaCache_ = nullptr;
    }
    inSignature_.clear();
    if (outMeta_) {
        outMeta_->release();
        outMeta_ = nullptr;
    }
    if (statement_) {
        IStatement* statement = statement_;
        statement_ = nullptr;
        // free() releases the handle when it succeeds (it fails after the attachment died).
        if (!quietly([&](ThrowStatusWrapper* st) { statement->free(st); })) statement->release();
    }
    preparedFor_.clear();
}

void FbDataSet::prepare() {
    const QString text = effectiveSql();
    if (statement_ && preparedFor_ == text) return;
    unprepare();
    columns_.clear();
    parsed_ = parseNamedParameters(text);
    IAttachment* attachment = transaction_.database().requireAttachment();
    ITransaction* tra = transaction_.handle();
    const QByteArray bytes = toCp1252(parsed_.sql);
    statement_ = guarded([&](ThrowStatusWrapper* st) {
        return attachment->prepare(st, tra, unsigned(bytes.size()), bytes.constData(), kDialect,
                                   IStatement::PREPARE_PREFETCH_METADATA);
    });
    preparedFor_ = text;
    describeOutput();
}

void FbDataSet::describeOutput() {
    guarded([&](ThrowStatusWrapper* st) {
        outMeta_ = statement_->getOutputMetadata(st);
        const unsigned count = outMeta_->getCount(st);
        columns_.clear();
        columns_.reserve(count);
        blobColumns_ = 0;
        for (unsigned i = 0; i < count; ++i) {
            Column c;
            const char* alias = outMeta_->getAlias(st, i);
            const char* field = outMeta_->getField(st, i);
            c.name = fromCp1252(alias && *alias ? alias : field).toUpper();
            c.type = outMeta_->getType(st, i) & ~1u;
            c.scale = outMeta_->getScale(st, i);
            c.offset = outMeta_->getOffset(st, i);
            c.nullOffset = outMeta_->getNullOffset(st, i);
            c.length = outMeta_->getLength(st, i);
            c.subType = unsigned(outMeta_->getSubType(st, i));
            if (c.type == SQL_BLOB) c.blobSlot = blobColumns_++;
            columns_.push_back(c);
        }
        outBuffer_.assign(outMeta_->getMessageLength(st), 0);
    });
}

std::vector<unsigned char> FbDataSet::bindParameters(IMessageMetadata** metadata) {
    *metadata = nullptr;
    for (const FbParam& p : params_) {
        if (!parsed_.names.contains(p.name))
            throw DatabaseError(
                QStringLiteral("Parâmetro %1 não existe na instrução.").arg(p.name));
    }
    IAttachment* attachment = transaction_.database().requireAttachment();
    ITransaction* tra = transaction_.handle();
    return guarded([&](ThrowStatusWrapper* st) {
        IMessageMetadata* in = statement_->getInputMetadata(st);
        struct MetaGuard {
            IMessageMetadata* m;
            ~MetaGuard() { m->release(); }
        } inGuard{in};
        const unsigned count = in->getCount(st);
        if (count != unsigned(parsed_.names.size()))
            throw DatabaseError(QStringLiteral("A instrução tem %1 parâmetros e %2 nomes.")
                                    .arg(count)
                                    .arg(parsed_.names.size()));
        std::vector<const FbValue*> values(count, nullptr);
        static const FbValue nullValue;
        std::vector<QByteArray> texts(count);
        // What each parameter travels as: type, length (0: the server's) and character set
        // or blob marker. Calls that repeat a statement usually repeat this too, so the
        // message description built from it is kept for the next call.
        constexpr unsigned kKeep = ~0u;
        constexpr unsigned kBinaryBlob = 1000;
        std::vector<unsigned> signature;
        signature.reserve(size_t(count) * 3);
        for (unsigned i = 0; i < count; ++i) {
            values[i] = &nullValue;
            for (const FbParam& p : params_)
                if (p.name == parsed_.names[int(i)]) values[i] = &p.value;
            const unsigned serverType = in->getType(st, i) & ~1u;
            const FbValue& v = *values[i];
            unsigned type = serverType;
            unsigned length = 0;
            unsigned extra = kKeep;
            switch (v.kind()) {
            case FbValue::Kind::Null: break;
            case FbValue::Kind::Integer:
                type = SQL_INT64;
                length = sizeof(ISC_INT64);
                break;
            case FbValue::Kind::Double:
                type = SQL_DOUBLE;
                length = sizeof(double);
                break;
            case FbValue::Kind::Text:
                texts[i] = toCp1252(v.toText());
                if (serverType == SQL_BLOB) {
                    length = sizeof(ISC_QUAD);
                } else if (texts[i].size() > kMaxVarchar) {
                    // Beyond what any text parameter can carry (and what the length field of
                    // the message can say): refuse it here rather than send a wrong length.
                    throw DatabaseError(
                        QStringLiteral("Texto longo demais para o parâmetro %1 (%2 caracteres).")
                            .arg(parsed_.names[int(i)])
                            .arg(texts[i].size()));
                } else {
                    // A text that fits travels in the parameter's own width; a longer one
                    // with its own length, so that the server refuses it with its message.
                    type = SQL_VARYING;
                    const unsigned declared =
                        serverType == SQL_VARYING || serverType == SQL_TEXT ? in->getLength(st, i)
                                                                            : 0;
                    const unsigned needed = unsigned(std::max<qsizetype>(1, texts[i].size()));
                    length = declared >= needed ? declared : needed;
                    extra = kCharsetWin1252;
                }
                break;
            case FbValue::Kind::Date:
                if (v.toDate().isValid()) {
                    type = SQL_TYPE_DATE;
                    length = sizeof(ISC_DATE);
                }
                break;
            case FbValue::Kind::Time:
                if (v.toTime().isValid()) {
                    type = SQL_TYPE_TIME;
                    length = sizeof(ISC_TIME);
                }
                break;
            case FbValue::Kind::Blob:
                type = SQL_BLOB;
                length = sizeof(ISC_QUAD);
                extra = kBinaryBlob;
                break;
            }
            signature.push_back(type);
            signature.push_back(length);
            signature.push_back(extra);
        }
        if (!inMetaCache_ || signature != inSignature_) {
            IMetadataBuilder* builder = in->getBuilder(st);
            struct BuilderGuard {
                IMetadataBuilder* b;
                ~BuilderGuard() { b->release(); }
            } builderGuard{builder};
            for (unsigned i = 0; i < count; ++i) {
                const unsigned type = signature[i * 3];
                const unsigned length = signature[i * 3 + 1];
                const unsigned extra = signature[i * 3 + 2];
                builder->setType(st, i, type | 1);
                if (length) builder->setLength(st, i, length);
                if (type == SQL_INT64 || type == SQL_DOUBLE) builder->setScale(st, i, 0);
                if (extra == kBinaryBlob) builder->setSubType(st, i, 0);
                else if (extra != kKeep) builder->setCharSet(st, i, extra);
            }
            IMessageMetadata* built = builder->getMetadata(st);
            if (inMetaCache_) inMetaCache_->release();
            inMetaCache_ = built;
            inSignature_ = std::move(signature);
        }
        IMessageMetadata* meta = inMetaCache_;
        meta->addRef();
        struct Release {
            IMessageMetadata** m;
            bool keep = false;
            ~Release() {
                if (!keep && *m) {
                    (*m)->release();
                    *m = nullptr;
                }
            }
        } metaGuard{&meta};
        std::vector<unsigned char> buffer(meta->getMessageLength(st), 0);
        for (unsigned i = 0; i < count; ++i) {
            unsigned char* data = buffer.data() + meta->getOffset(st, i);
            short* nullFlag = reinterpret_cast<short*>(buffer.data() + meta->getNullOffset(st, i));
            const FbValue& v = *values[i];
            const unsigned type = meta->getType(st, i) & ~1u;
            *nullFlag = 0;
            switch (v.kind()) {
            case FbValue::Kind::Null:
                *nullFlag = -1;
                break;
            case FbValue::Kind::Integer: {
                const ISC_INT64 x = v.toInt();
                std::memcpy(data, &x, sizeof x);
                break;
            }
            case FbValue::Kind::Double: {
                const double x = v.toDouble();
                std::memcpy(data, &x, sizeof x);
                break;
            }
            case FbValue::Kind::Date: {
                const QDate d = v.toDate();
                if (!d.isValid()) {
                    *nullFlag = -1;
                    break;
                }
                const ISC_DATE x = util()->encodeDate(unsigned(d.year()), unsigned(d.month()),
                                                      unsigned(d.day()));
                std::memcpy(data, &x, sizeof x);
                break;
            }
            case FbValue::Kind::Time: {
                const QTime t = v.toTime();
                if (!t.isValid()) {
                    *nullFlag = -1;
                    break;
                }
                const ISC_TIME x = util()->encodeTime(unsigned(t.hour()), unsigned(t.minute()),
                                                      unsigned(t.second()),
                                                      unsigned(t.msec()) * 10);
                std::memcpy(data, &x, sizeof x);
                break;
            }
            case FbValue::Kind::Text:
            case FbValue::Kind::Blob: {
                const QByteArray& bytes =
                    v.kind() == FbValue::Kind::Text ? texts[i] : v.toBytes();
                if (type == SQL_BLOB) {
                    // An empty value is an empty blob, not NULL.
                    ISC_QUAD id{};
                    IBlob* blob = attachment->createBlob(st, tra, &id, 0, nullptr);
                    try {
                        for (qsizetype at = 0; at < bytes.size(); at += kBlobChunk) {
                            const unsigned n =
                                unsigned(std::min<qsizetype>(kBlobChunk, bytes.size() - at));
                            blob->putSegment(st, n, bytes.constData() + at);
                        }
                        blob->close(st);
                    } catch (...) {
                        blob->release();
                        throw;
                    }
                    std::memcpy(data, &id, sizeof id);
                } else {
                    const short length = short(bytes.size());
                    std::memcpy(data, &length, sizeof length);
                    std::memcpy(data + sizeof length, bytes.constData(), size_t(bytes.size()));
                }
                break;
            }
            }
        }
        metaGuard.keep = true;
        *metadata = meta;
        return buffer;
    });
}

void FbDataSet::open() {
    if (open_) return;
    prepare();
    IMessageMetadata* in = nullptr;
    std::vector<unsigned char> buffer = bindParameters(&in);
    struct MetaGuard {
        IMessageMetadata* m;
        ~MetaGuard() {
            if (m) m->release();
        }
    } guard{in};
    ITransaction* tra = transaction_.handle();
    resultSet_ = guarded([&](ThrowStatusWrapper* st) {
        return statement_->openCursor(st, tra, in, buffer.empty() ? nullptr : buffer.data(),
                                      outMeta_, 0);
    });
    open_ = true;
    fetchedAll_ = false;
    rows_.clear();
    try {
        fetchOne();
    } catch (...) {
        close();
        throw;
    }
    current_ = rows_.empty() ? -1 : 0;
    bof_ = true;
    eof_ = rows_.empty();
}

void FbDataSet::execSql() {
    close();
    prepare();
    IMessageMetadata* in = nullptr;
    std::vector<unsigned char> buffer = bindParameters(&in);
    struct MetaGuard {
        IMessageMetadata* m;
        ~MetaGuard() {
            if (m) m->release();
        }
    } guard{in};
    ITransaction* tra = transaction_.handle();
    guarded([&](ThrowStatusWrapper* st) {
        statement_->execute(st, tra, in, buffer.empty() ? nullptr : buffer.data(), nullptr,
                            nullptr);
    });
}

void FbDataSet::releaseResultSet() {
    if (!resultSet_) return;
    IResultSet* rs = resultSet_;
    resultSet_ = nullptr;
    if (!quietly([&](ThrowStatusWrapper* st) { rs->close(st); })) rs->release();
}

void FbDataSet::close() {
    releaseResultSet();
    rows_.clear();
    rows_.shrink_to_fit();
    open_ = false;
    fetchedAll_ = false;
    current_ = -1;
    eof_ = true;
    bof_ = true;
}

QString FbDataSet::plan() {
    prepare();
    return guarded([&](ThrowStatusWrapper* st) {
        const char* text = statement_->getPlan(st, false);
        return text ? fromCp1252(text).trimmed() : QString();
    });
}

bool FbDataSet::fetchOne() {
    if (!open_ || fetchedAll_ || !resultSet_) return false;
    const int result = guarded([&](ThrowStatusWrapper* st) {
        return resultSet_->fetchNext(st, outBuffer_.data());
    });
    if (result != IStatus::RESULT_OK) {
        fetchedAll_ = true;
        releaseResultSet();
        return false;
    }
    Row row;
    row.raw = outBuffer_;
    if (blobColumns_ > 0) {
        row.blobs.resize(size_t(blobColumns_));
        for (const Column& c : columns_) {
            if (c.blobSlot < 0 || *reinterpret_cast<const short*>(outBuffer_.data() + c.nullOffset))
                continue;
            row.blobs[size_t(c.blobSlot)] = readBlob(outBuffer_.data() + c.offset);
        }
    }
    rows_.push_back(std::move(row));
    return true;
}

void FbDataSet::fetchAll() {
    while (fetchOne()) {
    }
}

QVariant FbDataSet::readColumn(const Column& c, const Row& row) const {
    const unsigned char* buffer = row.raw.data();
    if (*reinterpret_cast<const short*>(buffer + c.nullOffset)) return QVariant();
    const unsigned char* data = buffer + c.offset;
    auto scaled = [&](qint64 raw) -> QVariant {
        if (c.scale == 0) return raw;
        return double(raw) * std::pow(10.0, c.scale);
    };
    switch (c.type) {
    case SQL_TEXT: {
        // Fixed-width text arrives padded with blanks.
        qsizetype length = qsizetype(c.length);
        while (length > 0 && data[length - 1] == ' ') --length;
        return decodeText(reinterpret_cast<const char*>(data), length);
    }
    case SQL_VARYING: {
        short length;
        std::memcpy(&length, data, sizeof length);
        return decodeText(reinterpret_cast<const char*>(data + 2), length);
    }
    case SQL_SHORT: {
        qint16 x;
        std::memcpy(&x, data, sizeof x);
        return c.scale ? scaled(x) : QVariant(int(x));
    }
    case SQL_LONG: {
        qint32 x;
        std::memcpy(&x, data, sizeof x);
        return c.scale ? scaled(x) : QVariant(int(x));
    }
    case SQL_INT64: {
        qint64 x;
        std::memcpy(&x, data, sizeof x);
        return scaled(x);
    }
    case SQL_FLOAT: {
        float x;
        std::memcpy(&x, data, sizeof x);
        return double(x);
    }
    case SQL_DOUBLE:
    case SQL_D_FLOAT: {
        double x;
        std::memcpy(&x, data, sizeof x);
        return x;
    }
    case SQL_BOOLEAN: return bool(*data);
    case SQL_TYPE_DATE: {
        ISC_DATE x;
        std::memcpy(&x, data, sizeof x);
        unsigned y, m, d;
        util()->decodeDate(x, &y, &m, &d);
        return QDate(int(y), int(m), int(d));
    }
    case SQL_TYPE_TIME: {
        ISC_TIME x;
        std::memcpy(&x, data, sizeof x);
        unsigned h, m, s, f;
        util()->decodeTime(x, &h, &m, &s, &f);
        return QTime(int(h), int(m), int(s), int(f / 10));
    }
    case SQL_TIMESTAMP: {
        ISC_TIMESTAMP x;
        std::memcpy(&x, data, sizeof x);
        unsigned y, mo, d, h, mi, s, f;
        util()->decodeDate(x.timestamp_date, &y, &mo, &d);
        util()->decodeTime(x.timestamp_time, &h, &mi, &s, &f);
        return QDateTime(QDate(int(y), int(mo), int(d)), QTime(int(h), int(mi), int(s), int(f / 10)));
    }
    case SQL_BLOB: {
        const QByteArray& bytes = row.blobs[size_t(c.blobSlot)];
        if (c.subType == 1) return fromCp1252(bytes);  // text blob
        return bytes;
    }
    default: return QVariant();
    }
}

QByteArray FbDataSet::readBlob(const unsigned char* data) {
    ISC_QUAD id;
    std::memcpy(&id, data, sizeof id);
    IAttachment* attachment = transaction_.database().requireAttachment();
    ITransaction* tra = transaction_.handle();
    return guarded([&](ThrowStatusWrapper* st) {
        IBlob* blob = attachment->openBlob(st, tra, &id, 0, nullptr);
        QByteArray out;
        try {
            const unsigned char items[] = {isc_info_blob_total_length};
            unsigned char info[32] = {};
            blob->getInfo(st, sizeof items, items, sizeof info, info);
            if (info[0] == isc_info_blob_total_length) {
                const int len = int(readInteger(info + 1, 2));
                if (len > 0 && len <= 8) out.reserve(qsizetype(readInteger(info + 3, len)));
            }
            char chunk[kBlobChunk];
            for (;;) {
                unsigned got = 0;
                const int r = blob->getSegment(st, sizeof chunk, chunk, &got);
                if (r == IStatus::RESULT_NO_DATA) break;
                out.append(chunk, qsizetype(got));
            }
            blob->close(st);
        } catch (...) {
            blob->release();
            throw;
        }
        return out;
    });
}

// ---------------------------------------------------------------------------------------------

void FbDataSet::first() {
    if (!open_) return;
    current_ = rows_.empty() ? -1 : 0;
    bof_ = true;
    eof_ = rows_.empty();
}

void FbDataSet::next() {
    if (!open_) return;
    if (size_t(current_ + 1) < rows_.size() || fetchOne()) {
        ++current_;
        bof_ = false;
        eof_ = false;
    } else {
        eof_ = true;
    }
}

void FbDataSet::prior() {
    if (!open_) return;
    if (current_ > 0) {
        --current_;
        bof_ = false;
        eof_ = false;
    } else {
        bof_ = true;
    }
}

void FbDataSet::last() {
    if (!open_) return;
    fetchAll();
    current_ = int(rows_.size()) - 1;
    eof_ = true;
    bof_ = rows_.empty();
}

bool FbDataSet::isEmpty() { return rows_.empty(); }

int FbDataSet::recordCount() {
    if (!open_) return 0;
    fetchAll();
    return int(rows_.size());
}

bool FbDataSet::locate(const QString& column, const QVariant& value) {
    if (!open_) return false;
    const int index = columnIndex(column);
    if (index < 0) throw DatabaseError(QStringLiteral("Coluna %1 não encontrada.").arg(column));
    auto matches = [&](const QVariant& cell) {
        if (!cell.isValid() || !value.isValid()) return cell.isValid() == value.isValid();
        switch (value.typeId()) {
        case QMetaType::QString: return valueAsText(cell) == value.toString();
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong: {
            bool ok = false;
            const qlonglong x = cell.toLongLong(&ok);
            return ok && x == value.toLongLong();
        }
        case QMetaType::Double: return cell.toDouble() == value.toDouble();
        default: return cell == value;
        }
    };
    for (size_t row = 0;; ++row) {
        if (row >= rows_.size() && !fetchOne()) return false;
        if (matches(readColumn(columns_[size_t(index)], rows_[row]))) {
            current_ = int(row);
            bof_ = false;
            eof_ = false;
            return true;
        }
    }
}

QStringList FbDataSet::fieldNames() const {
    QStringList names;
    for (const Column& c : columns_) names << c.name;
    return names;
}

int FbDataSet::columnIndex(const QString& column) const {
    for (size_t i = 0; i < columns_.size(); ++i)
        if (columns_[i].name.compare(column, Qt::CaseInsensitive) == 0) return int(i);
    return -1;
}

QVariant FbDataSet::cellValue(const QString& column) const {
    // A closed cursor reads as empty; an open one must know the column.
    if (!open_) return QVariant();
    const int index = columnIndex(column);
    if (index < 0)
        throw DatabaseError(QStringLiteral("Coluna %1 não encontrada em %2.")
                                .arg(column, name_.isEmpty() ? QStringLiteral("consulta") : name_));
    if (current_ < 0 || size_t(current_) >= rows_.size()) return QVariant();
    return readColumn(columns_[size_t(index)], rows_[size_t(current_)]);
}

bool FbDataSet::isNull(const QString& column) const { return !cellValue(column).isValid(); }

int FbDataSet::asInt(const QString& column) const { return int(asInt64(column)); }

qint64 FbDataSet::asInt64(const QString& column) const {
    const QVariant v = cellValue(column);
    if (!v.isValid()) return 0;
    if (v.typeId() == QMetaType::Double) return qint64(std::llround(v.toDouble()));
    if (v.typeId() == QMetaType::QString) return v.toString().trimmed().toLongLong();
    return v.toLongLong();
}

double FbDataSet::asDouble(const QString& column) const {
    const QVariant v = cellValue(column);
    return v.isValid() ? v.toDouble() : 0.0;
}

QString FbDataSet::asString(const QString& column) const {
    const QVariant v = cellValue(column);
    return v.isValid() ? valueAsText(v) : QString();
}

QDate FbDataSet::asDate(const QString& column) const {
    const QVariant v = cellValue(column);
    if (!v.isValid()) return QDate();
    if (v.typeId() == QMetaType::QDateTime) return v.toDateTime().date();
    return v.toDate();
}

QTime FbDataSet::asTime(const QString& column) const {
    const QVariant v = cellValue(column);
    if (!v.isValid()) return QTime();
    if (v.typeId() == QMetaType::QDateTime) return v.toDateTime().time();
    return v.toTime();
}

QByteArray FbDataSet::asBytes(const QString& column) const {
    const QVariant v = cellValue(column);
    if (!v.isValid()) return QByteArray();
    if (v.typeId() == QMetaType::QString) return toCp1252(v.toString());
    return v.toByteArray();
}

QVariant FbDataSet::value(const QString& column) const { return cellValue(column); }

QVariant FbDataSet::value(int index) const {
    if (!open_ || index < 0 || size_t(index) >= columns_.size() || current_ < 0 ||
        size_t(current_) >= rows_.size())
        return QVariant();
    return readColumn(columns_[size_t(index)], rows_[size_t(current_)]);
}

bool FbDataSet::fetchTo(int row) {
    if (!open_ || row < 0) return false;
    while (size_t(row) >= rows_.size())
        if (!fetchOne()) return false;
    return true;
}

bool FbDataSet::moveTo(int row) {
    if (!fetchTo(row)) return false;
    current_ = row;
    bof_ = false;
    eof_ = false;
    return true;
}

QString fbValueText(const QVariant& value) { return value.isValid() ? valueAsText(value) : QString(); }

QVariant FbDataSet::valueAt(int row, int index) {
    if (!open_ || row < 0 || index < 0 || size_t(index) >= columns_.size()) return QVariant();
    while (size_t(row) >= rows_.size())
        if (!fetchOne()) return QVariant();
    return readColumn(columns_[size_t(index)], rows_[size_t(row)]);
}

// ---------------------------------------------------------------------------------------------

FbQuery::FbQuery(FbTransaction& transaction, const QString& name, const QString& sql)
    : FbDataSet(transaction, name), sql_(sql) {}

void FbQuery::setSql(const QString& sql) {
    close();
    clearParams();
    if (sql != sql_) {
        sql_ = sql;
        invalidateStatement();
    }
}

FbTable::FbTable(FbTransaction& transaction, const QString& name, const QString& tableName,
                 const QString& keyOrder)
    : FbDataSet(transaction, name), table_(tableName), keyOrder_(keyOrder) {}

void FbTable::setFilter(const QString& filter) {
    if (filter == filter_) return;
    filter_ = filter;
    // An open table shows the new filter at once.
    const bool wasOpen = active();
    invalidateStatement();
    if (wasOpen) open();
}

void FbTable::setFiltered(bool filtered) {
    if (filtered == filtered_) return;
    filtered_ = filtered;
    const bool wasOpen = active();
    invalidateStatement();
    if (wasOpen) open();
}

QString FbTable::effectiveSql() const {
    QString sql = QStringLiteral("SELECT * FROM ") + table_;
    if (filtered_ && !filter_.trimmed().isEmpty())
        sql += QStringLiteral(" WHERE ") + filter_;
    if (!keyOrder_.isEmpty()) sql += QStringLiteral(" ORDER BY ") + keyOrder_;
    return sql;
}

}  // namespace norvix
