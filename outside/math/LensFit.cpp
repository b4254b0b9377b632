#include "LensFit.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

namespace norvix::outside {

namespace {

constexpr double kVertexDistanceM = 0.012;  // spectacle plane in front of the cornea

QString mm(double v) { return QLocale(QLocale::Portuguese, QLocale::Brazil).toString(v, 'f', 2); }

}  // namespace

double LensDesign::backSag(double rho) const {
    const double edge = diameterMm / 2, zone = opticZoneMm() / 2;
    if (!(rho >= 0 && rho <= edge) || rho >= baseCurveMm) return NAN;
    const double sphere = baseCurveMm - std::sqrt(baseCurveMm * baseCurveMm - rho * rho);
    if (rho <= zone) return sphere;
    const double t = (rho - zone) / (edge - zone);
    return sphere - edgeLiftMm * t * t;
}

QString LensDesign::check() const {
    if (!(baseCurveMm >= kMinBaseCurveMm && baseCurveMm <= kMaxBaseCurveMm))
        return QStringLiteral("Curva base de %1 mm fora do intervalo das lentes rígidas (%2 a %3 mm).")
            .arg(mm(baseCurveMm), mm(kMinBaseCurveMm), mm(kMaxBaseCurveMm));
    if (!(diameterMm >= kMinDiameterMm && diameterMm <= kMaxDiameterMm))
        return QStringLiteral("Diâmetro de %1 mm fora do intervalo das lentes rígidas (%2 a %3 mm).")
            .arg(mm(diameterMm), mm(kMinDiameterMm), mm(kMaxDiameterMm));
    if (!(edgeLiftMm >= 0 && edgeLiftMm <= kMaxEdgeLiftMm))
        return QStringLiteral("Levantamento de borda de %1 mm fora do intervalo (0,00 a %2 mm).")
            .arg(mm(edgeLiftMm), mm(kMaxEdgeLiftMm));
    return {};
}

double tearLensPower(double baseCurveMm, double flatKPower) { return kKeratometric / baseCurveMm - flatKPower; }

double lensPower(double baseCurveMm, double flatKPower, double sphereD) {
    const double atCornea = sphereD / (1 - kVertexDistanceM * sphereD);
    return std::round(4 * (atCornea - tearLensPower(baseCurveMm, flatKPower))) / 4;
}

LensDesign proposeLens(const Keratometry& k) {
    LensDesign lens;
    if (!(k.flatPower > 0 && k.steepPower > 0)) return lens;
    const double cylinder = std::abs(k.steepPower - k.flatPower);
    const double steeper = cylinder <= 0.75 ? 0 : cylinder <= 2.0 ? 0.25 : cylinder <= 3.0 ? 0.50 : 0.75;
    const double radius = std::round(kKeratometric / (k.flatPower + steeper) / 0.05) * 0.05;
    lens.baseCurveMm = std::clamp(radius, LensDesign::kMinBaseCurveMm, LensDesign::kMaxBaseCurveMm);
    lens.diameterMm = k.flatPower < 42 ? 9.6 : k.flatPower <= 45 ? 9.4 : 9.2;
    lens.edgeLiftMm = 0.10;
    return lens;
}

double fluoresceinBrightness(double tearUm) {
    if (!(tearUm > 15)) return 0;
    return 1 - std::exp(-(tearUm - 15) / 35);
}

bool LensFit::fit(const CornealSurface& surface, const LensDesign& lens, QString* error) {
    surface_ = nullptr;
    const QString why = lens.check();
    if (!why.isEmpty()) {
        if (error) *error = why;
        return false;
    }
    if (surface.empty()) {
        if (error) *error = QStringLiteral("A superfície da córnea não foi reconstruída.");
        return false;
    }
    // The lens comes down along the axis: it stops at the largest lens depth less corneal
    // height over the measured points under it, which is then the clearance at its apex.
    const double edge = lens.diameterMm / 2;
    double highest = 0, contactR = 0, contactDeg = 0;
    int measured = 0;
    for (int deg = 0; deg < 360; ++deg) {
        const double c = std::cos(deg * M_PI / 180), s = std::sin(deg * M_PI / 180);
        for (double r = CornealSurface::kStepMm; r <= edge + 1e-9; r += CornealSurface::kStepMm) {
            const double h = surface.height(r * c, r * s);
            if (!std::isfinite(h)) continue;
            ++measured;
            const double v = lens.backSag(std::min(r, edge)) - h;
            if (v > highest) {
                highest = v;
                contactR = r;
                contactDeg = deg;
            }
        }
    }
    if (measured == 0) {
        if (error) *error = QStringLiteral("Não há córnea medida sob a lente.");
        return false;
    }
    surface_ = &surface;
    lens_ = lens;
    apexClearance_ = highest;
    contactRadius_ = contactR;
    contactMeridian_ = contactDeg;
    beyond_ = edge > surface.zoneRadius();
    edgeTear_ = meanTearAround(edge);
    outerRadius_ = std::min(edge, surface.zoneRadius());
    outerTear_ = meanTearAround(outerRadius_);
    return true;
}

double LensFit::meanTearAround(double radius) const {
    double sum = 0;
    int n = 0;
    for (int deg = 0; deg < 360; ++deg) {
        const double a = deg * M_PI / 180, t = tearAt(radius * std::cos(a), radius * std::sin(a));
        if (std::isfinite(t)) {
            sum += t;
            ++n;
        }
    }
    return n ? sum / n : NAN;
}

double LensFit::tearAt(double x, double y) const {
    if (!surface_) return NAN;
    const double r = std::hypot(x, y), edge = lens_.diameterMm / 2;
    if (!(r <= edge + 1e-9)) return NAN;
    // The resting place was found on a grid: between its points the lens may dip a fraction of a
    // micrometre under the cornea, which is touch.
    const double t = surface_->height(x, y) - lens_.backSag(std::min(r, edge)) + apexClearance_;
    return std::isfinite(t) ? std::max(0.0, t) : NAN;
}

}  // namespace norvix::outside
