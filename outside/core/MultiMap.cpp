#include "MultiMap.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

#include "MapWindow.h"
#include "ModuleIo.h"
#include "ModuleSupport.h"

namespace norvix::outside {

namespace {

constexpr qint64 kMaxHeaderBytes = 64 * 1024;
constexpr qint64 kMaxListBytes = 1 << 20;
constexpr int kMaxListLines = 5000;

QDateTime parseWhen(const QString& date, const QString& time) {
    QDate day;
    for (const char* format : {"dd/MM/yyyy", "d/M/yyyy", "dd/MM/yy"}) {
        day = QDate::fromString(date, QString::fromLatin1(format));
        if (day.isValid()) break;
    }
    if (day.isValid() && day.year() < 1950) day = day.addYears(100);  // "yy" reads as 19yy
    const QTime at = QTime::fromString(time, QStringLiteral("HH:mm:ss"));
    return day.isValid() && at.isValid() ? QDateTime(day, at) : QDateTime();
}

// One line of the host's exam list: [type letter] "Olho Direito - " | "Olho Esquerdo - "
// date time.
struct ListLine {
    QString text;  // without the type letter: what goes back to the host
    char type = 'T';
    bool right = true;
    QDateTime when;
};

bool parseListLine(const QString& raw, bool lettered, ListLine* out) {
    QString line = raw.trimmed();
    ListLine l;
    if (lettered) {
        if (line.isEmpty() || (line[0] != QLatin1Char('T') && line[0] != QLatin1Char('O'))) return false;
        l.type = char(line[0].toLatin1());
        line = line.mid(1);
    }
    static const QRegularExpression shape(QStringLiteral("^Olho (Direito|Esquerdo) - (\\S+) (\\d{2}:\\d{2}:\\d{2})$"));
    const QRegularExpressionMatch m = shape.match(line);
    if (!m.hasMatch()) return false;
    l.right = m.captured(1) == QLatin1String("Direito");
    l.when = parseWhen(m.captured(2), m.captured(3));
    if (!l.when.isValid()) return false;
    l.text = line;
    *out = l;
    return true;
}

class WizardDialog : public QDialog {
public:
    WizardDialog(const WizardRules& rules, const std::vector<ListLine>& lines, int ignored, QWidget* parent)
        : QDialog(parent), rules_(rules), lines_(lines) {
        setObjectName(QStringLiteral("frmWizard"));
        setWindowTitle(rules.title);
        setModal(true);
        auto* root = new QVBoxLayout(this);
        auto* instruction = new QLabel(rules.instruction, this);
        instruction->setObjectName(QStringLiteral("lblInstrucao"));
        instruction->setWordWrap(true);
        root->addWidget(instruction);
        list_ = new QListWidget(this);
        list_->setObjectName(QStringLiteral("lswExames"));
        for (const ListLine& l : lines) {
            QString text = l.text;
            if (rules.lettered)
                text += l.type == 'O' ? QStringLiteral("  (Ortoceratologia)") : QStringLiteral("  (Topografia)");
            auto* item = new QListWidgetItem(text, list_);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
            item->setCheckState(Qt::Unchecked);
        }
        list_->setMinimumSize(420, 220);
        root->addWidget(list_, 1);
        if (ignored > 0) {
            auto* skipped = new QLabel(
                QStringLiteral("%1 linha(s) da lista de exames não foram reconhecidas e foram ignoradas.").arg(ignored),
                this);
            skipped->setObjectName(QStringLiteral("lblIgnoradas"));
            skipped->setWordWrap(true);
            root->addWidget(skipped);
        }
        if (rules.offerMapKind) {
            auto* row = new QHBoxLayout;
            axial_ = new QRadioButton(QStringLiteral("Axial"), this);
            axial_->setObjectName(QStringLiteral("rbtAxial"));
            auto* tangential = new QRadioButton(QStringLiteral("Tangencial"), this);
            tangential->setObjectName(QStringLiteral("rbtTangencial"));
            (rules.defaultKind == MapKind::Axial ? axial_ : tangential)->setChecked(true);
            row->addWidget(new QLabel(QStringLiteral("Mapa:"), this));
            row->addWidget(axial_);
            row->addWidget(tangential);
            row->addStretch(1);
            root->addLayout(row);
        }
        if (rules.offerMirror) {
            mirror_ = new QCheckBox(QStringLiteral("Espelhar o olho esquerdo"), this);
            mirror_->setObjectName(QStringLiteral("chkEspelhar"));
            root->addWidget(mirror_);
        }
        status_ = new QLabel(this);
        status_->setObjectName(QStringLiteral("lblAviso"));
        status_->setWordWrap(true);
        status_->setStyleSheet(QStringLiteral("color: #b00000;"));
        root->addWidget(status_);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch(1);
        ok_ = new QPushButton(QStringLiteral("OK"), this);
        ok_->setObjectName(QStringLiteral("btnOK"));
        auto* cancel = new QPushButton(QStringLiteral("Cancelar"), this);
        cancel->setObjectName(QStringLiteral("btnCancelar"));
        buttons->addWidget(ok_);
        buttons->addWidget(cancel);
        root->addLayout(buttons);
        connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
        connect(list_, &QListWidget::itemChanged, this, [this] { check(); });
        check();
    }

