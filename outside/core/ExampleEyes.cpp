#include "ExampleEyes.h"

namespace norvix::outside {

using norvix::sim::Target;

Target mirrored(Target t, bool leftEye) {
    if (!leftEye) return t;
    t.axisDeg = 180.0 - t.axisDeg;
    for (auto& b : t.bumps) b.xMm = -b.xMm;
    for (auto& w : t.waves) w.angleDeg = 180.0 - w.angleDeg;
    t.pupilXMm = -t.pupilXMm;
    t.fixationXMm = -t.fixationXMm;
    return t;
}

Target asCaptured(Target t, int variant) {
    const unsigned n = unsigned(variant);
    t.pupilRadiusMm = 1.4 + 0.15 * (n % 5);
    t.pupilXMm = 0.1 + 0.05 * (n % 3);
    t.pupilYMm = 0.05 - 0.05 * (n % 2);
    // The upper lid high enough that the points 3 mm above the vertex stay in view.
    t.upperLidMm = 4.0 + 0.1 * (n % 4);
    t.lowerLidMm = 4.1 + 0.15 * (n % 3);
    t.lashes = true;
    t.fixationXMm = 0.1 * (n % 5) - 0.2;
    t.fixationYMm = 0.05 * (n % 3) - 0.05;
    t.defocusMm = 0.005 * (n % 3);
    return t;
}

Target cornea(double r1, double r2, double axis, double q) {
    Target t;
    t.kind = Target::Kind::Cornea;
    t.r1 = r1;
    t.r2 = r2;
    t.axisDeg = axis;
    t.q = q;
    return t;
}

std::vector<ExampleEye> exampleEyes() {
    // Exams 1 to 4 of each condition are right eyes, 5 and 6 left eyes.
    std::vector<ExampleEye> out;
    for (int n = 1; n <= 6; ++n) {
        const bool left = n >= 5;
        const double v = (n - 1) / 5.0;  // 0 .. 1 across the six exams
        {   // central cone: a steep protrusion near the apex
            Target t = cornea(7.55 + 0.1 * v, 7.45 + 0.1 * v, 80 + 20 * v, -0.35);
            t.bumps.push_back({0.25, -0.35, 1.25 + 0.15 * v, 0.022 + 0.014 * v});
            out.push_back({QStringLiteral("Central0%1").arg(n), mirrored(asCaptured(t, n), left)});
        }
        {   // peripheral (inferior) cone
            Target t = cornea(7.75, 7.6 - 0.1 * v, 95, -0.3);
            t.bumps.push_back({0.6 + 0.3 * v, -2.3, 1.1, 0.030 + 0.012 * v});
            out.push_back({QStringLiteral("Periférico0%1").arg(n), mirrored(asCaptured(t, n + 1), left)});
        }
        {   // regular (with-the-rule) astigmatism
            Target t = cornea(7.95 + 0.05 * v, 7.45 - 0.1 * v, 5 + 20 * v, -0.25);
            out.push_back({QStringLiteral("Regular0%1").arg(n), mirrored(asCaptured(t, n + 2), left)});
        }
        {   // irregular astigmatism: an asymmetric, skewed bow tie
            Target t = cornea(7.9, 7.5, 15 + 15 * v, -0.2);
            t.waves.push_back({3, 3, 0.006 + 0.004 * v, 40 + 10 * v});
            t.waves.push_back({1, 3, 0.008 + 0.004 * v, 250});
            out.push_back({QStringLiteral("Irregular0%1").arg(n), mirrored(asCaptured(t, n + 3), left)});
        }
        {   // normal cornea
            Target t = cornea(7.7 + 0.08 * v, 7.65 + 0.06 * v, 90 + 10 * v, -0.22);
            out.push_back({QStringLiteral("Normal0%1").arg(n), mirrored(asCaptured(t, n + 4), left)});
        }
    }
    // One orthokeratology course of a right eye: four visits as the treatment zone deepens.
    const double depths[4] = {0.012, 0.016, 0.020, 0.024};
    for (int n = 1; n <= 4; ++n) {
        Target t = cornea(8.00, 8.00, 0, -0.20);
        t.kind = Target::Kind::Treated;
        t.zoneMm = 5.4;
        t.depthMm = depths[n - 1];
        out.push_back({QStringLiteral("Orto0%1").arg(n), asCaptured(t, n)});
    }
    return out;
}

}  // namespace norvix::outside
