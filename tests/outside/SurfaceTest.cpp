// The corneal surface rebuilt from the rings: exact on ideal data, the closed loop through the
// simulated instrument against the true surface, and the matrices it must refuse.
#include <chrono>
#include <cmath>
#include <cstdio>

#include "OutsideTestSupport.h"
#include "outside/math/CornealSurface.h"
#include "outside/core/TopographyProcessor.h"

using namespace outside_test;
using namespace norvix::outside;

namespace {

struct Exam {
    TMatrizAngAnel m{}, d{};
    TMatrizAng meridians{};
};

// Rings of a sphere of radius R every `step` mm, as an ideal instrument would report them.
Exam idealSphere(double radius, int rings, double step = 0.15) {
    Exam e;
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        e.meridians[k] = rings;
        for (int i = 0; i <= rings; ++i) {
            e.d[k][i] = i * step;
            e.m[k][i] = radius;
        }
    }
    return e;
}

double sphereSag(double radius, double r) { return radius - std::sqrt(radius * radius - r * r); }

// Worst |height - truth| over the disc of `radius` mm, truth taken from the vertex.
double worstError(const CornealSurface& s, const norvix::sim::Target& t, double radius) {
    double s0 = 0, gx = 0, gy = 0;
    norvix::sim::targetSurface(t, 0, 0, &s0, &gx, &gy);
    double worst = 0;
    for (double x = -radius; x <= radius + 1e-9; x += 0.1) {
        for (double y = -radius; y <= radius + 1e-9; y += 0.1) {
            if (std::hypot(x, y) > radius + 1e-9) continue;
            double sag = 0;
            if (!norvix::sim::targetSurface(t, x, y, &sag, &gx, &gy)) return INFINITY;
            const double h = s.height(x, y);
            if (!std::isfinite(h)) return INFINITY;
            worst = std::max(worst, std::abs(h - (sag - s0)));
        }
    }
    return worst;
}

}  // namespace

TEST(CornealSurface, IdealRingsGiveTheExactSurface) {
    // A sphere: each arc step is exact, whatever the ring spacing.
    const Exam e = idealSphere(7.80, 30);
    CornealSurface s;
    QString why;
    ASSERT_TRUE(s.build(&e.d, &e.m, &e.meridians, 32, &why)) << why.toStdString();
    EXPECT_NEAR(s.zoneRadius(), 4.5, 1e-9);
    for (double r : {0.0, 0.07, 1.5, 3.0, 4.49})
        for (double deg : {0.0, 37.5, 90.0, 359.9}) {
            const double a = deg * M_PI / 180;
            EXPECT_NEAR(s.height(r * std::cos(a), r * std::sin(a)), sphereSag(7.80, r), 1e-9) << r << " " << deg;
        }
    EXPECT_TRUE(std::isnan(s.height(4.6, 0)));
    EXPECT_TRUE(std::isnan(s.height(NAN, 0)));

    // A conic, from its exact axial radii: the arcs leave far less than a micrometre even at the
    // edge, where the tilt changes fastest between rings.
    Exam c;
    const double r0 = 7.80, q = -0.26;
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        c.meridians[k] = 30;
        for (int i = 0; i <= 30; ++i) {
            c.d[k][i] = i * 0.15;
            c.m[k][i] = std::sqrt(r0 * r0 - q * c.d[k][i] * c.d[k][i]);
        }
    }
    ASSERT_TRUE(s.build(&c.d, &c.m, &c.meridians, 32, &why));
    for (double r = 0; r <= 4.5; r += 0.25) {
        const double p = 1 + q, truth = r * r / (r0 + std::sqrt(r0 * r0 - p * r * r));
        EXPECT_NEAR(s.height(0, -r), truth, r <= 3 ? 2e-5 : 5e-5) << r;
    }
}

TEST(CornealSurface, GapsBetweenMeridiansAreBridgedAndTheZoneShrinks) {
    // Rings covered over 30 meridians beyond ring 10, and 12 meridians without data.
    Exam e = idealSphere(7.80, 30);
    for (int k = 75; k < 105; ++k) e.meridians[k] = 10;
    for (int k = 200; k < 212; ++k) e.meridians[k] = 0;
    CornealSurface s;
    QString why;
    ASSERT_TRUE(s.build(&e.d, &e.m, &e.meridians, 32, &why)) << why.toStdString();
    EXPECT_NEAR(s.height(0, 3.0), sphereSag(7.80, 3.0), 1e-6);  // bridged across the gap
    EXPECT_NEAR(s.height(-2.0, -0.5), sphereSag(7.80, std::hypot(2.0, 0.5)), 1e-6);
    EXPECT_GE(s.zoneRadius(), 4.4);

    // One meridian more and the gap is not bridged: the zone ends where the rings did.
    e.meridians[105] = 10;
    ASSERT_TRUE(s.build(&e.d, &e.m, &e.meridians, 32, &why));
    EXPECT_NEAR(s.zoneRadius(), 1.5, 1e-9);
    EXPECT_TRUE(std::isnan(s.height(0, 2.0)));
    EXPECT_FALSE(std::isnan(s.height(0, -4.0)));
}

