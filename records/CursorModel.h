#pragma once
// A read-only table model over a cursor of the data module, for the grids of the windows.
// Rows are fetched from the cursor in pages as the view scrolls; the cursor stays the owner of
// the data and of the current row.
#include <QAbstractTableModel>
#include <QStringList>

#include "records/FbDatabase.h"

namespace norvix {

class CursorModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit CursorModel(FbDataSet* cursor = nullptr, QObject* parent = nullptr);

    void setCursor(FbDataSet* cursor);
    FbDataSet* cursor() const { return cursor_; }
    // The columns shown, by name, with their titles; empty: every column under its own name.
    // A name the cursor does not have shows empty cells.
    void setColumns(const QStringList& columns, const QStringList& titles = QStringList());
    // Reads the cursor again: call it after the cursor was opened, closed or given a new
    // statement.
    void refresh();

    // The cursor's current row, -1 when none; making a row current moves the cursor.
    int currentRow() const;
    bool setCurrentRow(int row);
    // Makes the rows up to row part of the model (fetching them when needed); false when the
    // result has no such row.
    bool reveal(int row);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

    static constexpr int kPage = 100;

private:
    int cursorColumn(int section) const;
    FbDataSet* cursor_ = nullptr;
    QStringList columns_;
    QStringList titles_;
    QList<int> indexes_;  // cursor column of each section
    int shown_ = 0;
};

}  // namespace norvix
