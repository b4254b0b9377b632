// The difference map module: two exams of one eye, later minus earlier, axial or tangential, in
// dioptres on a scale symmetric about zero, with both maps beside it. Exports InfoMapa, Wizard
// (second form: the list carries each exam's type letter, both types are offered) and
// ProcessaMapas (first form).
#include <QLabel>
#include <QVBoxLayout>
#include <cmath>
#include <type_traits>

#include "modules/ModuleContract.h"
#include "outside/core/MapWindow.h"
#include "outside/core/ModuleIo.h"
#include "outside/core/ModuleSupport.h"
#include "outside/core/MultiMap.h"

using namespace norvix::outside;

namespace {

constexpr const char* kName = "Ambrel";

struct Summary {
    double mean = 0, lowest = 0, highest = 0;
    int points = 0;
};

// The difference over the central zone of the given diameter.
Summary central(const Exam& later, const Exam& earlier, MapKind kind, double diameter) {
    Summary s;
    s.lowest = 1e9;
    s.highest = -1e9;
    double sum = 0;
    for (double r = 0; r <= diameter / 2 + 1e-9; r += 0.25)
        for (int a = 0; a < 360; a += 5) {
            const double v = powerDifference(later, earlier, kind, r, a);
            if (!std::isfinite(v)) continue;
            sum += v;
            s.lowest = std::min(s.lowest, v);
            s.highest = std::max(s.highest, v);
            ++s.points;
        }
    if (s.points > 0) s.mean = sum / s.points;
    return s;
}

QString summaryText(const Summary& s, double diameter) {
    if (s.points == 0) return QStringLiteral("Zona central de %1 mm: sem dados em ambos os exames.").arg(diameter, 0, 'f', 0);
    return QStringLiteral("Zona central de %1 mm: média %2, de %3 a %4")
        .arg(diameter, 0, 'f', 0)
        .arg(dioptreText(s.mean), dioptreText(s.lowest), dioptreText(s.highest));
}

void showDifference(void* hostWindow, Exams& exams, MapKind kind, const TInfosQV* infos) {
    sortByDate(&exams);
    MultiMapWindow window(QStringLiteral("Mapa Diferencial %1").arg(kindText(kind)), static_cast<QWidget*>(hostWindow));
    if (exams.size() > 2)
        window.addNotice(QStringLiteral("Foram recebidos %1 exames: a diferença é entre o primeiro e o último.").arg(exams.size()));
    const Exam& earlier = *exams.front();
    const Exam& later = *exams.back();
    const ColourScale scale = sharedScale(exams, kind, infos);
    const MapOptions options = optionsFor(infos);
    window.linkFullMap(window.addTile(0, 0, QStringLiteral("imgAnterior"), QStringLiteral("Anterior\n") + earlier.header.caption(),
                                      [&, scale, options](int side) { return examPicture(earlier, kind, scale, options, side); }),
                       earlier, kind, infos);
    if (exams.size() < 2) {
        window.addNotice(QStringLiteral("O mapa diferencial precisa de dois exames; foi recebido apenas um."));
        MultiMapWindow::show(window);
        return;
    }
    window.linkFullMap(window.addTile(0, 1, QStringLiteral("imgPosterior"), QStringLiteral("Posterior\n") + later.header.caption(),
                                      [&, scale, options](int side) { return examPicture(later, kind, scale, options, side); }),
                       later, kind, infos);
    window.addScale(0, 2, scale, QStringLiteral("imgEscala"));
    for (const auto& e : exams)
        if (!e->hasMap) window.addNotice(QStringLiteral("%1: %2").arg(e->header.caption().replace(QLatin1Char('\n'), QLatin1Char(' ')), e->why));
    window.addNotice(ringCountNotice(exams));
    if (earlier.header.rightEye() != later.header.rightEye()) {
        window.addNotice(QStringLiteral("Os exames são de olhos diferentes: a diferença não tem sentido clínico e não é mostrada."));
    } else if (earlier.hasMap && later.hasMap) {
        const ColourScale diff = ColourScale::symmetric(largestDifference(later, earlier, kind));
        window.addTile(0, 3, QStringLiteral("imgDiferenca"), QStringLiteral("Diferença\n(posterior - anterior)"),
                       [&, diff, options](int side) {
                           return MapPainter::drawField(
                               [&](double r, double th) { return powerDifference(later, earlier, kind, r, th); }, diff,
                               side, options);
                       });
        window.addScale(0, 4, diff, QStringLiteral("imgEscalaDiferenca"));
        auto* text = new QLabel(summaryText(central(later, earlier, kind, 3.0), 3.0) + QLatin1Char('\n') +
                                    summaryText(central(later, earlier, kind, 6.0), 6.0),
                                &window);
        text->setObjectName(QStringLiteral("lblResumo"));
        window.below()->addWidget(text);
    }
    MultiMapWindow::show(window);
}

}  // namespace

NORVIX_MODULE_EXPORT void InfoMapa(ModuleStream* out) {
    writeToStream(out, crlfLines({QStringLiteral("Mapa Diferencial"), QStringLiteral("2"), QStringLiteral("3")}));
}

NORVIX_MODULE_EXPORT int32_t Wizard(void* hostWindow, ModuleStream* examList, ModuleStream* selection,
                                    ModuleStream* options, uint8_t /*orthokeratology*/, const TInfosQV* /*infos*/) {
    return guardedEntry(kName, [&] {
        WizardRules rules;
        rules.title = QStringLiteral("Mapa Diferencial - escolha dos exames");
        rules.instruction = QStringLiteral("Marque dois exames do mesmo olho. O mapa mostra o exame mais recente menos o "
                                           "mais antigo, em dioptrias.");
        rules.minimum = rules.maximum = 2;
        rules.sameEye = true;
        rules.lettered = true;
        rules.offerMapKind = true;
        return runWizard(hostWindow, examList, selection, options, rules, kName);
    });
}

NORVIX_MODULE_EXPORT int32_t ProcessaMapas(void* hostWindow, const TDadosPac* headers, const TMatrizesAngAnel* m,
                                           const TMatrizesAng* meridians, const TMatrizesAngAnel* d,
                                           const TMatPup* /*pupils*/, int32_t examCount, ModuleStream* options,
                                           const TInfosQV* infos) {
    return showExams(kName, QStringLiteral("Mapa Diferencial"), hostWindow, headers, m, meridians, d, examCount, infos,
                     [&](Exams& exams) { showDifference(hostWindow, exams, optionKind(options, MapKind::Axial), infos); });
}

static_assert(std::is_same_v<decltype(&InfoMapa), TInfoMapa>);
static_assert(std::is_same_v<decltype(&Wizard), TWizardOrto>);
static_assert(std::is_same_v<decltype(&ProcessaMapas), TProcessaMapas>);
