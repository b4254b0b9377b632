#include "records/CursorModel.h"

namespace norvix {

CursorModel::CursorModel(FbDataSet* cursor, QObject* parent)
    : QAbstractTableModel(parent), cursor_(cursor) {
    refresh();
}

void CursorModel::setCursor(FbDataSet* cursor) {
    cursor_ = cursor;
    refresh();
}

void CursorModel::setColumns(const QStringList& columns, const QStringList& titles) {
    columns_ = columns;
    titles_ = titles;
    refresh();
}

void CursorModel::refresh() {
    beginResetModel();
    indexes_.clear();
    shown_ = 0;
    if (cursor_ && cursor_->active()) {
        const QStringList names = columns_.isEmpty() ? cursor_->fieldNames() : columns_;
        for (const QString& n : names) indexes_ << cursor_->columnIndex(n);
        shown_ = std::min(cursor_->fetchedCount(), kPage);
        if (shown_ < kPage && !cursor_->fetchedAll()) {
            cursor_->fetchTo(kPage - 1);
            shown_ = std::min(cursor_->fetchedCount(), kPage);
        }
    }
    endResetModel();
}

int CursorModel::currentRow() const {
    return cursor_ && cursor_->active() ? cursor_->recNo() : -1;
}

bool CursorModel::setCurrentRow(int row) {
    if (!cursor_ || row < 0 || row >= shown_) return false;
    return cursor_->moveTo(row);
}

bool CursorModel::reveal(int row) {
    if (!cursor_ || !cursor_->active() || row < 0) return false;
    if (row < shown_) return true;
    if (!cursor_->fetchTo(row)) return false;
    // Whole pages, as scrolling would have shown them.
    const int target = std::min(cursor_->fetchedCount(), (row / kPage + 1) * kPage);
    beginInsertRows(QModelIndex(), shown_, target - 1);
    shown_ = target;
    endInsertRows();
    return true;
}

int CursorModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown_;
}

int CursorModel::columnCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return columns_.isEmpty() ? int(indexes_.size()) : int(columns_.size());
}

int CursorModel::cursorColumn(int section) const {
    return section >= 0 && section < indexes_.size() ? indexes_[section] : -1;
}

QVariant CursorModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !cursor_ || index.row() >= shown_) return QVariant();
    const int column = cursorColumn(index.column());
    if (column < 0) return role == Qt::DisplayRole ? QVariant(QString()) : QVariant();
    // Rows up to shown_ are already in the cursor's memory: valueAt fetches nothing here.
    const QVariant v = const_cast<FbDataSet*>(cursor_)->valueAt(index.row(), column);
    switch (role) {
    case Qt::DisplayRole: return fbValueText(v);
    case Qt::EditRole: return v;
    case Qt::TextAlignmentRole:
        if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong ||
            v.typeId() == QMetaType::Double)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant();
    default: return QVariant();
    }
}

QVariant CursorModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return QVariant();
    if (orientation == Qt::Vertical) return section + 1;
    if (section < 0 || section >= columnCount()) return QVariant();
    if (section < titles_.size() && !titles_[section].isEmpty()) return titles_[section];
    if (!columns_.isEmpty()) return columns_[section];
    return cursor_ ? cursor_->fieldNames().value(section) : QVariant();
}

bool CursorModel::canFetchMore(const QModelIndex& parent) const {
    if (parent.isValid() || !cursor_ || !cursor_->active()) return false;
    return shown_ < cursor_->fetchedCount() || !cursor_->fetchedAll();
}

void CursorModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent)) return;
    cursor_->fetchTo(shown_ + kPage - 1);
    const int target = std::min(cursor_->fetchedCount(), shown_ + kPage);
    if (target <= shown_) return;
    beginInsertRows(QModelIndex(), shown_, target - 1);
    shown_ = target;
    endInsertRows();
}

}  // namespace norvix
