#pragma once
// Cursors over one statement: FbDataSet (buffered rows read by column name) and its two kinds,
// the query cursor and the table cursor. Their statement side (parameters, prepare, execute)
// is in FbStatement.cpp, fetching and reading in FbCursor.cpp.
#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>
#include <QVariant>
#include <deque>
#include <vector>

#include "records/FbValue.h"

namespace Firebird {
class IStatement;
class IResultSet;
class IMessageMetadata;
}  // namespace Firebird

namespace norvix {

class FbTransaction;

// A buffered cursor over one statement: rows are fetched into memory as navigation needs
// them. Reading a column with no current row (closed, or an empty result) raises
// DatabaseError; a NULL value reads as 0, the empty text, a null date and so on. Column names are compared without regard to case; a result
// column takes the name Firebird gives it (alias, "COUNT" for COUNT(*), "GEN_ID" for GEN_ID).
class FbDataSet {
public:
    FbDataSet(FbTransaction& transaction, const QString& name = QString());
    virtual ~FbDataSet();
    FbDataSet(const FbDataSet&) = delete;
    FbDataSet& operator=(const FbDataSet&) = delete;

    QString name() const { return name_; }
    FbTransaction& transaction() const { return transaction_; }

    // Parameters, set by name; they stay set until setSql() or clearParams(). A name that the
    // statement does not use raises DatabaseError at open/exec; an unset one is NULL.
    void setParam(const QString& name, const FbValue& value);
    void setParams(const FbParams& params);
    void clearParams();

    // Opens the cursor (starts the transaction when none is active) and stands on the first
    // row. Does nothing when already open. Throws DatabaseError.
    void open();
    // Runs the statement without a cursor (stored procedures, DML). Closes the cursor first.
    void execSql();
    // The rows the last execSql() inserted, changed or deleted.
    qint64 rowsAffected() const { return rowsAffected_; }
    void close();
    bool active() const { return open_; }
    // The server's access plan of the statement (prepared when needed).
    QString plan();

    // Navigation. next() on the last row stays there and sets eof(); prior() on the first row
    // stays there and sets bof(). On an empty result both are true.
    void first();
    void next();
    void prior();
    void last();
    bool eof() const { return eof_; }
    bool bof() const { return bof_; }
    bool isEmpty();                 // no row at all
    int recordCount();              // fetches every row
    int recNo() const { return current_; }  // 0-based index of the current row, -1 when none
    // Moves to the first row whose column equals value (integers and texts compared as such,
    // texts exactly); stays put and returns false when none does.
    bool locate(const QString& column, const QVariant& value);