    std::vector<ListLine> chosen() const {
        std::vector<ListLine> out;
        for (int i = 0; i < list_->count(); ++i)
            // Read as the int it is stored as: checkState() would register the enum's meta-type
            // from inside this library, which the host unloads after the call, leaving Qt's
            // type registry pointing into unmapped memory for the next module.
            if (list_->item(i)->data(Qt::CheckStateRole).toInt() == Qt::Checked) out.push_back(lines_[size_t(i)]);
        std::stable_sort(out.begin(), out.end(), [&](const ListLine& a, const ListLine& b) {
            if (rules_.oneOfEachEye && a.right != b.right) return a.right;
            return a.when < b.when;
        });
        return out;
    }
    QStringList options() const {
        QStringList o;
        if (axial_) o << (axial_->isChecked() ? QStringLiteral("MAPA=Axial") : QStringLiteral("MAPA=Tangencial"));
        if (mirror_) o << QStringLiteral("ESPELHAR=%1").arg(mirror_->isChecked() ? 1 : 0);
        return o;
    }

private:
    // OK only for a choice the layout can show; the label says what is missing.
    void check() {
        const std::vector<ListLine> c = chosen();
        int right = 0, left = 0;
        for (const ListLine& l : c) ++(l.right ? right : left);
        const int n = int(c.size());
        QString why;
        if (rules_.oneOfEachEye) {
            if (right != 1 || left != 1)
                why = QStringLiteral("Escolha um exame do olho direito e um do olho esquerdo.");
        } else if (n < rules_.minimum) {
            why = QStringLiteral("Escolha pelo menos %1 exames.").arg(rules_.minimum);
        } else if (n > rules_.maximum) {
            why = QStringLiteral("Escolha no máximo %1 exames.").arg(rules_.maximum);
        } else if (rules_.sameEye && right > 0 && left > 0) {
            why = QStringLiteral("Os exames escolhidos devem ser do mesmo olho.");
        }
        status_->setText(why);
        ok_->setEnabled(why.isEmpty());
    }

