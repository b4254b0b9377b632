#include "KeratoconusIndices.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace norvix::outside {

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// I-S: Rabinowitz YS, McDonnell PJ. Computer-assisted corneal topography in keratoconus.
// Refract Corneal Surg 1989;5:400-408. Five inferior points 3 mm from the vertex, 30 degrees
// apart, minus the five superior ones (meridian 90 is superior in the matrices).
constexpr double kIsRadiusMm = 3.0;
// Screening limits of Rabinowitz YS. Videokeratographic indices to aid in screening for
// keratoconus. J Refract Surg 1995;11:371-379: central K above 47.2 D or I-S above 1.4 D
// suspect, above 48.7 D or 1.9 D keratoconus.
constexpr double kSuspectK = 47.2, kConeK = 48.7, kSuspectIs = 1.4, kConeIs = 1.9;
// KISA%: Rabinowitz YS, Rasheed K. KISA% index: a quantitative videokeratography algorithm
// embodying minimal topographic criteria for diagnosing keratoconus. J Cataract Refract Surg
// 1999;25:1327-1335. 60 to 100 suspect, 100 or more keratoconus.
constexpr double kSuspectKisa = 60, kConeKisa = 100;
// Steepest radial axes are looked for in the central 3 mm, as the keratometry is.
constexpr double kCentralMm = 1.5;
// Sampling of the zone for SAI and SRI: every meridian, radii 0.1 mm apart.
constexpr double kStepMm = 0.1;

double axialPower(const CornealMap& map, double r, int meridian) { return map.powerAt(MapKind::Axial, r, meridian); }

// Mean central power of a meridian, averaged with two meridians either side so one noisy
// meridian cannot set the axis.
double centralPower(const CornealMap& map, int meridian) {
    double sum = 0;
    int n = 0;
    for (int j = -2; j <= 2; ++j)
        for (double r = kStepMm; r <= kCentralMm + 1e-9; r += kStepMm) {
            const double p = axialPower(map, r, (meridian + j + NORVIX_MERIDIANS) % NORVIX_MERIDIANS);
            if (std::isnan(p)) continue;
            sum += p;
            ++n;
        }
    return n ? sum / n : kNaN;
}

// The steepest meridian among `count` meridians from `from` on (wrapping past 359).
int steepestMeridian(const CornealMap& map, int from, int count) {
    int best = from;
    double bestP = -1;
    for (int i = 0; i < count; ++i) {
        const int k = (from + i) % NORVIX_MERIDIANS;
        const double p = centralPower(map, k);
        if (p > bestP) {
            bestP = p;
            best = k;
        }
    }
    return best;
}
}  // namespace

