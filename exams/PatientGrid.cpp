#include "PatientGrid.h"

#include <QApplication>
#include <QPainter>

#include "records/UArquivosExameTexto.h"
#include "records/UfrmDataModule.h"

namespace norvix {

namespace {
// The keys the list is ordered by, and the conditions that continue it after or before a row.
// The indexes on (NOME, CODIGO), ascending and descending, let the server walk them from any
// point instead of sorting the whole table.
const char* const kNameOrderAsc = "Pacientes.Nome ASC, Pacientes.Codigo ASC";
const char* const kNameOrderDesc = "Pacientes.Nome DESC, Pacientes.Codigo DESC";
const char* const kCodeOrderAsc = "Pacientes.Codigo ASC";
const char* const kCodeOrderDesc = "Pacientes.Codigo DESC";
}  // namespace

TPatientGridModel::TPatientGridModel(QObject* parent) : QAbstractTableModel(parent) {}

QString TPatientGridModel::baseCondition() const {
    switch (filter_) {
    case Filter::Todos: return QStringLiteral("1=1");
    case Filter::SemExames: return QStringLiteral("Pacientes.TotalExames = :TotalExames");
    case Filter::Medico:
        return QStringLiteral(
            "EXISTS (SELECT 1 FROM Exames WHERE Exames.CodPaciente = Pacientes.Codigo AND "
            "Exames.CodResp = :CodigoMedico)");
    }
    return QStringLiteral("1=1");
}

std::deque<TPatientGridModel::Row> TPatientGridModel::page(bool forward, const Row* key, bool inclusive,
                                                           int count) const {
    QString condition = baseCondition();
    FbParams params;
    if (filter_ == Filter::SemExames) params.push_back({QStringLiteral("TotalExames"), 0});
    if (filter_ == Filter::Medico) params.push_back({QStringLiteral("CodigoMedico"), doctor_});
    if (key) {
        const QString cmp = forward ? QStringLiteral(">") : QStringLiteral("<");
        const QString codeCmp = inclusive ? cmp + QStringLiteral("=") : cmp;
        if (byName_) {
            // "+0": the code only breaks ties between equal names; the server must walk the
            // name index from the key, not gather the codes through another one.
            condition += QStringLiteral(" AND Pacientes.Nome %1= :KNome AND (Pacientes.Nome %1 :KNome OR "
                                        "Pacientes.Codigo+0 %2 :KCodigo)")
                             .arg(cmp, codeCmp);
            params.push_back({QStringLiteral("KNome"), key->name});
        } else {
            condition += QStringLiteral(" AND Pacientes.Codigo %1 :KCodigo").arg(codeCmp);
        }
        params.push_back({QStringLiteral("KCodigo"), key->code});
    }
    const char* order = byName_ ? (forward ? kNameOrderAsc : kNameOrderDesc) : (forward ? kCodeOrderAsc : kCodeOrderDesc);
    // Whether another patient has the same name (letter case aside), and the same birth date
    // too: the index on UPPER(NOME) answers each row with a short look-up.
    const QString sql =
        QStringLiteral("SELECT FIRST %1 Pacientes.Nome, Pacientes.Codigo, Pacientes.DataNascimento, "
                       "IIF(EXISTS(SELECT 1 FROM Pacientes H WHERE UPPER(H.Nome) = UPPER(Pacientes.Nome) AND "
                       "H.Codigo <> Pacientes.Codigo), 1, 0) AS Homonimo, "
                       "IIF(EXISTS(SELECT 1 FROM Pacientes H WHERE UPPER(H.Nome) = UPPER(Pacientes.Nome) AND "
                       "H.Codigo <> Pacientes.Codigo AND H.DataNascimento IS NOT DISTINCT FROM "
                       "Pacientes.DataNascimento), 1, 0) AS MesmoNascimento FROM Pacientes WHERE %2 ORDER BY %3")
            .arg(count)
            .arg(condition, QLatin1String(order));
    norvix::FbQuery& q = DMPrincipal().openQuery(DMPrincipal().IBOperation, sql, params);
    std::deque<Row> out;
    for (; !q.eof(); q.next()) {
        Row r{q.asString(QStringLiteral("NOME")), q.asInt(QStringLiteral("CODIGO")), {}};
        if (q.asInt(QStringLiteral("HOMONIMO")) != 0) {
            const QString nascimento = q.asString(QStringLiteral("DATANASCIMENTO")).trimmed();
            const QString codigo = QStringLiteral("cód. %1").arg(r.code, 4, 10, QLatin1Char('0'));
            if (nascimento.isEmpty())
                r.distinction = codigo;
            else if (q.asInt(QStringLiteral("MESMONASCIMENTO")) != 0)
                r.distinction = QStringLiteral("nasc. %1, %2").arg(nascimento, codigo);
            else
                r.distinction = QStringLiteral("nasc. ") + nascimento;
        }
        out.push_back(r);
    }
    q.close();
    return out;
}

void TPatientGridModel::reset(Filter filter, int doctor, bool byName) {
    filter_ = filter;
    doctor_ = doctor;
    byName_ = byName;
    jumpToStart();
}

void TPatientGridModel::resetEmpty(Filter filter, int doctor, bool byName) {
    filter_ = filter;
    doctor_ = doctor;
    byName_ = byName;
    beginResetModel();
    rows_.clear();
    atStart_ = atEnd_ = true;  // nothing to fetch until a jump places the list
    endResetModel();
}

int TPatientGridModel::jumpToStart() {
    beginResetModel();
    rows_ = page(true, nullptr, false, kPage);
    atStart_ = true;
    atEnd_ = int(rows_.size()) < kPage;
    endResetModel();
    return rows_.empty() ? -1 : 0;
}

int TPatientGridModel::jumpToEnd() {
    std::deque<Row> back = page(false, nullptr, false, kPage);
    beginResetModel();
    rows_.assign(back.rbegin(), back.rend());
    atEnd_ = true;
    atStart_ = int(rows_.size()) < kPage;
    endResetModel();
    return int(rows_.size()) - 1;
}

int TPatientGridModel::anchorAt(const Row& key) {
    std::deque<Row> before = page(false, &key, false, kPage / 2);
    std::deque<Row> after = page(true, &key, true, kPage);
    if (after.empty()) return -1;
    beginResetModel();
    rows_.assign(before.rbegin(), before.rend());
    rows_.insert(rows_.end(), after.begin(), after.end());
    atStart_ = int(before.size()) < kPage / 2;
    atEnd_ = int(after.size()) < kPage;
    endResetModel();
    return int(before.size());
}

int TPatientGridModel::jumpToPrefix(const QString& prefix) {
    if (prefix.isEmpty()) return -1;
    FbParams params{{QStringLiteral("Prefixo"), prefix}};
    if (filter_ == Filter::SemExames) params.push_back({QStringLiteral("TotalExames"), 0});
    if (filter_ == Filter::Medico) params.push_back({QStringLiteral("CodigoMedico"), doctor_});
    // STARTING WITH is the case-sensitive prefix test; the ">=" gives the server the point in
    // the name index to start from.
    const QString match = QStringLiteral("%1 AND Pacientes.Nome >= :Prefixo AND Pacientes.Nome STARTING WITH :Prefixo")
                              .arg(baseCondition());
    norvix::FbQuery& q = DMPrincipal().openQuery(
        DMPrincipal().IBOperation,
        byName_ ? QStringLiteral("SELECT FIRST 1 Pacientes.Nome, Pacientes.Codigo FROM Pacientes WHERE %1 ORDER BY %2")
                      .arg(match, QLatin1String(kNameOrderAsc))
                : QStringLiteral("SELECT MIN(Pacientes.Codigo) AS Codigo FROM Pacientes WHERE %1").arg(match),
        params);
    const bool found = !q.isEmpty() && !q.isNull(QStringLiteral("CODIGO"));
    const int code = found ? q.asInt(QStringLiteral("CODIGO")) : 0;
    const QString name = byName_ && found ? q.asString(QStringLiteral("NOME")) : QString();
    q.close();
    if (!found) return -1;
    if (const int row = rowOfCode(code); row >= 0) return row;  // already in view
    return byName_ ? anchorAt({name, code, {}}) : jumpToCode(code);
}

int TPatientGridModel::jumpToPrefixIgnoringCase(const QString& prefix) {
    if (prefix.isEmpty()) return -1;
    FbParams params{{QStringLiteral("Prefixo"), norvix::MaiusculasComAcentos(prefix)}};
    if (filter_ == Filter::SemExames) params.push_back({QStringLiteral("TotalExames"), 0});
    if (filter_ == Filter::Medico) params.push_back({QStringLiteral("CodigoMedico"), doctor_});
    // The index on UPPER(NOME) finds the matches; the first of them in the list's order is
    // taken. In the name order no match lies before the prefix in capitals (a capital letter,
    // accented or not, comes before its small letter), so the walk of the name index starts
    // there rather than at the top of the list.
    const QString match = QStringLiteral("%1 AND %2UPPER(Pacientes.Nome) STARTING WITH CAST(:Prefixo AS VARCHAR(50))")
                              .arg(baseCondition(), byName_ ? QStringLiteral("Pacientes.Nome >= :Prefixo AND ")
                                                            : QString());
    norvix::FbQuery& q = DMPrincipal().openQuery(
        DMPrincipal().IBOperation,
        QStringLiteral("SELECT FIRST 1 Pacientes.Nome, Pacientes.Codigo FROM Pacientes WHERE %1 ORDER BY %2")
            .arg(match, QLatin1String(byName_ ? kNameOrderAsc : kCodeOrderAsc)),
        params);
    const bool found = !q.isEmpty();
    const Row key = found ? Row{q.asString(QStringLiteral("NOME")), q.asInt(QStringLiteral("CODIGO")), {}} : Row{};
    q.close();
    if (!found) return -1;
    if (const int row = rowOfCode(key.code); row >= 0) return row;
    return byName_ ? anchorAt(key) : jumpToCode(key.code);
}

int TPatientGridModel::jumpToName(const QString& name) {
    if (name.isEmpty()) return -1;
    FbParams params{{QStringLiteral("Nome"), norvix::MaiusculasComAcentos(name)}};
    if (filter_ == Filter::SemExames) params.push_back({QStringLiteral("TotalExames"), 0});
    if (filter_ == Filter::Medico) params.push_back({QStringLiteral("CodigoMedico"), doctor_});
    // The index on UPPER(NOME) gives the few patients of that name; the order by expressions
    // keeps the server from walking the whole name index in order to find them.
    const QString sql = QStringLiteral("SELECT FIRST 1 Pacientes.Nome, Pacientes.Codigo FROM Pacientes WHERE %1 AND "
                                       "UPPER(Pacientes.Nome) = CAST(:Nome AS VARCHAR(50)) ORDER BY %2")
                            .arg(baseCondition(), byName_ ? QStringLiteral("Pacientes.Nome || '', Pacientes.Codigo + 0")
                                                          : QStringLiteral("Pacientes.Codigo + 0"));
    norvix::FbQuery& q = DMPrincipal().openQuery(DMPrincipal().IBOperation, sql, params);
    if (q.isEmpty()) {
        q.close();
        return -1;
    }
    const Row key{q.asString(QStringLiteral("NOME")), q.asInt(QStringLiteral("CODIGO")), {}};
    q.close();
    if (const int row = rowOfCode(key.code); row >= 0) return row;
    return anchorAt(key);
}

int TPatientGridModel::jumpToCode(int code) {
    FbParams params{{QStringLiteral("Codigo"), code}};
    if (filter_ == Filter::SemExames) params.push_back({QStringLiteral("TotalExames"), 0});
    if (filter_ == Filter::Medico) params.push_back({QStringLiteral("CodigoMedico"), doctor_});
    norvix::FbQuery& q = DMPrincipal().openQuery(
        DMPrincipal().IBOperation,
        QStringLiteral("SELECT Pacientes.Nome, Pacientes.Codigo FROM Pacientes WHERE %1 AND Pacientes.Codigo = :Codigo")
            .arg(baseCondition()),
        params);
    if (q.isEmpty()) {
        q.close();
        return -1;
    }
    const Row key{q.asString(QStringLiteral("NOME")), code, {}};
    q.close();
    return anchorAt(key);
}

int TPatientGridModel::codeAt(int row) const { return row >= 0 && row < int(rows_.size()) ? rows_[row].code : 0; }
QString TPatientGridModel::nameAt(int row) const {
    return row >= 0 && row < int(rows_.size()) ? rows_[row].name : QString();
}

int TPatientGridModel::rowOfCode(int code) const {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].code == code) return int(i);
    return -1;
}