    WizardRules rules_;
    std::vector<ListLine> lines_;
    QListWidget* list_ = nullptr;
    QRadioButton* axial_ = nullptr;
    QCheckBox* mirror_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* ok_ = nullptr;
};

QString optionValue(ModuleStream* options, const char* key) {
    const QString prefix = QString::fromLatin1(key) + QLatin1Char('=');
    for (const QString& line : readStreamLines(options, 64 * 1024))
        if (line.trimmed().startsWith(prefix, Qt::CaseInsensitive)) return line.trimmed().mid(prefix.size());
    return QString();
}

}  // namespace

QDateTime ExamHeader::when() const { return parseWhen(line(4), line(5)); }

bool ExamHeader::isExample() const {
    // A stored patient's code is a plain positive number, never "00".
    return line(0) == QLatin1String("Exemplo") && line(1) == QLatin1String("00") && line(2) == QLatin1String("00");
}

QString ExamHeader::caption() const {
    QStringList parts;
    if (!isExample() && !patient().isEmpty()) parts << patient();
    parts << QStringLiteral("%1  %2 %3").arg(eyeText(), line(4), line(5)).trimmed();
    return parts.join(QLatin1Char('\n'));
}

int ringsIn(const TMatrizAngAnel& d, const TMatrizAng* meridians) {
    int most = 0;
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        if (meridians) {
            most = std::max(most, std::clamp<int>((*meridians)[k], 0, NORVIX_MAX_RINGS));
            continue;
        }
        for (int i = NORVIX_MAX_RINGS; i > most; --i) {
            if (std::isfinite(d[k][i]) && d[k][i] > 0) {
                most = i;
                break;
            }
        }
    }
    return most;
}

bool readExams(const TDadosPac* headers, const TMatrizesAngAnel* m, const TMatrizesAng* meridians,
               const TMatrizesAngAnel* d, int count, const TInfosQV* infos, Exams* out, QString* error) {
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    out->clear();
    if (!headers || !m || !d || !infos || (count > 0 && (!headers->items || !m->items || !d->items)))
        return fail(QStringLiteral("Dados dos exames ausentes."));
    if (count < 1) return fail(QStringLiteral("Nenhum exame foi recebido."));
    if (headers->count < count || m->count < count || d->count < count ||
        (meridians && (meridians->count < count || !meridians->items)))
        return fail(QStringLiteral("O número de exames (%1) não confere com os dados recebidos.").arg(count));
    const int rings = infos->NumAneis;
    for (int i = 0; i < count; ++i) {
        auto e = std::make_unique<Exam>();
        e->header.lines = readStreamLines(headers->items[i], kMaxHeaderBytes);
        const TMatrizAng* mer = meridians ? &meridians->items[i] : nullptr;
        e->rings = ringsIn(d->items[i], mer);
        // Without a meridian vector the ring count of the configuration bounds every meridian;
        // the data's own zeros end the shorter ones.
        e->hasMap = e->map.load(&d->items[i], &m->items[i], mer, mer ? NORVIX_MAX_RINGS : rings, &e->why);
        e->d = &d->items[i];
        e->m = &m->items[i];
        e->meridians = mer;
        out->push_back(std::move(e));
    }
    return true;
}

void sortByDate(Exams* exams) {
    std::stable_sort(exams->begin(), exams->end(), [](const std::unique_ptr<Exam>& a, const std::unique_ptr<Exam>& b) {
        const QDateTime x = a->header.when(), y = b->header.when();
        if (x.isValid() != y.isValid()) return x.isValid();
        return x.isValid() && x < y;
    });
}

QString ringCountNotice(const Exams& exams) {
    int lo = NORVIX_MAX_RINGS + 1, hi = 0;
    for (const auto& e : exams) {
        if (!e->hasMap) continue;
        lo = std::min(lo, e->rings);
        hi = std::max(hi, e->rings);
    }
    if (hi == 0 || lo == hi) return QString();
    return QStringLiteral(
               "Exames com números de anéis diferentes (%1 e %2): a comparação vale só na área medida em ambos.")
        .arg(lo)
        .arg(hi);
}

