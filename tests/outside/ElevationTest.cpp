// Elevation against the best-fit sphere: exact on ideal rings, the closed loop through the
// simulated instrument on a sphere and on toric surfaces, and the zones it must refuse.
#include <cmath>
#include <cstdio>

#include "OutsideTestSupport.h"
#include "outside/core/BestFitSphere.h"
#include "outside/core/TopographyProcessor.h"

using namespace outside_test;
using namespace norvix::outside;

namespace {

double sphereSag(double radius, double r) { return radius - std::sqrt(radius * radius - r * r); }

// Lowest and highest elevation (mm) over the disc of `radius` mm, NaN if any point is missing.
void elevationRange(const BestFitSphere& b, const CornealSurface& s, double radius, double* low, double* high) {
    *low = INFINITY;
    *high = -INFINITY;
    for (double x = -radius; x <= radius + 1e-9; x += 0.1)
        for (double y = -radius; y <= radius + 1e-9; y += 0.1) {
            if (std::hypot(x, y) > radius + 1e-9) continue;
            const double e = b.elevation(s, x, y);
            if (!std::isfinite(e)) {
                *low = *high = NAN;
                return;
            }
            *low = std::min(*low, e);
            *high = std::max(*high, e);
        }
}

bool surfaceOf(const norvix::sim::Target& t, uint32_t frame, CornealSurface* s) {
    QImage image;
    renderer(4).liveFrame(t, frame, &image);
    Topography topo;
    QString why;
    return TopographyProcessor(4, 32).process(image, &topo, &why) && s->build(&topo.d, &topo.m, &topo.found, 32, &why);
}

}  // namespace

TEST(BestFitSphere, IdealSphereAndTheZonesItRefuses) {
    TMatrizAngAnel m{}, d{};
    TMatrizAng meridians{};
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        meridians[k] = 30;
        for (int i = 0; i <= 30; ++i) {
            d[k][i] = i * 0.15;
            m[k][i] = 8.10;
        }
    }
    CornealSurface s;
    QString why;
    ASSERT_TRUE(s.build(&d, &m, &meridians, 32, &why));
    BestFitSphere b;
    for (double zone : {1.0, 3.0, 4.5}) {
        ASSERT_TRUE(b.fit(s, zone, &why)) << zone << ": " << why.toStdString();
        EXPECT_NEAR(b.radius(), 8.10, 1e-6) << zone;
        EXPECT_NEAR(b.elevation(s, 0, 0), 0, 1e-7);
        EXPECT_NEAR(b.elevation(s, -2.1, 2.1), 0, 1e-7);
    }
    EXPECT_TRUE(std::isnan(b.elevation(s, 4.6, 0)));  // beyond the rings

    // A zone wider than the rings reach, or none at all: refused, the previous fit forgotten.
    EXPECT_FALSE(b.fit(s, 4.6, &why));
    EXPECT_EQ(why, QStringLiteral("A superfície medida não cobre a zona de 9,2 mm."));
    EXPECT_EQ(b.radius(), 0);
    EXPECT_TRUE(std::isnan(b.elevation(s, 0, 0)));
    EXPECT_FALSE(b.fit(s, 0, &why));
    EXPECT_FALSE(b.fit(s, NAN, &why));
    EXPECT_FALSE(b.fit(CornealSurface{}, 3.0, &why));
}

TEST(BestFitSphere, ClosedLoopThroughTheSimulatedInstrument) {
    // A sphere: its own radius back, and no elevation worth a micrometre over 6 mm.
    CornealSurface s;
    ASSERT_TRUE(surfaceOf(sphere(7.80), 401, &s));
    BestFitSphere b;
    QString why;
    ASSERT_TRUE(b.fit(s, 3.0, &why)) << why.toStdString();
    double low = 0, high = 0;
    elevationRange(b, s, 3.0, &low, &high);
    std::printf("esfera 7,80: esfera de referência %.4f mm, elevação %.3f a %.3f um\n", b.radius(), low * 1000,
                high * 1000);
    EXPECT_NEAR(b.radius(), 7.80, 0.01);
    EXPECT_GE(low, -1e-3);
    EXPECT_LE(high, 1e-3);

    // Toric surfaces: the sphere falls between the two radii and the elevation is a saddle whose
    // depth on the 6 mm circle is the difference of the two principal sags there.
    struct Case {
        double r1, r2, axis;
    };
    uint32_t frame = 402;
    for (const Case c : {Case{7.70, 7.90, 90}, Case{7.40, 8.00, 30}}) {
        ASSERT_TRUE(surfaceOf(toric(c.r1, c.r2, c.axis), frame++, &s)) << c.r1;
        ASSERT_TRUE(b.fit(s, 3.0, &why)) << why.toStdString();
        double lo = INFINITY, hi = -INFINITY;
        for (int deg = 0; deg < 360; ++deg) {
            const double a = deg * M_PI / 180, e = b.elevation(s, 3.0 * std::cos(a), 3.0 * std::sin(a));
            lo = std::min(lo, e);
            hi = std::max(hi, e);
        }
        const double expected = sphereSag(c.r1, 3.0) - sphereSag(c.r2, 3.0);
        std::printf("tórica %.2f/%.2f: esfera %.4f mm, sela %.2f um (esperada %.2f um)\n", c.r1, c.r2, b.radius(),
                    (hi - lo) * 1000, expected * 1000);
        EXPECT_GT(b.radius(), c.r1);
        EXPECT_LT(b.radius(), c.r2);
        EXPECT_NEAR(hi - lo, expected, 1.5e-3);
        // The saddle straddles the sphere, give or take the higher-order terms of the torus.
        EXPECT_LT(std::abs(hi + lo), 0.1 * (hi - lo));
    }
}