    // Columns of the current row.
    int fieldCount() const { return int(columns_.size()); }
    QStringList fieldNames() const;
    bool hasField(const QString& column) const { return columnIndex(column) >= 0; }
    int columnIndex(const QString& column) const;  // -1 when unknown
    // The declared width of a text column in characters (the attachment's character set,
    // Windows-1252, has one byte a character); 0 for another type or an unknown column.
    int textWidth(const QString& column) const;
    bool isNull(const QString& column) const;
    // These raise DatabaseError for a column the result does not have (a typo must not pass
    // for an empty value) and when there is no current row.
    int asInt(const QString& column) const;
    qint64 asInt64(const QString& column) const;
    double asDouble(const QString& column) const;
    QString asString(const QString& column) const;
    QDate asDate(const QString& column) const;
    QTime asTime(const QString& column) const;
    QByteArray asBytes(const QString& column) const;  // blobs read whole
    QVariant value(const QString& column) const;      // invalid QVariant for NULL
    QVariant value(int index) const;
    // Row r (0-based) as fetched so far; fetches up to r when needed.
    QVariant valueAt(int row, int index);
    // For views that page through the rows: how many rows are in memory, whether the server
    // has no more, fetching up to row r (false when there is no such row), and making row r
    // the current one.
    int fetchedCount() const { return int(rows_.size()); }
    bool fetchedAll() const { return !open_ || fetchedAll_; }
    bool fetchTo(int row);
    bool moveTo(int row);

protected:
    // The text that is prepared; a table cursor builds it from its table and filter.
    virtual QString effectiveSql() const = 0;
    void invalidateStatement();  // the text changed: prepare again next time

private:
    struct Column {
        QString name;  // upper case
        unsigned type = 0;
        int scale = 0;
        unsigned offset = 0;
        unsigned nullOffset = 0;
        unsigned length = 0;
        unsigned subType = 0;
        int blobSlot = -1;  // index into Row::blobs for blob columns
    };
    // A fetched row keeps the message bytes as the server sent them and is decoded when a
    // column is read: one allocation per row instead of one per column. Blobs are read whole
    // at fetch time, while their transaction is sure to be alive.
    struct Row {
        std::vector<unsigned char> raw;
        std::vector<QByteArray> blobs;
    };
    friend class FbDatabase;
    void prepare();
    void unprepare();  // closes and frees the prepared statement and those kept aside
    // Keeps the prepared statement aside for a later return of the same text: the access
    // operations share one scratch cursor, and preparing costs more than running a short
    // statement on the embedded engine.
    void parkStatement();
    std::vector<unsigned char> bindParameters(Firebird::IMessageMetadata** metadata);
    bool fetchOne();
    void fetchAll();
    void releaseResultSet();
    void describeOutput();
    QVariant readColumn(const Column& c, const Row& row) const;
    QByteArray readBlob(const unsigned char* id);
    QVariant cellValue(const QString& column) const;  // invalid for NULL or no row

    FbTransaction& transaction_;
    QString name_;
    FbParsedSql parsed_;
    QString preparedFor_;
    struct Parked {
        QString text;
        Firebird::IStatement* statement;
        FbParsedSql parsed;
    };
    std::deque<Parked> parked_;  // most recent first
    static constexpr size_t kParked = 24;
    Firebird::IStatement* statement_ = nullptr;
    Firebird::IMessageMetadata* outMeta_ = nullptr;
    Firebird::IMessageMetadata* inMetaCache_ = nullptr;  // parameters as last sent
    std::vector<unsigned> inSignature_;
    Firebird::IResultSet* resultSet_ = nullptr;
    bool open_ = false;
    qint64 rowsAffected_ = 0;
    bool fetchedAll_ = false;  // the server cursor is exhausted (and released)
    std::vector<Column> columns_;
    std::vector<unsigned char> outBuffer_;
    std::deque<Row> rows_;  // no large block to move or unmap as rows arrive
    int blobColumns_ = 0;
    std::vector<FbParam> params_;
    int current_ = -1;
    bool eof_ = true;
    bool bof_ = true;
};

// A query cursor: the statement text is replaceable at will (the text of a closed cursor).
class FbQuery : public FbDataSet {
public:
    FbQuery(FbTransaction& transaction, const QString& name = QString(),
            const QString& sql = QString());
    // Replaces the statement text (closes the cursor and clears the parameters).
    void setSql(const QString& sql);
    QString sql() const { return sql_; }

protected:
    QString effectiveSql() const override { return sql_; }

private:
    QString sql_;
};

// A table cursor: the whole table, optionally filtered, in key order.
class FbTable : public FbDataSet {
public:
    // keyOrder: the ORDER BY list (the primary key columns); empty for the server's order.
    FbTable(FbTransaction& transaction, const QString& name, const QString& tableName,
            const QString& keyOrder = QString());
    QString tableName() const { return table_; }
    // A filter such as "Local ='CE' AND PosCaixa = 1", run as the WHERE clause. Takes effect
    // at the next open; an empty text shows every row.
    void setFilter(const QString& filter);
    QString filter() const { return filter_; }
    void setFiltered(bool filtered);
    bool filtered() const { return filtered_; }

protected:
    QString effectiveSql() const override;

private:
    QString table_;
    QString keyOrder_;
    QString filter_;
    bool filtered_ = true;
};

}  // namespace norvix