int32_t runWizard(void* hostWindow, ModuleStream* examList, ModuleStream* selection, ModuleStream* options,
                  const WizardRules& rules, const char* module) {
    if (!selection || !selection->write) {
        reportFailure(module, QStringLiteral("fluxo de seleção ausente."));
        return 0;
    }
    if (!examList || !examList->read) {
        reportFailure(module, QStringLiteral("lista de exames ausente."));
        return 0;
    }
    std::vector<ListLine> lines;
    int ignored = 0;
    const QStringList listed = readStreamLines(examList, kMaxListBytes);
    for (const QString& text : listed) {
        if (text.trimmed().isEmpty()) continue;
        ListLine l;
        if (int(lines.size()) >= kMaxListLines || !parseListLine(text, rules.lettered, &l))
            ++ignored;
        else if (!rules.orthoOnly || l.type == 'O')
            lines.push_back(l);
    }
    if (ignored > 0)
        reportFailure(module,
                      QStringLiteral("%1 linha(s) da lista de exames ignoradas (formato desconhecido).").arg(ignored));
    WizardDialog dialog(rules, lines, ignored, static_cast<QWidget*>(hostWindow));
    if (dialog.exec() != QDialog::Accepted) return 0;
    QStringList chosen;
    for (const ListLine& l : dialog.chosen()) chosen << l.text;
    if (!writeToStream(selection, crlfLines(chosen))) return 0;
    if (options && options->write) writeToStream(options, crlfLines(dialog.options()));
    return 1;
}

MapKind optionKind(ModuleStream* options, MapKind fallback) {
    const QString v = optionValue(options, "MAPA");
    if (v.compare(QLatin1String("Axial"), Qt::CaseInsensitive) == 0) return MapKind::Axial;
    if (v.compare(QLatin1String("Tangencial"), Qt::CaseInsensitive) == 0) return MapKind::Tangential;
    return fallback;
}

bool optionFlag(ModuleStream* options, const char* key) { return optionValue(options, key) == QLatin1String("1"); }

// ---- the window ------------------------------------------------------------------------------

