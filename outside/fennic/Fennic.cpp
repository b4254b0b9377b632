// The orthokeratology follow-up module: the tangential maps of a treatment's exams side by side,
// the difference of each to the first, and a table of the four lens figures per exam (Sag, Div,
// Raio, treatment-zone diameter; see outside/core/OrthoMetrics.h). From the new-exam window the
// exams are the four captures of one eye. Exports InfoMapa, Wizard (first form; the list carries
// type letters and only orthokeratology exams are offered), ProcessaMapas and ProcessaMapasOrto
// (the second form under its own name, which this program's host calls).
//
// ProcessaMapas is called in two forms under one name: the second form (headers, m, d, the
// orthokeratology table, configuration) for recorded exams, and possibly the first form (headers,
// m, meridian vectors, d, pupils, count, options, configuration) for the example exams. Both put
// the headers in the same place, so the headers and the data tell them apart: the first form
// comes only with the example header ("Exemplo", "00", "00"), and its third argument then holds
// meridian vectors (whole numbers 0..32), where the second form holds d matrices (doubles). Both
// forms pass their first six arguments in registers, so reading the six as either form is safe;
// the three further ones are read only when the first form is recognised.
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "modules/ModuleContract.h"
#include "outside/core/MapWindow.h"
#include "outside/core/ModuleIo.h"
#include "outside/core/ModuleSupport.h"
#include "outside/core/MultiMap.h"
#include "outside/math/OrthoMetrics.h"

using namespace norvix::outside;

namespace {

constexpr const char* kName = "Fennic";
const QString kTitle = QStringLiteral("Acompanhamento de Ortoceratologia");
constexpr int kColumns = 4;
constexpr MapKind kKind = MapKind::Tangential;

struct Row {
    Exam* exam = nullptr;
    double values[4] = {0, 0, 0, 0};  // Sag, Div, Raio, zone
    bool computed = false;            // from the maps, not from the host's table
};

bool looksLikeMeridianVector(const void* p) {
    int32_t v[NORVIX_MERIDIANS];
    std::memcpy(v, p, sizeof v);
    bool any = false;
    for (int32_t x : v) {
        if (x < 0 || x > NORVIX_MAX_RINGS) return false;
        any = any || x > 0;
    }
    return any;
}

QString number(double v, int decimals) { return std::isfinite(v) ? decimal(v, decimals) : QStringLiteral("-"); }

void showFollowUp(void* hostWindow, Exams& exams, const double (*table)[4], const TInfosQV* infos) {
    std::vector<Row> rows;
    for (size_t i = 0; i < exams.size(); ++i) {
        Row r;
        r.exam = exams[i].get();
        if (table) std::memcpy(r.values, table[i], sizeof r.values);
        for (double& v : r.values)
            if (!std::isfinite(v)) v = 0;  // not a figure: computed from the maps below
        rows.push_back(r);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        const QDateTime x = a.exam->header.when(), y = b.exam->header.when();
        return x.isValid() && y.isValid() && x < y;
    });
    MultiMapWindow window(kTitle, static_cast<QWidget*>(hostWindow));
    const size_t shown = std::min<size_t>(rows.size(), kMaxMultiExams);
    if (rows.size() > shown)
        window.addNotice(QStringLiteral("Mostrados os %1 primeiros de %2 exames.").arg(shown).arg(rows.size()));
    const ColourScale scale = sharedScale(exams, kKind, infos);
    const MapOptions options = optionsFor(infos);
    const Exam& first = *rows.front().exam;
    double largest = 0;
    for (size_t i = 1; i < shown; ++i) largest = std::max(largest, largestDifference(*rows[i].exam, first, kKind));
    const ColourScale diff = ColourScale::symmetric(largest);
    // Maps in the first of each pair of rows, their difference to the first exam below them.
    for (size_t i = 0; i < shown; ++i) {
        const Exam& e = *rows[i].exam;
        const int row = 2 * (int(i) / kColumns), column = int(i) % kColumns;
        window.linkFullMap(
            window.addTile(row, column, QStringLiteral("imgMapa%1").arg(i),
                           QStringLiteral("%1. %2").arg(i + 1).arg(e.header.caption()),
                           [&e, scale, options](int side) { return examPicture(e, kKind, scale, options, side); }),
            e, kKind, infos);
        if (!e.hasMap) window.addNotice(QStringLiteral("Exame %1: %2").arg(i + 1).arg(e.why));
        if (i > 0 && e.hasMap && first.hasMap)
            window.addTile(row + 1, column, QStringLiteral("imgDiferenca%1").arg(i),
                           QStringLiteral("%1 - 1").arg(i + 1), [&e, &first, diff, options](int side) {
                               return MapPainter::drawField(
                                   [&](double r, double th) { return powerDifference(e, first, kKind, r, th); }, diff,
                                   side, options);
                           });
    }
    window.addScale(0, kColumns, scale, QStringLiteral("imgEscala"));
    if (shown > 1) window.addScale(1, kColumns, diff, QStringLiteral("imgEscalaDiferenca"));
    window.addNotice(ringCountNotice(exams));

