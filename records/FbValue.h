#pragma once
// Values travelling to and from the database: the error type of the layer, parameter values
// bound by name, and the program's text notation of a column value.
#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>
#include <QVariant>
#include <cstddef>
#include <vector>

#include "platform/Errors.h"

namespace norvix {

// A failure reported by the database: the text is the server's message as it formats it,
// except for two kinds the operator can act on, which carry a message of their own: a row that
// another workstation is changing (try again shortly) and a connection that broke (the next
// operation attaches again by itself, see FbDatabase::recover).
class DatabaseError : public Error {
public:
    enum class Kind { Other, LockConflict, ConnectionLost };
    explicit DatabaseError(const QString& message, Kind kind = Kind::Other)
        : Error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

    static DatabaseError lockConflict() {
        return DatabaseError(QStringLiteral("O registro está sendo alterado em outra estação de "
                                            "trabalho. Tente novamente em instantes."),
                             Kind::LockConflict);
    }
    static DatabaseError connectionLost() {
        return DatabaseError(QStringLiteral("A conexão com o servidor de banco de dados foi "
                                            "perdida. Verifique a rede e o servidor; a próxima "
                                            "operação tenta conectar de novo."),
                             Kind::ConnectionLost);
    }

private:
    Kind kind_;
};

// ---------------------------------------------------------------------------------------------
// Parameter values.

// One parameter value: integer, text, date, time (bound to the whole second), double, blob
// (bytes) or NULL. Texts are QString; a QByteArray is always a blob. Constructors are implicit
// so that parameter lists read naturally:
// {{"Codigo", 5}, {"Nome", nome}, {"Data", QDate::currentDate()}}.
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

}  // namespace norvix
