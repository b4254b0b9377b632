#pragma once
// The rows of the browser's patient grid: names and codes of the patients the doctor filter
// lists, in name or creation order, fetched in short pages around the place the operator is
// looking at. A clinic of 100,000 patients is never read whole: scrolling down or up fetches
// the next page by its key (the last or first name and code shown), and a jump to a name
// costs two short queries wherever the name lies. Only the name and the code of a row (and
// what tells it from its namesakes) are kept; the full row of the current patient stands in
// the data module's patient query.
#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QString>
#include <deque>

namespace norvix {

class TPatientGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum class Filter { Todos, SemExames, Medico };
    static constexpr int kPage = 100;
    // What tells a row apart from its namesakes ("nasc. 15/03/1980", or the code when the
    // birth dates do not); empty when no other patient has the name.
    static constexpr int kDistinctionRole = Qt::UserRole + 1;

    explicit TPatientGridModel(QObject* parent = nullptr);

    // Starts over at the first patient of the list.
    void reset(Filter filter, int doctor, bool byName);
    // The same list, left empty until a jump (to a code or a name) fetches the rows around
    // its target: the first page would only be read to be thrown away.
    void resetEmpty(Filter filter, int doctor, bool byName);
    bool byName() const { return byName_; }

    // Re-reads the list around a place, which becomes a row of the model; each returns that
    // row, or -1 when there is no such patient (the rows then stay as they were).
    int jumpToPrefix(const QString& prefix);      // first whose name begins with it (case-sensitive)
    // First whose name begins with it in either case, accented letters too (the patient
    // picker's rule: the text upper-cased as MaiusculasComAcentos does, against UPPER(NOME)).
    int jumpToPrefixIgnoringCase(const QString& prefix);
    int jumpToName(const QString& name);          // first whose name equals it, ignoring case
    int jumpToCode(int code);                     // the patient of that code
    int jumpToStart();
    int jumpToEnd();

    int codeAt(int row) const;
    QString nameAt(int row) const;
    int rowOfCode(int code) const;  // among the rows in memory, -1 when not there

    // More rows before the first one in memory (fetchMore gives those after the last); the
    // number of rows put in front.
    int fetchBefore();
    bool atStart() const { return atStart_; }
    bool atEnd() const { return atEnd_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    struct Row {
        QString name;
        int code;
        QString distinction;
    };
    // Rows after (forward) or before (backward) a key, nearest first; key absent: from the end.
    std::deque<Row> page(bool forward, const Row* key, bool inclusive, int count) const;
    int anchorAt(const Row& key);
    QString baseCondition() const;

    Filter filter_ = Filter::Todos;
    int doctor_ = 0;
    bool byName_ = true;
    std::deque<Row> rows_;
    bool atStart_ = true;
    bool atEnd_ = true;
};

// Paints the grid's names as single lines, elided at the cell's end (a namesake's distinction
// kept whole at the right): the list is the browser's
// largest painting, and the general delegate lays every name out as a paragraph.
class TPatientNameDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace norvix