// A map or scale drawn by its painter at the side the window gives it. Its size hints follow the
// side it is drawn with (the width of a map stays at the smallest side), so a larger drawing
// never keeps the window from shrinking back.
class TileImage : public QLabel {
public:
    TileImage(QWidget* parent, TilePainter paint, bool map) : QLabel(parent), paint_(std::move(paint)), map_(map) {
        setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        setSizePolicy(map ? QSizePolicy::Expanding : QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    void drawAt(int side) {
        const QImage picture = paint_(side);
        setPixmap(QPixmap::fromImage(picture));
        hint_ = QSize(map_ ? tileSize() : picture.width(), picture.height());
        updateGeometry();
    }
    QSize sizeHint() const override { return hint_; }
    QSize minimumSizeHint() const override { return hint_; }
    int row = 0;

private:
    TilePainter paint_;
    bool map_;
    QSize hint_;
};

MultiMapWindow::MultiMapWindow(const QString& title, QWidget* parent) : QDialog(parent), side_(tileSize()) {
    setObjectName(QStringLiteral("frmMultiMapa"));
    setWindowTitle(title);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setModal(true);
    auto* root = new QVBoxLayout(this);
    notice_ = new QLabel(this);
    notice_->setObjectName(QStringLiteral("lblAviso"));
    notice_->setWordWrap(true);
    notice_->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
    notice_->hide();
    root->addWidget(notice_);
    // Eight exams with their differences may not fit a small screen: the maps scroll.
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("scrMapas"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->viewport()->installEventFilter(this);
    auto* content = new QWidget(scroll_);
    tiles_ = new QGridLayout(content);
    tiles_->setHorizontalSpacing(8);
    tiles_->setContentsMargins(0, 0, 0, 0);
    scroll_->setWidget(content);
    root->addWidget(scroll_, 1);
    below_ = new QVBoxLayout;
    root->addLayout(below_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* close = new QPushButton(QStringLiteral("Fechar"), this);
    close->setObjectName(QStringLiteral("btnFechar"));
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(close);
    root->addLayout(buttons);
    // Drawn again once the resizing pauses: a maximise redraws each map once, not per step.
    regrowTimer_ = new QTimer(this);
    regrowTimer_->setSingleShot(true);
    regrowTimer_->setInterval(80);
    connect(regrowTimer_, &QTimer::timeout, this, &MultiMapWindow::regrow);
}

MultiMapWindow::~MultiMapWindow() = default;

QLabel* MultiMapWindow::addTile(int row, int column, const QString& name, const QString& caption, TilePainter paint) {
    auto* box = new QVBoxLayout;
    QWidget* content = scroll_->widget();
    auto* text = new QLabel(caption, content);
    text->setObjectName(name + QStringLiteral("Legenda"));
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    text->setMaximumWidth(side_);
    captions_.push_back(text);
    auto* image = new TileImage(content, std::move(paint), true);
    image->setObjectName(name);
    image->row = row;
    image->drawAt(side_);
    maps_.push_back(image);
    box->addWidget(text);
    box->addWidget(image);
    tiles_->addLayout(box, row, column);
    return image;
}

bool MultiMapWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == scroll_->viewport() && event->type() == QEvent::Resize) regrowTimer_->start();
    return QDialog::eventFilter(watched, event);
}

void MultiMapWindow::regrow() {
    if (maps_.empty()) return;
    int narrowest = std::numeric_limits<int>::max();
    std::vector<int> rows;
    for (const TileImage* map : maps_) {
        narrowest = std::min(narrowest, map->width());
        if (std::find(rows.begin(), rows.end(), map->row) == rows.end()) rows.push_back(map->row);
    }
    // What the grid needs besides the maps themselves (captions, spacing) stays; the rest of the
    // visible height is shared by the rows of maps.
    const int others = tiles_->sizeHint().height() - int(rows.size()) * side_;
    const int tallest = (scroll_->viewport()->height() - others) / int(rows.size());
    const int side = std::max(tileSize(), std::min(narrowest, tallest));
    if (side == side_) return;
    side_ = side;
    for (QLabel* caption : captions_) caption->setMaximumWidth(side);
    for (TileImage* picture : maps_) picture->drawAt(side);
    for (TileImage* picture : scales_) picture->drawAt(side);
}

namespace {
class DoubleClickFilter : public QObject {
public:
    DoubleClickFilter(QObject* parent, std::function<void()> action) : QObject(parent), action_(std::move(action)) {}
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() != QEvent::MouseButtonDblClick) return false;
        action_();
        return true;
    }

private:
    std::function<void()> action_;
};
}  // namespace

void MultiMapWindow::linkFullMap(QLabel* tile, const Exam& exam, MapKind kind, const TInfosQV* infos) {
    if (!tile || !exam.hasMap || !exam.d || !exam.m) return;
    MapRequest request;
    request.kind = kind;
    request.d = exam.d;
    request.m = exam.m;
    request.meridians = exam.meridians;
    request.header = exam.header.lines;
    request.infos = infos;
    tile->setToolTip(QStringLiteral("Clique duas vezes para abrir o mapa completo."));
    tile->installEventFilter(new DoubleClickFilter(tile, [request, this] { showMapWindow(request, this); }));
}

void MultiMapWindow::addScale(int row, int column, const ColourScale& scale, const QString& name) {
    auto* image = new TileImage(
        scroll_->widget(), [scale](int side) { return MapPainter::drawScale(scale, 64, side); }, false);
    image->setObjectName(name);
    image->drawAt(side_);
    scales_.push_back(image);
    tiles_->addWidget(image, row, column, Qt::AlignBottom);
}

void MultiMapWindow::addNotice(const QString& text) {
    if (text.isEmpty()) return;
    notice_->setText(notice_->text().isEmpty() ? text : notice_->text() + QLatin1Char('\n') + text);
    notice_->show();
}

QString MultiMapWindow::noticeText() const { return notice_->text(); }

