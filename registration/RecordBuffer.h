#pragma once
// The edit buffer of the registration windows: a named data source (DSPacientes, DSMedicos)
// over a table cursor of the data module. It holds the cursor's current row in memory, lets
// the bound controls edit it (each edit limited to its column's width in the schema), and
// never writes anything: the windows save through the stored procedures and then reopen the
// cursor. States as the operator sees them: browsing a row, changing it, or a new row.
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;

namespace norvix {

class FbTable;

class TRecordBuffer : public QObject {
    Q_OBJECT
public:
    enum class State { Inactive, Browse, Edit, Insert };
    // How a bound edit shows and takes its column's text (see registration/Documentos.h).
    enum class Format { Text, Cpf, Cep, Digits, Date };

    // name: the data source's name (its objectName).
    TRecordBuffer(FbTable& table, const QString& name, QObject* parent = nullptr);

    FbTable& table() const { return table_; }
    State state() const { return state_; }
    bool editing() const { return state_ == State::Edit || state_ == State::Insert; }
    bool hasRow() const;

    // Reads the cursor's current row again (after the cursor was opened, closed or moved);
    // pending edits are dropped.
    void refresh();
    // Opens the cursor when it is closed, then refresh().
    void open();
    void edit();    // the row on show becomes changeable; nothing without a row
    void append();  // a new empty row, only in memory
    // The edits or the new row dropped; the row the edits began on is shown again.
    void cancel();

    // The column's text as edited (a new row: as typed so far), or as stored.
    QString value(const QString& column) const;
    QString storedValue(const QString& column) const;
    // The columns an edit has touched since the row was read (upper case).
    QStringList editedColumns() const { return edits_.keys(); }
    int storedInt(const QString& column) const;
    // Takes a value into the row being changed or added (a browsed row is changed first);
    // a text wider than the column is cut to it. Nothing happens without a row.
    void setValue(const QString& column, const QString& text);
    // The column's width in characters, from the cursor's description; 0 when unknown.
    int width(const QString& column) const;

    // Moving the cursor; pending edits are dropped.
    void first();
    void prior();
    void next();
    void last();
    bool locate(const QString& column, const QVariant& value);  // whether a row matched
    // The first row whose text column equals text, ignoring letter case.
    bool locateIgnoringCase(const QString& column, const QString& text);
    bool atFirst() const;
    bool atLast();

    // Controls that show the row and change it. An edit gets the column's width as its
    // limit; a list shows a stored value it does not offer as an extra entry, so that
    // saving keeps it; a choice stores values[i] for its button of id i.
    void bind(QLineEdit* edit, const QString& column, Format format = Format::Text);
    void bind(QComboBox* combo, const QString& column);
    void bind(QButtonGroup* group, const QString& column, const QStringList& values);
    void bind(QLabel* label, const QString& column);
    // Read-only bound controls take no edits (the windows' HabilitaEdicao/DesabilitaEdicao).
    void setReadOnly(bool readOnly);
    bool readOnly() const { return readOnly_; }

private:
    struct Binding {
        QPointer<QObject> control;
        QString column;
        Format format = Format::Text;
        QStringList values;
    };
    void take(const QString& column, const QString& text, const QObject* from);
    void readRow();
    void show();  // every control from the row
    void show(const Binding& b);
    void applyWidths();
    void applyReadOnly(const Binding& b);
    QString fromControl(const Binding& b, const QString& text) const;

    FbTable& table_;
    State state_ = State::Inactive;
    QHash<QString, QString> stored_;  // upper-case column → text
    QHash<QString, QString> edits_;
    QList<Binding> bindings_;
    bool showing_ = false;  // controls being filled from the row: not an edit
    bool readOnly_ = false;
};

}  // namespace norvix
