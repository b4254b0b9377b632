// Statements: named parameters, preparing, describing the result columns, binding the
// parameter values into the message the server expects, executing, and the access plan.
#include <QStringList>
#include <algorithm>
#include <cstring>

#include "records/FbDatabase.h"
#include "records/FbInternal.h"

using namespace Firebird;

namespace norvix {

using namespace fb;

namespace {
bool isIdentStart(QChar c) { return c.isLetter() || c == QLatin1Char('_'); }
bool isIdentChar(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$');
}
}  // namespace

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
    parkStatement();
}

namespace {
void freeStatement(IStatement* statement) {
    // free() releases the handle when it succeeds (it fails after the attachment died).
    if (!quietly([&](ThrowStatusWrapper* st) { statement->free(st); })) statement->release();
}
}  // namespace

void FbDataSet::parkStatement() {
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
        parked_.push_front({preparedFor_, statement_, parsed_});
        statement_ = nullptr;
        if (parked_.size() > kParked) {
            freeStatement(parked_.back().statement);
            parked_.pop_back();
        }
    }
    preparedFor_.clear();
}

void FbDataSet::unprepare() {
    parkStatement();
    for (Parked& p : parked_) freeStatement(p.statement);
    parked_.clear();
}

void FbDataSet::prepare() {
    // Every statement passes here first: after a lost connection, attach again.
    transaction_.database().recover();
    const QString text = effectiveSql();
    if (statement_ && preparedFor_ == text) return;
    parkStatement();
    columns_.clear();
    for (auto it = parked_.begin(); it != parked_.end(); ++it) {
        if (it->text != text) continue;
        statement_ = it->statement;
        parsed_ = std::move(it->parsed);
        parked_.erase(it);
        preparedFor_ = text;
        describeOutput();
        return;
    }
    parsed_ = parseNamedParameters(text);
    IAttachment* attachment = transaction_.database().requireAttachment();
    ITransaction* tra = transaction_.handle();
    const QByteArray bytes = toCp1252(parsed_.sql);
    statement_ = guardedOn(transaction_.database(), [&](ThrowStatusWrapper* st) {
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
    return guardedOn(transaction_.database(), [&](ThrowStatusWrapper* st) {
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
                // Whole seconds only: exams and reports are found again by date and time
                // equality, and a caller's clock reading carries milliseconds that a later
                // lookup (or a time typed or read from a file) does not repeat.
                const ISC_TIME x = util()->encodeTime(unsigned(t.hour()), unsigned(t.minute()),
                                                      unsigned(t.second()), 0);
                std::memcpy(data, &x, sizeof x);
                break;
            }
            case FbValue::Kind::Text:
            case FbValue::Kind::Blob: {
                const QByteArray& bytes =
                    v.kind() == FbValue::Kind::Text ? texts[i] : v.toBytes();
                if (type == SQL_BLOB) {
                    const ISC_QUAD id = writeBlob(st, attachment, tra, bytes);
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

void FbDataSet::execSql() {
    close();
    rowsAffected_ = 0;
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
    guardedOn(transaction_.database(), [&](ThrowStatusWrapper* st) {
        statement_->execute(st, tra, in, buffer.empty() ? nullptr : buffer.data(), nullptr,
                            nullptr);
        rowsAffected_ = qint64(statement_->getAffectedRecords(st));
    });
}

QString FbDataSet::plan() {
    prepare();
    return guardedOn(transaction_.database(), [&](ThrowStatusWrapper* st) {
        const char* text = statement_->getPlan(st, false);
        return text ? fromCp1252(text).trimmed() : QString();
    });
}

}  // namespace norvix