bool MultiMapWindow::show(MultiMapWindow& window) {
    // The whole grid when the screen holds it, otherwise as much as fits and a scroll bar.
    const QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    const int below = window.below_->sizeHint().height();
    // The notice (word-wrapped, a line or several) takes its height from the maps' room too:
    // otherwise the table and "Fechar" are pushed below the screen.
    const int width = screen ? screen->availableGeometry().width() - 40 : 1200;
    const int notice = window.notice_->isHidden() ? 0 : window.notice_->heightForWidth(width) + 6;
    const QSize room = screen ? screen->availableGeometry().size() - QSize(40, 120 + below + notice) : QSize(1200, 700);
    const QSize want = window.scroll_->widget()->sizeHint() + QSize(4, 4);
    window.scroll_->setMinimumSize(want.boundedTo(room.expandedTo(QSize(400, 300))));
    // Room the maps do not take (a maximised window's) gathers below them, not between rows.
    window.tiles_->setRowStretch(window.tiles_->rowCount(), 1);
    runModal(window);
    return true;
}

int tileSize() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return 220;
    const QSize room = screen->availableGeometry().size();
    // Four tiles and a scale across; two rows of tiles and a table down.
    const int across = (room.width() - 64 - 100) / 4, down = (room.height() - 300) / 2 - 40;
    return std::clamp(std::min(across, down), 130, 220);
}

QString dioptreText(double v) {
    if (!std::isfinite(v)) return QStringLiteral("-");
    if (std::fabs(v) < 0.005) v = 0;  // no "-0.00"
    return decimal(v, 2) + QStringLiteral(" D");
}

void fitTable(QTableWidget* table, int visibleRows) {
    QHeaderView* columns = table->horizontalHeader();
    columns->setSectionResizeMode(QHeaderView::Stretch);
    columns->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    // One line per row: the columns are not laid out yet, so fitting rows to their texts now
    // would wrap them into narrow columns.
    table->setWordWrap(false);
    const int row = table->verticalHeader()->defaultSectionSize();
    for (int r = 0; r < table->rowCount(); ++r) table->setRowHeight(r, row);
    table->setFixedHeight(columns->sizeHint().height() + 2 * table->frameWidth() + 2 +
                          row * std::min(visibleRows, table->rowCount()));
}

void showFailure(void* hostWindow, const QString& title, const QString& why) {
    MultiMapWindow window(title, static_cast<QWidget*>(hostWindow));
    window.addNotice(QStringLiteral("Não é possível mostrar os mapas: %1").arg(why));
    MultiMapWindow::show(window);
}

QImage examPicture(const Exam& exam, MapKind kind, const ColourScale& scale, const MapOptions& options, int side) {
    if (exam.hasMap) return MapPainter::drawMap(exam.map, kind, scale, side, options);
    QImage img(side, side, QImage::Format_RGB32);
    img.fill(QColor(225, 225, 225));
    QPainter p(&img);
    p.setPen(QColor(176, 0, 0));
    p.drawText(img.rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap,
               QStringLiteral("Sem mapa: %1").arg(exam.why));
    return img;
}

