// Cursors: opening a statement's result, fetching rows into memory, decoding columns,
// navigation and lookups; the query and table cursors.
#include <QDateTime>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "records/FbDatabase.h"
#include "records/FbInternal.h"

using namespace Firebird;

namespace norvix {

using namespace fb;

namespace {
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
    resultSet_ = guardedOn(transaction_.database(), [&](ThrowStatusWrapper* st) {
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

bool FbDataSet::fetchOne() {
    if (!open_ || fetchedAll_ || !resultSet_) return false;
    const int result = guardedOn(transaction_.database(), [&](ThrowStatusWrapper* st) {
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
    return guardedOn(transaction_.database(), [&](ThrowStatusWrapper* st) {
        return fb::readBlob(st, attachment, tra, id);
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
    // No row to read is an error, never a 0: a commit closes every cursor, and a value read
    // from one that has moved or closed under a window once wrote to exam 0 without a word.
    const QString where = name_.isEmpty() ? QStringLiteral("consulta") : name_;
    if (!open_)
        throw DatabaseError(QStringLiteral("Leitura da coluna %1 em %2, que está fechada.").arg(column, where));
    const int index = columnIndex(column);
    if (index < 0) throw DatabaseError(QStringLiteral("Coluna %1 não encontrada em %2.").arg(column, where));
    if (current_ < 0 || size_t(current_) >= rows_.size())
        throw DatabaseError(QStringLiteral("Leitura da coluna %1 em %2, que não tem registro atual.").arg(column, where));
    return readColumn(columns_[size_t(index)], rows_[size_t(current_)]);
}

int FbDataSet::textWidth(const QString& column) const {
    const int index = columnIndex(column);
    if (index < 0) return 0;
    const Column& c = columns_[size_t(index)];
    return c.type == SQL_TEXT || c.type == SQL_VARYING ? int(c.length) : 0;
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