    // The figures: the host's where it has them; the zone (which the browser does not carry) and
    // the examples' figures from the maps.
    int missingZone = 0;
    for (size_t i = 0; i < shown; ++i) {
        Row& r = rows[i];
        const bool none = r.values[0] == 0 && r.values[1] == 0 && r.values[2] == 0;
        if ((none || r.values[3] == 0) && r.exam->hasMap) {
            OrthoValues v;
            if (orthoValues(r.exam->map, &v, nullptr)) {
                if (none) {
                    r.values[0] = v.sag;
                    r.values[1] = v.div;
                    r.values[2] = v.raio;
                    r.computed = true;
                }
                r.values[3] = v.zone;
            }
        }
        if (r.values[3] == 0) ++missingZone;
    }
    if (missingZone > 0)
        window.addNotice(
            QStringLiteral("Zona de tratamento não encontrada em %1 exame(s): não há anel mais curvo em volta "
                           "da zona central (olho sem tratamento?).")
                .arg(missingZone));
    auto* grid = new QTableWidget(int(shown), 5, &window);
    grid->setObjectName(QStringLiteral("tblValores"));
    grid->setHorizontalHeaderLabels({QStringLiteral("Exame"), QStringLiteral("Sag (mm)"), QStringLiteral("Div"),
                                     QStringLiteral("Raio (mm)"), QStringLiteral("Zona (mm)")});
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int i = 0; i < int(shown); ++i) {
        const Row& r = rows[size_t(i)];
        const ExamHeader& h = r.exam->header;
        grid->setItem(i, 0, new QTableWidgetItem(QStringLiteral("%1.  %2  %3").arg(i + 1).arg(h.line(4), h.line(5))));
        // Neither the host nor the maps gave the figures: "—", not zeros that read as a measure.
        const bool medidos = r.values[0] != 0 || r.values[1] != 0 || r.values[2] != 0;
        auto valor = [&](int k, int casas) { return medidos ? number(r.values[k], casas) : QStringLiteral("—"); };
        grid->setItem(i, 1, new QTableWidgetItem(valor(0, 3)));
        grid->setItem(i, 2, new QTableWidgetItem(valor(1, 2)));
        grid->setItem(i, 3, new QTableWidgetItem(valor(2, 2)));
        grid->setItem(
            i, 4, new QTableWidgetItem(r.values[3] > 0 ? number(r.values[3], 1) : QStringLiteral("não encontrada")));
    }
    fitTable(grid, 4);
    window.below()->addWidget(grid);
    MultiMapWindow::show(window);
}

}  // namespace

NORVIX_MODULE_EXPORT void InfoMapa(ModuleStream* out) {
    writeToStream(out, crlfLines({kTitle, QStringLiteral("2"), QStringLiteral("4")}));
}