SmoothedPower::SmoothedPower(const CornealMap& map, MapKind kind) {
    constexpr double kHalfArcMm = 0.5;
    for (int ri = 0; ri < kRadii; ++ri) {
        const double r = ri * kStepMm;
        double p[NORVIX_MERIDIANS];
        double sum[2 * NORVIX_MERIDIANS + 1] = {0};
        int count[2 * NORVIX_MERIDIANS + 1] = {0};
        for (int k = 0; k < NORVIX_MERIDIANS; ++k) p[k] = map.powerAt(kind, r, k);
        // Prefix sums over two turns, so that every window is one subtraction.
        for (int i = 0; i < 2 * NORVIX_MERIDIANS; ++i) {
            const double v = p[i % NORVIX_MERIDIANS];
            sum[i + 1] = sum[i] + (std::isfinite(v) ? v : 0.0);
            count[i + 1] = count[i] + (std::isfinite(v) ? 1 : 0);
        }
        const double halfDeg = kHalfArcMm / std::max(r, 1e-3) * 180.0 / 3.14159265358979;
        const int half = std::clamp(int(std::lround(halfDeg)), 1, NORVIX_MERIDIANS / 2);
        const int width = std::min(2 * half + 1, NORVIX_MERIDIANS);
        for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
            double& out = grid_[ri][k];
            out = std::nan("");
            if (!std::isfinite(p[k])) continue;  // the measured zone keeps its own edge
            const int from = (k - half + NORVIX_MERIDIANS) % NORVIX_MERIDIANS;
            const int n = count[from + width] - count[from];
            if (n > 0) out = (sum[from + width] - sum[from]) / n;
        }
    }
}

double SmoothedPower::at(double r, double thetaDeg) const {
    if (!(r >= 0) || r > (kRadii - 1) * kStepMm) return std::nan("");
    double th = std::fmod(thetaDeg, 360.0);
    if (th < 0) th += 360.0;
    const int r0 = std::min(int(r / kStepMm), kRadii - 2), k0 = int(th) % NORVIX_MERIDIANS;
    const double fr = r / kStepMm - r0, fk = th - std::floor(th);
    double value = 0, weight = 0;
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) {
            const double v = grid_[r0 + i][(k0 + j) % NORVIX_MERIDIANS];
            const double w = (i ? fr : 1 - fr) * (j ? fk : 1 - fk);
            if (!std::isfinite(v) || w <= 0) continue;
            value += w * v;
            weight += w;
        }
    return weight >= 0.5 ? value / weight : std::nan("");
}

const SmoothedPower& Exam::smoothed(MapKind kind) const {
    auto& slot = smoothed_[kind == MapKind::Axial ? 0 : 1];
    if (!slot) slot = std::make_unique<SmoothedPower>(map, kind);
    return *slot;
}

double powerDifference(const Exam& later, const Exam& earlier, MapKind kind, double r, double thetaDeg) {
    if (!later.hasMap || !earlier.hasMap) return std::nan("");
    return later.smoothed(kind).at(r, thetaDeg) - earlier.smoothed(kind).at(r, thetaDeg);
}

double largestDifference(const Exam& later, const Exam& earlier, MapKind kind) {
    double most = 0;
    for (double r = 0.25; r <= MapPainter::kFieldMm / 2; r += 0.25)
        for (int a = 0; a < 360; a += 5) {
            const double v = powerDifference(later, earlier, kind, r, a);
            if (std::isfinite(v)) most = std::max(most, std::fabs(v));
        }
    return most;
}

ColourScale sharedScale(const Exams& exams, MapKind kind, const TInfosQV* infos) {
    double sum = 0;
    int n = 0;
    for (const auto& e : exams) {
        if (!e->hasMap) continue;
        sum += e->map.keratometry(kind).meanPower();
        ++n;
    }
    return scaleFor(infos, n > 0 ? sum / n : 43.0);
}

QString kindText(MapKind kind) {
    return kind == MapKind::Axial ? QStringLiteral("Axial") : QStringLiteral("Tangencial");
}

int32_t showExams(const char* module, const QString& title, void* hostWindow, const TDadosPac* headers,
                  const TMatrizesAngAnel* m, const TMatrizesAng* meridians, const TMatrizesAngAnel* d, int count,
                  const TInfosQV* infos, const std::function<void(Exams&)>& show) {
    return guardedEntry(module, [&]() -> int32_t {
        Exams exams;
        QString why;
        if (!readExams(headers, m, meridians, d, count, infos, &exams, &why)) {
            reportFailure(module, why);
            showFailure(hostWindow, title, why);
            return 0;
        }
        show(exams);
        return 1;
    });
}

}  // namespace norvix::outside
