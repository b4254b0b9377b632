// The module that sets one right and one left exam side by side: both maps on one scale, the
// left one mirrored on request (so that nasal and temporal sides face alike), each eye's
// simulated keratometry and the difference between the eyes. Exports InfoMapa, Wizard (first
// form) and ProcessaMapas (first form).
#include <QTableWidget>
#include <QVBoxLayout>
#include <array>
#include <cmath>
#include <optional>
#include <type_traits>

#include "modules/ModuleContract.h"
#include "outside/core/MapWindow.h"
#include "outside/core/ModuleIo.h"
#include "outside/core/ModuleSupport.h"
#include "outside/core/MultiMap.h"

using namespace norvix::outside;

namespace {

constexpr const char* kName = "Truvan";
const QString kTitle = QStringLiteral("Comparação entre os Olhos");

QString axisText(double a) { return QString::number(clinicalAxis(a), 'f', 0) + QStringLiteral("º"); }

void showEyes(void* hostWindow, Exams& exams, MapKind kind, bool mirrorLeft, const TInfosQV* infos) {
    MultiMapWindow window(QStringLiteral("%1 - %2").arg(kTitle, kindText(kind)), static_cast<QWidget*>(hostWindow));
    const Exam* right = nullptr;
    const Exam* left = nullptr;
    for (const auto& e : exams) {
        const Exam*& slot = e->header.rightEye() ? right : left;
        if (!slot) slot = e.get();
    }
    if (exams.size() > 2) window.addNotice(QStringLiteral("Foram recebidos %1 exames: mostrados o primeiro de cada olho.").arg(exams.size()));
    if (!right || !left) window.addNotice(QStringLiteral("A comparação precisa de um exame de cada olho."));
    const ColourScale scale = sharedScale(exams, kind, infos);
    const MapOptions options = optionsFor(infos);
    if (right)
        window.linkFullMap(window.addTile(0, 0, QStringLiteral("imgOD"), right->header.caption(),
                                          [right, kind, scale, options](int side) { return examPicture(*right, kind, scale, options, side); }),
                           *right, kind, infos);
    if (left) {
        QString caption = left->header.caption();
        if (mirrorLeft) caption += QStringLiteral(" (espelhado)");
        auto picture = [left, kind, scale, options, mirrorLeft](int side) {
            const QImage map = examPicture(*left, kind, scale, options, side);
            return mirrorLeft ? map.mirrored(true, false) : map;
        };
        window.linkFullMap(window.addTile(0, 1, QStringLiteral("imgOS"), caption, picture), *left, kind, infos);
    }
    window.addScale(0, 2, scale, QStringLiteral("imgEscala"));
    for (const auto& e : exams)
        if (!e->hasMap) window.addNotice(QStringLiteral("%1: %2").arg(e->header.eyeText(), e->why));
    window.addNotice(ringCountNotice(exams));

    // Simulated keratometry per eye and OD - OS.
    auto* table = new QTableWidget(5, 3, &window);
    table->setObjectName(QStringLiteral("tblCeratometria"));
    table->setHorizontalHeaderLabels({QStringLiteral("OD"), QStringLiteral("OS"), QStringLiteral("OD - OS")});
    table->setVerticalHeaderLabels({QStringLiteral("K plano"), QStringLiteral("K curvo"), QStringLiteral("K médio"),
                                    QStringLiteral("Astigmatismo"), QStringLiteral("Eixo plano")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto k = [&](const Exam* e) { return e && e->hasMap ? std::optional(e->map.keratometry(kind)) : std::nullopt; };
    const auto kr = k(right), kl = k(left);
    auto values = [](const std::optional<Keratometry>& x) {
        if (!x) return std::array<double, 4>{NAN, NAN, NAN, NAN};
        return std::array<double, 4>{x->flatPower, x->steepPower, x->meanPower(), x->astigmatism()};
    };
    const auto vr = values(kr), vl = values(kl);
    for (int row = 0; row < 4; ++row) {
        table->setItem(row, 0, new QTableWidgetItem(dioptreText(vr[size_t(row)])));
        table->setItem(row, 1, new QTableWidgetItem(dioptreText(vl[size_t(row)])));
        table->setItem(row, 2, new QTableWidgetItem(dioptreText(vr[size_t(row)] - vl[size_t(row)])));
    }
    table->setItem(4, 0, new QTableWidgetItem(kr ? axisText(kr->flatAxis) : QStringLiteral("-")));
    table->setItem(4, 1, new QTableWidgetItem(kl ? axisText(kl->flatAxis) : QStringLiteral("-")));
    table->setItem(4, 2, new QTableWidgetItem(QString()));
    fitTable(table, 5);
    window.below()->addWidget(table);
    MultiMapWindow::show(window);
}

}  // namespace

NORVIX_MODULE_EXPORT void InfoMapa(ModuleStream* out) {
    writeToStream(out, crlfLines({kTitle, QStringLiteral("2"), QStringLiteral("2")}));
}

NORVIX_MODULE_EXPORT int32_t Wizard(void* hostWindow, ModuleStream* examList, ModuleStream* selection,
                                    ModuleStream* options, const TInfosQV* /*infos*/) {
    return guardedEntry(kName, [&] {
        WizardRules rules;
        rules.title = kTitle + QStringLiteral(" - escolha dos exames");
        rules.instruction = QStringLiteral("Marque um exame do olho direito e um do olho esquerdo.");
        rules.oneOfEachEye = true;
        rules.offerMapKind = true;
        rules.offerMirror = true;
        return runWizard(hostWindow, examList, selection, options, rules, kName);
    });
}

NORVIX_MODULE_EXPORT int32_t ProcessaMapas(void* hostWindow, const TDadosPac* headers, const TMatrizesAngAnel* m,
                                           const TMatrizesAng* meridians, const TMatrizesAngAnel* d,
                                           const TMatPup* /*pupils*/, int32_t examCount, ModuleStream* options,
                                           const TInfosQV* infos) {
    return showExams(kName, kTitle, hostWindow, headers, m, meridians, d, examCount, infos,
                     [&](Exams& exams) { showEyes(hostWindow, exams, optionKind(options, MapKind::Axial), optionFlag(options, "ESPELHAR"), infos); });
}

static_assert(std::is_same_v<decltype(&InfoMapa), TInfoMapa>);
static_assert(std::is_same_v<decltype(&Wizard), TWizard>);
static_assert(std::is_same_v<decltype(&ProcessaMapas), TProcessaMapas>);