KeratoconusIndices keratoconusIndices(const CornealMap& map) {
    KeratoconusIndices ki;
    ki.simK = map.keratometry(MapKind::Axial);
    ki.centralK = ki.simK.meanPower();
    const double zone = map.measuredRadius();

    // An upper lid or its lashes often hide some superior points: I-S then averages the pairs
    // of opposite points that were both measured, so that a regular astigmatism, steep at one
    // end and the other alike, does not read as asymmetry. Fewer than three pairs: no I-S.
    {
        double diff = 0;
        int pairs = 0;
        for (int a = 30; a <= 150; a += 30) {
            const double sup = axialPower(map, kIsRadiusMm, a), inf = axialPower(map, kIsRadiusMm, a + 180);
            if (std::isnan(sup) || std::isnan(inf)) continue;
            diff += inf - sup;
            ++pairs;
        }
        ki.inferiorSuperior = pairs >= 3 ? diff / pairs : kNaN;
    }

    // SAI: Wilson SE, Klyce SD. Quantitative descriptors of corneal topography: a clinical
    // study. Arch Ophthalmol 1991;109:349-353 (after Dingeldein SA, Klyce SD, Wilson SE,
    // Refract Corneal Surg 1989;5:372-378): power differences between points 180 degrees
    // apart, summed over the zone with each point weighted by the area it stands for.
    // SRI, from the same papers: local fluctuations of power against the neighbouring points,
    // on a logarithmic scale, over the central zone of ten rings of that instrument (about
    // 4.5 mm here); we average it per sample so the figure does not depend on our ring count.
    double asym = 0, weight = 0, fluct = 0;
    long samples = 0;
    const double sriZone = std::min(zone, 2.25);
    for (double r = kStepMm; r <= zone + 1e-9; r += kStepMm) {
        for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
            const double p = axialPower(map, r, k);
            if (std::isnan(p)) continue;
            if (k < NORVIX_MERIDIANS / 2) {
                const double q = axialPower(map, r, k + NORVIX_MERIDIANS / 2);
                if (!std::isnan(q)) {
                    asym += r * std::fabs(p - q);
                    weight += r;
                }
            }
            if (r > sriZone + 1e-9 || r - kStepMm < kStepMm / 2 || r + kStepMm > zone + 1e-9) continue;
            const double n4 = axialPower(map, r - kStepMm, k) + axialPower(map, r + kStepMm, k) +
                              axialPower(map, r, (k + 1) % NORVIX_MERIDIANS) +
                              axialPower(map, r, (k + NORVIX_MERIDIANS - 1) % NORVIX_MERIDIANS);
            if (std::isnan(n4)) continue;
            fluct += std::log10(1.0 + std::fabs(p - 0.25 * n4));
            ++samples;
        }
    }
    // Nothing measured is no figure: a 0 would read as a perfectly regular cornea.
    ki.sai = weight > 0 ? asym / weight : kNaN;
    ki.sri = samples ? fluct / samples : kNaN;

    // SRAX: 180 degrees minus the smaller angle between the steepest radial axes above and
    // below the horizontal meridian; 0 when they line up, as on a regular toric cornea. The
    // two axes are taken as the steepest meridian and the steepest one of the half facing it:
    // split strictly at the horizontal, a cornea steepest near 0 degrees would find its one
    // lobe at 1 and 359 degrees and score almost 180.
    const int first = steepestMeridian(map, 0, NORVIX_MERIDIANS);
    const int second = steepestMeridian(map, (first + 90) % NORVIX_MERIDIANS, 180);
    const double diff = std::fabs(double(first - second));
    ki.srax = 180.0 - std::min(diff, 360.0 - diff);

    // KISA% = K x I-S x AST x SRAX x 100 / 300, AST the regular astigmatism of the simulated
    // keratometry. I-S enters as its size: a superior steepening should not turn the product
    // negative and hide it.
    ki.kisa = ki.centralK * std::fabs(ki.inferiorSuperior) * std::fabs(ki.simK.astigmatism()) * ki.srax * 100.0 / 300.0;

    if (std::isnan(ki.inferiorSuperior)) {
        ki.screening = KeratoconusScreening::NotAssessed;
    } else if (ki.kisa >= kConeKisa || ki.centralK > kConeK || ki.inferiorSuperior > kConeIs) {
        ki.screening = KeratoconusScreening::Keratoconus;
    } else if (ki.kisa >= kSuspectKisa || ki.centralK > kSuspectK || ki.inferiorSuperior > kSuspectIs) {
        ki.screening = KeratoconusScreening::Suspect;
    } else {
        ki.screening = KeratoconusScreening::NoSigns;
    }
    return ki;
}

QString screeningText(KeratoconusScreening s) {
    switch (s) {
        case KeratoconusScreening::NoSigns: return QStringLiteral("Sem sinais de ceratocone");
        case KeratoconusScreening::Suspect: return QStringLiteral("Suspeito");
        case KeratoconusScreening::Keratoconus: return QStringLiteral("Compatível com ceratocone");
        case KeratoconusScreening::NotAssessed: break;
    }
    return QStringLiteral("Sem avaliação: a zona medida não alcança 3 mm do vértice");
}

}  // namespace norvix::outside
