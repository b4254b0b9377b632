#include "RecordBuffer.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "Documentos.h"
#include "records/FbDatabase.h"

namespace norvix {

namespace {
// Room for the punctuation an operator may paste around the digits of a formatted field; the
// validator counts the digits.
constexpr int kFormattedInput = 32;
// A list entry added for a stored value the list does not offer.
constexpr int kExtraRole = Qt::UserRole + 7;
}  // namespace

TRecordBuffer::TRecordBuffer(FbTable& table, const QString& name, QObject* parent)
    : QObject(parent), table_(table) {
    setObjectName(name);
}

bool TRecordBuffer::hasRow() const {
    return state_ == State::Insert || (table_.active() && table_.recNo() >= 0);
}

void TRecordBuffer::readRow() {
    stored_.clear();
    if (!table_.active() || table_.recNo() < 0) return;
    for (const QString& column : table_.fieldNames()) stored_.insert(column, table_.asString(column));
}

void TRecordBuffer::refresh() {
    edits_.clear();
    readRow();
    applyWidths();
    state_ = table_.active() ? State::Browse : State::Inactive;
    show();
}

void TRecordBuffer::open() {
    table_.open();
    refresh();
}

void TRecordBuffer::edit() {
    if (state_ == State::Browse && hasRow()) state_ = State::Edit;
}

void TRecordBuffer::append() {
    edits_.clear();
    stored_.clear();
    applyWidths();
    state_ = State::Insert;
    show();
}

void TRecordBuffer::cancel() {
    if (state_ == State::Browse || state_ == State::Inactive) return;
    // A commit or a rollback since the edits began reopened the cursor on its first row: the
    // row they began on is found again by its code.
    const QString codigo = stored_.value(QStringLiteral("CODIGO"));
    if (state_ == State::Edit && !codigo.isEmpty() && table_.active() && table_.hasField(QStringLiteral("CODIGO")) &&
        table_.asString(QStringLiteral("CODIGO")) != codigo)
        table_.locate(QStringLiteral("CODIGO"), codigo.toInt());
    refresh();
}

QString TRecordBuffer::value(const QString& column) const {
    const QString key = column.toUpper();
    const auto it = edits_.constFind(key);
    return it != edits_.constEnd() ? *it : stored_.value(key);
}

QString TRecordBuffer::storedValue(const QString& column) const { return stored_.value(column.toUpper()); }

int TRecordBuffer::storedInt(const QString& column) const { return storedValue(column).toInt(); }

int TRecordBuffer::width(const QString& column) const { return table_.textWidth(column); }

void TRecordBuffer::setValue(const QString& column, const QString& text) { take(column, text, nullptr); }

void TRecordBuffer::take(const QString& column, const QString& text, const QObject* from) {
    if (state_ == State::Browse && hasRow()) state_ = State::Edit;
    if (!editing()) return;
    const int w = width(column);
    const QString key = column.toUpper();
    edits_.insert(key, w > 0 ? text.left(w) : text);
    // Other controls of the column follow; the one typed in already shows it.
    for (const Binding& b : std::as_const(bindings_))
        if (b.column == key && b.control.data() != from) show(b);
}

// ---- moving ------------------------------------------------------------------------------------

void TRecordBuffer::first() {
    if (!table_.active()) return;
    table_.first();
    refresh();
}

void TRecordBuffer::prior() {
    if (!table_.active() || table_.recNo() <= 0) return;
    table_.prior();
    refresh();
}

void TRecordBuffer::next() {
    if (!table_.active() || atLast()) return;
    table_.next();
    refresh();
}

void TRecordBuffer::last() {
    if (!table_.active()) return;
    table_.last();
    refresh();
}

bool TRecordBuffer::locate(const QString& column, const QVariant& value) {
    if (!table_.active() || !table_.locate(column, value)) return false;
    refresh();
    return true;
}

bool TRecordBuffer::locateIgnoringCase(const QString& column, const QString& text) {
    if (!table_.active()) return false;
    const int start = table_.recNo();
    for (int row = 0; table_.moveTo(row); ++row) {
        if (table_.asString(column).compare(text, Qt::CaseInsensitive) == 0) {
            refresh();
            return true;
        }
    }
    if (start >= 0) table_.moveTo(start);
    return false;
}

bool TRecordBuffer::atFirst() const { return table_.recNo() <= 0; }

bool TRecordBuffer::atLast() {
    return !table_.active() || table_.recNo() < 0 || !table_.fetchTo(table_.recNo() + 1);
}

// ---- controls ----------------------------------------------------------------------------------

void TRecordBuffer::bind(QLineEdit* edit, const QString& column, Format format) {
    bindings_.append({edit, column.toUpper(), format, {}});
    const Binding b = bindings_.back();
    if (format == Format::Text) edit->setValidator(new documentos::Cp1252Validator(edit));
    connect(edit, &QLineEdit::textChanged, this, [this, b, edit](const QString& text) {
        if (!showing_) take(b.column, fromControl(b, text), edit);
    });
    applyWidths();
    applyReadOnly(b);
    show(b);
}

void TRecordBuffer::bind(QComboBox* combo, const QString& column) {
    bindings_.append({combo, column.toUpper(), Format::Text, {}});
    const Binding b = bindings_.back();
    if (combo->isEditable()) {
        combo->lineEdit()->setValidator(new documentos::Cp1252Validator(combo));
        connect(combo, &QComboBox::editTextChanged, this, [this, b, combo](const QString& text) {
            if (!showing_) take(b.column, text, combo);
        });
    } else {
        connect(combo, &QComboBox::currentIndexChanged, this, [this, b, combo] {
            if (!showing_) take(b.column, combo->currentText(), combo);
        });
    }
    applyWidths();
    applyReadOnly(b);
    show(b);
}

void TRecordBuffer::bind(QButtonGroup* group, const QString& column, const QStringList& values) {
    bindings_.append({group, column.toUpper(), Format::Text, values});
    const Binding b = bindings_.back();
    connect(group, &QButtonGroup::idClicked, this, [this, b, group](int id) {
        if (!showing_ && id >= 0 && id < b.values.size()) take(b.column, b.values.at(id), group);
    });
    applyReadOnly(b);
    show(b);
}

void TRecordBuffer::bind(QLabel* label, const QString& column) {
    bindings_.append({label, column.toUpper(), Format::Text, {}});
    show(bindings_.back());
}

void TRecordBuffer::setReadOnly(bool readOnly) {
    readOnly_ = readOnly;
    for (const Binding& b : std::as_const(bindings_)) applyReadOnly(b);
}

void TRecordBuffer::applyReadOnly(const Binding& b) {
    if (auto* edit = qobject_cast<QLineEdit*>(b.control)) {
        edit->setReadOnly(readOnly_);
    } else if (auto* combo = qobject_cast<QComboBox*>(b.control)) {
        combo->setEnabled(!readOnly_);
    } else if (auto* group = qobject_cast<QButtonGroup*>(b.control)) {
        for (QAbstractButton* button : group->buttons()) button->setEnabled(!readOnly_);
    }
}

void TRecordBuffer::applyWidths() {
    for (const Binding& b : std::as_const(bindings_)) {
        const int w = width(b.column);
        if (w <= 0) continue;
        if (auto* edit = qobject_cast<QLineEdit*>(b.control)) {
            using documentos::FormatoValidator;
            switch (b.format) {
            case Format::Text: edit->setMaxLength(w); break;
            case Format::Cpf:
            case Format::Cep:
            case Format::Digits:
            case Format::Date: {
                if (qobject_cast<const FormatoValidator*>(edit->validator())) break;  // set before
                const auto kind = b.format == Format::Cpf    ? FormatoValidator::Formato::Cpf
                                  : b.format == Format::Cep  ? FormatoValidator::Formato::Cep
                                  : b.format == Format::Date ? FormatoValidator::Formato::Data
                                                             : FormatoValidator::Formato::Digitos;
                // The CEP's hyphen takes one character of its column; a date holds 8 digits.
                const int digits = b.format == Format::Cep ? w - 1 : b.format == Format::Date ? 8 : w;
                edit->setValidator(new FormatoValidator(kind, digits, edit));
                edit->setMaxLength(kFormattedInput);
                break;
            }
            }
        } else if (auto* combo = qobject_cast<QComboBox*>(b.control); combo && combo->isEditable()) {
            combo->lineEdit()->setMaxLength(w);
        }
    }
}

QString TRecordBuffer::fromControl(const Binding& b, const QString& text) const {
    // A CPF is stored as its digits, whatever the mask shows.
    return b.format == Format::Cpf ? documentos::digitos(text) : text;
}

void TRecordBuffer::show() {
    for (const Binding& b : std::as_const(bindings_)) show(b);
}

void TRecordBuffer::show(const Binding& b) {
    if (!b.control) return;
    const bool wasShowing = showing_;
    showing_ = true;
    const QString v = value(b.column);
    if (auto* edit = qobject_cast<QLineEdit*>(b.control)) {
        const bool masked = b.format == Format::Cpf && documentos::digitos(v) == v;
        edit->setText(masked ? documentos::formataCpf(v) : v);
    } else if (auto* combo = qobject_cast<QComboBox*>(b.control)) {
        for (int i = combo->count() - 1; i >= 0; --i)
            if (combo->itemData(i, kExtraRole).toBool()) combo->removeItem(i);
        int index = combo->findText(v, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index < 0 && !v.isEmpty() && !combo->isEditable()) {
            combo->addItem(v);
            index = combo->count() - 1;
            combo->setItemData(index, true, kExtraRole);
        }
        combo->setCurrentIndex(index);
        if (combo->isEditable()) combo->setEditText(v);
    } else if (auto* group = qobject_cast<QButtonGroup*>(b.control)) {
        const int index = b.values.indexOf(v);
        if (index >= 0 && group->button(index)) {
            group->button(index)->setChecked(true);
        } else {
            group->setExclusive(false);
            for (QAbstractButton* button : group->buttons()) button->setChecked(false);
            group->setExclusive(true);
        }
    } else if (auto* label = qobject_cast<QLabel*>(b.control)) {
        label->setText(v);
    }
    showing_ = wasShowing;
}

}  // namespace norvix
