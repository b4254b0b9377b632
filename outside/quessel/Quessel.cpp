// The progression module: three or more topographies of one eye in date order, and the trend of
// the maximum curvature, the simulated keratometry and the inferior-superior asymmetry over time,
// flagging progression when the maximum curvature rises by 1 D or more within 12 months (the
// usual criterion for referral). Exports InfoMapa, Wizard (first form), ProcessaMapas (first
// form).
#include <QLabel>
#include <QPainter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>
#include <type_traits>

#include "modules/ModuleContract.h"
#include "outside/math/KeratoconusIndices.h"
#include "outside/core/MapWindow.h"
#include "outside/core/ModuleIo.h"
#include "outside/core/ModuleSupport.h"
#include "outside/core/MultiMap.h"

using namespace norvix::outside;

namespace {

constexpr const char* kName = "Quessel";
const QString kTitle = QStringLiteral("Evolução");
constexpr double kRiseD = 1.0;        // the referral criterion: this much steeper ...
constexpr double kWithinDays = 366;   // ... within 12 months
constexpr int kColumns = 4;

struct Trend {
    QDateTime when;
    double kmax = NAN, kmean = NAN, is = NAN;
};

Trend trendOf(const Exam& e) {
    Trend t;
    t.when = e.header.when();
    if (!e.hasMap) return t;
    double lo = 0;
    e.map.powerRange(MapKind::Axial, &lo, &t.kmax);
    t.kmean = e.map.keratometry(MapKind::Axial).meanPower();
    t.is = keratoconusIndices(e.map).inferiorSuperior;  // the map window's own figure
    return t;
}

// The largest rise of the maximum curvature between two exams at most 12 months apart.
QString progressionText(const std::vector<Trend>& trends, bool* progressing) {
    double rise = 0;
    qint64 days = 0;
    for (size_t i = 0; i < trends.size(); ++i)
        for (size_t j = i + 1; j < trends.size(); ++j) {
            const Trend &a = trends[i], &b = trends[j];
            if (!a.when.isValid() || !b.when.isValid() || !std::isfinite(a.kmax) || !std::isfinite(b.kmax)) continue;
            const qint64 apart = a.when.daysTo(b.when);
            if (apart < 0 || apart > kWithinDays) continue;
            if (b.kmax - a.kmax > rise) {
                rise = b.kmax - a.kmax;
                days = apart;
            }
        }
    *progressing = rise >= kRiseD;
    if (*progressing)
        return QStringLiteral("PROGRESSÃO: a curvatura máxima subiu %1 em %2 dias (critério: 1 D ou mais em 12 meses).")
            .arg(dioptreText(rise))
            .arg(days);
    return QStringLiteral("Sem progressão pelo critério de 1 D ou mais em 12 meses (maior aumento: %1).").arg(dioptreText(rise));
}

// Two panels over time: Kmax and K médio (D) above, I-S (D) below.
QImage trendPlot(const std::vector<Trend>& trends) {
    const int w = 660, h = 200, left = 56, right = 110, panel = 72, gap = 26, top = 10;
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QFont f = p.font();
    f.setPixelSize(11);
    p.setFont(f);
    QDateTime first, last;
    for (const Trend& t : trends) {
        if (!t.when.isValid()) continue;
        if (!first.isValid() || t.when < first) first = t.when;
        if (!last.isValid() || t.when > last) last = t.when;
    }
    const double span = first.isValid() ? std::max<qint64>(1, first.secsTo(last)) : 1;
    auto xOf = [&](size_t i) {
        const Trend& t = trends[i];
        if (!t.when.isValid() || !first.isValid()) return left + (w - left - right) * (i + 0.5) / double(trends.size());
        return left + (w - left - right) * (first.secsTo(t.when) / span);
    };
    struct Series {
        double Trend::*field;
        QColor colour;
        QString name;
        int panelIndex;
    };
    const Series series[] = {{&Trend::kmax, QColor(200, 0, 0), QStringLiteral("K máx"), 0},
                             {&Trend::kmean, QColor(0, 90, 200), QStringLiteral("K médio"), 0},
                             {&Trend::is, QColor(0, 140, 60), QStringLiteral("I-S"), 1}};
    for (int pi = 0; pi < 2; ++pi) {
        double lo = 1e9, hi = -1e9;
        for (const Series& s : series)
            if (s.panelIndex == pi)
                for (const Trend& t : trends)
                    if (std::isfinite(t.*s.field)) lo = std::min(lo, t.*s.field), hi = std::max(hi, t.*s.field);
        if (lo > hi) lo = 0, hi = 1;
        const double pad = std::max(0.5, 0.1 * (hi - lo));
        lo -= pad;
        hi += pad;
        const int y0 = top + pi * (panel + gap);
        const QRect frame(left, y0, w - left - right, panel);
        p.setPen(QColor(160, 160, 160));
        p.drawRect(frame);
        p.setPen(Qt::black);
        p.drawText(QRect(0, y0 - 6, left - 4, 14), Qt::AlignRight, decimal(hi, 1));
        p.drawText(QRect(0, y0 + panel - 8, left - 4, 14), Qt::AlignRight, decimal(lo, 1));
        auto yOf = [&](double v) { return y0 + panel * (hi - v) / (hi - lo); };
        int legend = 0;
        for (const Series& s : series) {
            if (s.panelIndex != pi) continue;
            p.setPen(QPen(s.colour, 2));
            QPointF prev;
            bool have = false;
            for (size_t i = 0; i < trends.size(); ++i) {
                const double v = trends[i].*s.field;
                if (!std::isfinite(v)) continue;
                const QPointF at(xOf(i), yOf(v));
                if (have) p.drawLine(prev, at);
                p.drawEllipse(at, 3, 3);
                prev = at;
                have = true;
            }
            p.drawText(QRect(w - right + 8, y0 + 4 + 16 * legend++, right - 8, 14), Qt::AlignLeft, s.name + QStringLiteral(" (D)"));
        }
    }
    p.setPen(Qt::black);
    const int yDates = top + 2 * panel + gap + 4;
    for (size_t i = 0; i < trends.size(); ++i)
        if (trends[i].when.isValid())
            p.drawText(QRectF(xOf(i) - 40, yDates, 80, 14), Qt::AlignCenter, trends[i].when.toString(QStringLiteral("dd/MM/yy")));
    return img;
}

void showTrend(void* hostWindow, Exams& exams, MapKind kind, const TInfosQV* infos) {
    sortByDate(&exams);
    MultiMapWindow window(QStringLiteral("%1 - %2").arg(kTitle, kindText(kind)), static_cast<QWidget*>(hostWindow));
    if (exams.size() < 3) window.addNotice(QStringLiteral("A evolução pede pelo menos três exames; foram recebidos %1.").arg(exams.size()));
    bool mixed = false;
    for (const auto& e : exams) mixed = mixed || e->header.rightEye() != exams.front()->header.rightEye();
    if (mixed) window.addNotice(QStringLiteral("Os exames não são todos do mesmo olho."));
    const size_t shown = std::min<size_t>(exams.size(), kMaxMultiExams);
    if (exams.size() > shown) window.addNotice(QStringLiteral("Mostrados os %1 primeiros de %2 exames.").arg(shown).arg(exams.size()));
    const ColourScale scale = sharedScale(exams, kind, infos);
    const MapOptions options = optionsFor(infos);
    for (size_t i = 0; i < shown; ++i) {
        const Exam& e = *exams[i];
        window.linkFullMap(window.addTile(int(i) / kColumns, int(i) % kColumns, QStringLiteral("imgMapa%1").arg(i),
                                          e.header.caption(),
                                          [&e, kind, scale, options](int side) { return examPicture(e, kind, scale, options, side); }),
                           e, kind, infos);
        if (!e.hasMap) window.addNotice(QStringLiteral("Exame %1: %2").arg(i + 1).arg(e.why));
    }
    window.addScale(0, kColumns, scale, QStringLiteral("imgEscala"));
    window.addNotice(ringCountNotice(exams));

    std::vector<Trend> trends;
    for (size_t i = 0; i < shown; ++i) trends.push_back(trendOf(*exams[i]));
    bool progressing = false;
    auto* verdict = new QLabel(progressionText(trends, &progressing), &window);
    verdict->setObjectName(QStringLiteral("lblProgressao"));
    verdict->setWordWrap(true);
    verdict->setStyleSheet(progressing ? QStringLiteral("color: #b00000; font-weight: bold;") : QString());
    window.below()->addWidget(verdict);
    auto* plot = new QLabel(&window);
    plot->setObjectName(QStringLiteral("imgTendencia"));
    plot->setPixmap(QPixmap::fromImage(trendPlot(trends)));
    window.below()->addWidget(plot);
    auto* table = new QTableWidget(int(trends.size()), 4, &window);
    table->setObjectName(QStringLiteral("tblTendencia"));
    table->setHorizontalHeaderLabels({QStringLiteral("Data"), QStringLiteral("K máx"), QStringLiteral("K médio"), QStringLiteral("I-S")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int i = 0; i < int(trends.size()); ++i) {
        const Trend& t = trends[size_t(i)];
        table->setItem(i, 0, new QTableWidgetItem(t.when.isValid() ? t.when.toString(QStringLiteral("dd/MM/yyyy")) : QStringLiteral("-")));
        table->setItem(i, 1, new QTableWidgetItem(dioptreText(t.kmax)));
        table->setItem(i, 2, new QTableWidgetItem(dioptreText(t.kmean)));
        table->setItem(i, 3, new QTableWidgetItem(dioptreText(t.is)));
    }
    fitTable(table, 3);
    window.below()->addWidget(table);
    MultiMapWindow::show(window);
}

}  // namespace

NORVIX_MODULE_EXPORT void InfoMapa(ModuleStream* out) {
    writeToStream(out, crlfLines({kTitle, QStringLiteral("2"), QStringLiteral("3")}));
}

NORVIX_MODULE_EXPORT int32_t Wizard(void* hostWindow, ModuleStream* examList, ModuleStream* selection,
                                    ModuleStream* options, const TInfosQV* /*infos*/) {
    return guardedEntry(kName, [&] {
        WizardRules rules;
        rules.title = kTitle + QStringLiteral(" - escolha dos exames");
        rules.instruction = QStringLiteral("Marque de 3 a %1 exames de topografia do mesmo olho; serão mostrados em ordem de data.")
                                .arg(kMaxMultiExams);
        rules.minimum = 3;
        rules.sameEye = true;
        rules.offerMapKind = true;
        return runWizard(hostWindow, examList, selection, options, rules, kName);
    });
}

NORVIX_MODULE_EXPORT int32_t ProcessaMapas(void* hostWindow, const TDadosPac* headers, const TMatrizesAngAnel* m,
                                           const TMatrizesAng* meridians, const TMatrizesAngAnel* d,
                                           const TMatPup* /*pupils*/, int32_t examCount, ModuleStream* options,
                                           const TInfosQV* infos) {
    return showExams(kName, kTitle, hostWindow, headers, m, meridians, d, examCount, infos,
                     [&](Exams& exams) { showTrend(hostWindow, exams, optionKind(options, MapKind::Axial), infos); });
}

static_assert(std::is_same_v<decltype(&InfoMapa), TInfoMapa>);
static_assert(std::is_same_v<decltype(&Wizard), TWizard>);
static_assert(std::is_same_v<decltype(&ProcessaMapas), TProcessaMapas>);
