#pragma once
// The thin layer between the records store and the Firebird client library (object API of
// libfbclient). It offers what the data module and the access classes need and nothing more:
// one attachment, one transaction with fixed parameters, statements with `:Name` parameters
// bound by name, and buffered cursors read by column name. Texts travel as Windows-1252
// (the attachment's lc_ctype); the API speaks QString.
//
// Qt's own InterBase driver is not used because it cannot set the transaction parameters
// (read_committed, rec_version, nowait) that the program relies on.
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

#include "platform/Errors.h"

namespace Firebird {
class IAttachment;
class ITransaction;
class IStatement;
class IResultSet;
class IMessageMetadata;
}  // namespace Firebird

namespace norvix {

// A failure reported by the database: the text is the server's message as it formats it.
class DatabaseError : public Error {
public:
    using Error::Error;
};

// ---------------------------------------------------------------------------------------------
// Parameter values.

// One parameter value: integer, text, date, time, double, blob (bytes) or NULL. Texts are
// QString; a QByteArray is always a blob. Constructors are implicit so that parameter lists
// read naturally: {{"Codigo", 5}, {"Nome", nome}, {"Data", QDate::currentDate()}}.
class FbValue {
public:
    enum class Kind { Null, Integer, Text, Date, Time, Double, Blob };

    FbValue() = default;                     // NULL
    FbValue(std::nullptr_t) {}               // NULL
    FbValue(int v) : kind_(Kind::Integer), int_(v) {}
    FbValue(qint64 v) : kind_(Kind::Integer), int_(v) {}
    FbValue(double v) : kind_(Kind::Double), double_(v) {}
    FbValue(const QString& v) : kind_(Kind::Text), text_(v) {}
    FbValue(const char* v) : kind_(Kind::Text), text_(QString::fromUtf8(v)) {}
    FbValue(const QDate& v) : kind_(Kind::Date), date_(v) {}
    FbValue(const QTime& v) : kind_(Kind::Time), time_(v) {}
    FbValue(const QByteArray& v) : kind_(Kind::Blob), bytes_(v) {}
    FbValue(bool) = delete;                  // no boolean columns: say 0 or 1

    Kind kind() const { return kind_; }
    bool isNull() const { return kind_ == Kind::Null; }
    qint64 toInt() const { return int_; }
    double toDouble() const { return double_; }
    const QString& toText() const { return text_; }
    QDate toDate() const { return date_; }
    QTime toTime() const { return time_; }
    const QByteArray& toBytes() const { return bytes_; }

private:
    Kind kind_ = Kind::Null;
    qint64 int_ = 0;
    double double_ = 0.0;
    QString text_;
    QDate date_;
    QTime time_;
    QByteArray bytes_;
};

// A parameter set by name (case-insensitive, without the colon).
struct FbParam {
    QString name;
    FbValue value;
};
using FbParams = std::vector<FbParam>;

// The statement text with every `:Name` outside quotes and comments replaced by "?", and the
// names in the order they appear (a name may appear more than once). Exposed for tests.
struct FbParsedSql {
    QString sql;
    QStringList names;  // upper case
};
FbParsedSql parseNamedParameters(const QString& sql);

// A column value as the program writes it: dates "dd/MM/yyyy", times "HH:mm:ss", numbers
// with ".", NULL as the empty text.
QString fbValueText(const QVariant& value);

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

    // The database-information request: page size of the database. Throws DatabaseError.
    int requestInfo();
    // True when attached and the information request succeeds.
    bool testConnected();

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
    FbConnector* connector_;
    QString name_;
    QStringList params_;
    Firebird::IAttachment* attachment_ = nullptr;
    std::unique_ptr<Ahead> ahead_;
    std::vector<FbTransaction*> transactions_;
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

// ---------------------------------------------------------------------------------------------
// Cursors.

// A buffered cursor over one statement: rows are fetched into memory as navigation needs
// them. With no current row (closed, or an empty result) every column reads as 0, the empty
// text, a null date and so on. Column names are compared without regard to case; a result
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
    bool isNull(const QString& column) const;
    // These raise DatabaseError for a column the result does not have (a typo must not pass
    // for an empty value); with no current row they give 0 / empty.
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
    void unprepare();  // closes and frees the prepared statement
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
    Firebird::IStatement* statement_ = nullptr;
    Firebird::IMessageMetadata* outMeta_ = nullptr;
    Firebird::IMessageMetadata* inMetaCache_ = nullptr;  // parameters as last sent
    std::vector<unsigned> inSignature_;
    Firebird::IResultSet* resultSet_ = nullptr;
    bool open_ = false;
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