NORVIX_MODULE_EXPORT int32_t Wizard(void* hostWindow, ModuleStream* examList, ModuleStream* selection,
                                    ModuleStream* options, const TInfosQV* /*infos*/) {
    return guardedEntry(kName, [&] {
        WizardRules rules;
        rules.title = kTitle + QStringLiteral(" - escolha dos exames");
        rules.instruction = QStringLiteral(
                                "Marque de 2 a %1 exames de ortoceratologia do mesmo olho; o primeiro (mais "
                                "antigo) é a referência das diferenças.")
                                .arg(kMaxMultiExams);
        rules.sameEye = true;
        rules.lettered = true;
        rules.orthoOnly = true;
        return runWizard(hostWindow, examList, selection, options, rules, kName);
    });
}

namespace {

// The exams of either form read, then the follow-up shown; the host gets 1, or 0 and the reason
// in the module's window.
int32_t followUp(void* hostWindow, bool read, Exams& exams, const QString& why, const double (*table)[4],
                 const TInfosQV* config) {
    if (!read) {
        reportFailure(kName, why);
        showFailure(hostWindow, kTitle, why);
        return 0;
    }
    showFollowUp(hostWindow, exams, table, config);
    return 1;
}

int32_t secondForm(void* hostWindow, const TDadosPac* headers, const TMatrizesAngAnel* m, const TMatrizesAngAnel* d,
                   const double (*table)[4], const TInfosQV* infos) {
    Exams exams;
    QString why;
    bool ok = readExams(headers, m, nullptr, d, headers ? headers->count : 0, infos, &exams, &why);
    // The host sizes the table to the exams (at least four rows).
    if (ok && !table) ok = false, why = QStringLiteral("Tabela de ortoceratologia ausente.");
    return followUp(hostWindow, ok, exams, why, table, infos);
}

}  // namespace

// Declared in the first form; see the top of this file for how the second is recognised.
NORVIX_MODULE_EXPORT int32_t ProcessaMapas(void* hostWindow, const TDadosPac* headers, const TMatrizesAngAnel* m,
                                           const TMatrizesAng* meridiansOrD, const TMatrizesAngAnel* dOrTable,
                                           const TMatPup* pupilsOrInfos, int32_t examCount, ModuleStream* /*options*/,
                                           const TInfosQV* infos) {
    return guardedEntry(kName, [&]() -> int32_t {
        bool firstForm = false;
        if (headers && headers->count > 0 && headers->items && headers->items[0] && meridiansOrD &&
            meridiansOrD->count > 0 && meridiansOrD->items) {
            ExamHeader h;
            h.lines = readStreamLines(headers->items[0], 64 * 1024);
            firstForm = h.isExample() && looksLikeMeridianVector(meridiansOrD->items);
        }
        // A second-form call passes six arguments: the parameters after the sixth are not
        // there, so they are neither read nor written then.
        if (!firstForm)
            return secondForm(hostWindow, headers, m, reinterpret_cast<const TMatrizesAngAnel*>(meridiansOrD),
                              reinterpret_cast<const double(*)[4]>(dOrTable),
                              reinterpret_cast<const TInfosQV*>(pupilsOrInfos));
        Exams exams;
        QString why;
        const bool ok = readExams(headers, m, meridiansOrD, dOrTable, examCount, infos, &exams, &why);
        return followUp(hostWindow, ok, exams, why, nullptr, infos);
    });
}

// The second form under a name of its own: a host that knows it never calls ProcessaMapas
// through the other form's type.
NORVIX_MODULE_EXPORT int32_t ProcessaMapasOrto(void* hostWindow, const TDadosPac* headers, const TMatrizesAngAnel* m,
                                               const TMatrizesAngAnel* d, const TTabelaOrto* table,
                                               const TInfosQV* infos) {
    return guardedEntry(kName, [&]() -> int32_t {
        return secondForm(hostWindow, headers, m, d, reinterpret_cast<const double(*)[4]>(table), infos);
    });
}

static_assert(std::is_same_v<decltype(&InfoMapa), TInfoMapa>);
static_assert(std::is_same_v<decltype(&Wizard), TWizard>);
static_assert(std::is_same_v<decltype(&ProcessaMapas), TProcessaMapas>);
static_assert(std::is_same_v<decltype(&ProcessaMapasOrto), TProcessaMapasOrto>);