int TPatientGridModel::fetchBefore() {
    if (atStart_ || rows_.empty()) return 0;
    const Row first = rows_.front();
    std::deque<Row> before = page(false, &first, false, kPage);
    atStart_ = int(before.size()) < kPage;
    if (before.empty()) return 0;
    beginInsertRows(QModelIndex(), 0, int(before.size()) - 1);
    for (const Row& r : before) rows_.push_front(r);
    endInsertRows();
    return int(before.size());
}

bool TPatientGridModel::canFetchMore(const QModelIndex& parent) const { return !parent.isValid() && !atEnd_; }

void TPatientGridModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent) || rows_.empty()) return;
    const Row last = rows_.back();
    std::deque<Row> after = page(true, &last, false, kPage);
    atEnd_ = int(after.size()) < kPage;
    if (after.empty()) return;
    beginInsertRows(QModelIndex(), int(rows_.size()), int(rows_.size() + after.size()) - 1);
    rows_.insert(rows_.end(), after.begin(), after.end());
    endInsertRows();
}

int TPatientGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(rows_.size()); }
int TPatientGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 1; }

QVariant TPatientGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(rows_.size())) return QVariant();
    const Row& r = rows_[index.row()];
    if (role == Qt::DisplayRole || role == Qt::EditRole) return r.name;
    if (role == kDistinctionRole) return r.distinction;
    if (role == Qt::ToolTipRole && !r.distinction.isEmpty()) return QStringLiteral("%1 (%2)").arg(r.name, r.distinction);
    return QVariant();
}

QVariant TPatientGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role == Qt::DisplayRole && orientation == Qt::Horizontal && section == 0) return QStringLiteral("Nome");
    return QVariant();
}

void TPatientNameDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* view = opt.widget;
    QStyle* style = view ? view->style() : QApplication::style();
    // The row's background and selection as the style draws them, without its text.
    const QString text = opt.text;
    opt.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, view);
    QRect box = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, view).adjusted(2, 0, -2, 0);
    const QPalette::ColorGroup group = opt.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
    painter->setPen(opt.palette.color(group, opt.state & QStyle::State_Selected ? QPalette::HighlightedText
                                                                                  : QPalette::Text));
    painter->setFont(opt.font);
    // A namesake's birth date or code stays in view at the right; the name gives way to it.
    if (const QString distinction = index.data(TPatientGridModel::kDistinctionRole).toString(); !distinction.isEmpty()) {
        const int width = opt.fontMetrics.horizontalAdvance(distinction);
        painter->drawText(box, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, distinction);
        box.setRight(box.right() - width - opt.fontMetrics.horizontalAdvance(QStringLiteral("  ")));
    }
    painter->drawText(box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      opt.fontMetrics.elidedText(text, Qt::ElideRight, box.width()));
}

}  // namespace norvix