TEST(CornealSurface, UnusableMatricesAreRefusedWithAReason) {
    CornealSurface s;
    QString why;
    Exam zero;
    EXPECT_FALSE(s.build(&zero.d, &zero.m, &zero.meridians, 32, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("Anéis insuficientes"))) << why.toStdString();
    EXPECT_TRUE(s.empty());
    EXPECT_TRUE(std::isnan(s.height(0, 0)));

    Exam one;
    for (int i = 0; i <= 30; ++i) {
        one.d[0][i] = i * 0.15;
        one.m[0][i] = 7.8;
    }
    one.meridians[0] = 30;
    EXPECT_FALSE(s.build(&one.d, &one.m, &one.meridians, 32, &why));

    // NaN, a ring inside the previous one, an axial radius shorter than its distance: each
    // ends its meridian there; in every meridian that leaves too little.
    Exam bad = idealSphere(7.80, 30);
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        if (k % 3 == 0) bad.m[k][3] = NAN;
        if (k % 3 == 1) bad.d[k][2] = 0.1;
        if (k % 3 == 2) bad.m[k][2] = 0.2;
    }
    EXPECT_FALSE(s.build(&bad.d, &bad.m, &bad.meridians, 32, &why));
    EXPECT_FALSE(s.build(nullptr, &bad.m, &bad.meridians, 32, &why));
    EXPECT_EQ(why, QStringLiteral("Dados do exame ausentes."));

    // A ring count larger than the matrices hold is read as the matrices' own.
    const Exam e = idealSphere(7.80, 32);
    EXPECT_TRUE(s.build(&e.d, &e.m, &e.meridians, 1000, &why));
    EXPECT_NEAR(s.zoneRadius(), 32 * 0.15, 1e-9);
}

TEST(CornealSurface, ClosedLoopThroughTheSimulatedInstrument) {
    struct Case {
        const char* name;
        norvix::sim::Target target;
        double limitMm;  // worst height error allowed over the central 6 mm
    };
    const Case cases[] = {
        {"esfera 7,80", sphere(7.80), 1e-3},
        {"esfera 7,00", sphere(7.00), 1e-3},
        {"esfera 8,50", sphere(8.50), 1e-3},
        {"tórica 7,70/7,90 a 90", toric(7.70, 7.90, 90), 1e-3},
        {"tórica 7,40/8,00 a 30", toric(7.40, 8.00, 30), 1e-3},
        // Strong cylinders: the normals lean out of their meridians (1.3 um at 5.7 D before the
        // surface took that lean out of the rings' tilts).
        {"tórica 7,20/8,20 a 0", toric(7.20, 8.20, 0), 1e-3},
        {"tórica 6,90/8,40 a 45", toric(6.90, 8.40, 45), 1e-3},
        {"cônica 7,80 Q -0,26", conic(7.80, -0.26), 1e-3},
        {"cônica 7,80 Q -0,559", conic(7.80, -0.559), 1e-3},
    };
    uint32_t frame = 301;
    for (const Case& c : cases) {
        QImage image;
        renderer(4).liveFrame(c.target, frame++, &image);
        Topography topo;
        QString why;
        ASSERT_TRUE(TopographyProcessor(4, 32).process(image, &topo, &why)) << c.name << ": " << why.toStdString();
        CornealSurface s;
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(s.build(&topo.d, &topo.m, &topo.found, 32, &why)) << c.name << ": " << why.toStdString();
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        ASSERT_GE(s.zoneRadius(), 3.0) << c.name;
        const double worst = worstError(s, c.target, 3.0);
        std::printf("%-26s pior erro de altura em 6 mm: %.3f um; zona %.2f mm; %.2f ms\n", c.name, worst * 1000,
                    s.zoneRadius(), ms);
        EXPECT_LE(worst, c.limitMm) << c.name;
    }
}
