// Elevation against the best-fit sphere and refractive power: exact on ideal rings, the closed
// loop through the simulated instrument, and the two map modules as the host calls them.
#include <QDoubleSpinBox>
#include <QImage>
#include <QTest>
#include <QWidget>
#include <cmath>
#include <cstdio>

#include "OutsideTestSupport.h"
#include "platform/ui/FileDialogSeam.h"
#include "outside/math/BestFitSphere.h"
#include "outside/core/SurfaceMaps.h"
#include "outside/core/TopographyProcessor.h"

using namespace outside_test;
using namespace norvix::outside;

namespace {

constexpr double kPi = 3.14159265358979323846;

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

struct IdealSphere {
    TMatrizAngAnel m{}, d{};
    TMatrizAng meridians{};
    IdealSphere(double radius, int rings) {
        for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
            meridians[k] = rings;
            for (int i = 0; i <= rings; ++i) {
                d[k][i] = i * 0.15;
                m[k][i] = radius;
            }
        }
    }
};

// Refractive power of a sphere at r mm by the same ray, worked out from its exact geometry.
double sphereRefraction(double radius, double r) {
    const double tilt = std::asin(r / radius), bend = tilt - std::asin(std::sin(tilt) / kCornealIndex);
    return 1000 * kCornealIndex / (sphereSag(radius, r) + r / std::tan(bend));
}


}  // namespace

TEST(BestFitSphere, IdealSphereAndTheZonesItRefuses) {
    const IdealSphere e(8.10, 30);
    CornealSurface s;
    QString why;
    ASSERT_TRUE(s.build(&e.d, &e.m, &e.meridians, 32, &why));
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
    ASSERT_TRUE(measuredSurface(sphere(7.80), 401, &s));
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
        ASSERT_TRUE(measuredSurface(toric(c.r1, c.r2, c.axis), frame++, &s)) << c.r1;
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

TEST(RefractivePower, SphereAndTheConicWithoutSphericalAberration) {
    // Ideal rings of a sphere: the exact ray trace, the paraxial (n - 1) / R at the vertex.
    const IdealSphere e(7.80, 30);
    CornealSurface s;
    QString why;
    ASSERT_TRUE(s.build(&e.d, &e.m, &e.meridians, 32, &why));
    EXPECT_NEAR(refractivePower(s, 0, 0), 337.5 / 7.80, 0.01);
    for (double r : {1.0, 2.0, 3.0, 4.0}) EXPECT_NEAR(refractivePower(s, 0, -r), sphereRefraction(7.80, r), 0.01) << r;
    EXPECT_TRUE(std::isnan(refractivePower(s, 4.6, 0)));

    // Through the simulated instrument: the sphere gains power outwards as its exact trace does,
    // and the conic of Q = -1/n^2 focuses every ray to one point, so its power stays flat. Within
    // 0.5 mm of the vertex the power weighs the slope by 1/r, and the rebuilt surface's slope
    // there is good to some 1e-4: a wider margin.
    struct Case {
        const char* name;
        norvix::sim::Target target;
        double radius;
        bool flat;
    };
    const Case cases[] = {{"esfera 7,80", sphere(7.80), 7.80, false},
                          {"cônica 7,80 Q -0,559", conic(7.80, -1 / (kCornealIndex * kCornealIndex)), 7.80, true}};
    uint32_t frame = 411;
    for (const Case& c : cases) {
        ASSERT_TRUE(measuredSurface(c.target, frame++, &s)) << c.name;
        double inner = 0, outer = 0;
        for (double r = 0; r <= 3.0 + 1e-9; r += 0.25)
            for (int deg = 0; deg < 360; deg += 15) {
                const double a = deg * kPi / 180;
                const double truth = c.flat ? 337.5 / c.radius : sphereRefraction(c.radius, std::max(r, 0.1));
                const double dev = std::abs(refractivePower(s, r * std::cos(a), r * std::sin(a)) - truth);
                (r <= 0.5 ? inner : outer) = std::max(r <= 0.5 ? inner : outer, dev);
            }
        std::printf("%-22s desvio do poder refrativo: %.3f D até 1 mm, %.3f D de 1,5 a 6 mm\n", c.name, inner, outer);
        EXPECT_LE(inner, 0.2) << c.name;
        EXPECT_LE(outer, 0.1) << c.name;
    }
}

class SurfaceMapModule : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(SurfaceMapModule, InfoVisualizarAndTheWindowAsTheHostCallsThem) {
    qputenv("NORVIX_MODULE_AUTOCLOSE", "1");
    Module module(GetParam().first);
    ASSERT_TRUE(module.loaded()) << dlerror();
    auto info = module.entry<TInfoMapa>("InfoMapa");
    auto show = module.entry<TProcessaMapa>("ProcessaMapa");
    auto small = module.entry<TVisualizar>("Visualizar");
    ASSERT_TRUE(info && show && small);
    ByteStream lines;
    info(lines.stream());
    EXPECT_EQ(lines.data(), QByteArray(GetParam().second) + "\r\n1\r\n1\r\n");

    // The result record holds the keratometric figures the report editor expects of any map.
    const IdealSphere e(7.50, 30);
    TInfosQV infos = infosFor(32, "4");
    ByteStream picture;
    TResultadoMapa r = {};
    EXPECT_EQ(small(nullptr, picture.stream(), nullptr, nullptr, 320, 240, &e.m, &e.meridians, &e.d, nullptr, &r,
                    nullptr, &infos), 1);
    QImage img;
    ASSERT_TRUE(img.loadFromData(picture.data()));
    EXPECT_GE(img.width(), 100);
    EXPECT_NEAR(r[0], 45.0, 0.05);
    EXPECT_NEAR(r[2], 45.0, 0.05);
    QWidget host;
    ByteStream header(QByteArray("Exemplo\r\n0\r\n0\r\nOD\r\n01/01/01\r\n00:00:00\r\n"));
    EXPECT_EQ(show(&host, nullptr, nullptr, 320, 240, header.stream(), &e.m, &e.meridians, &e.d, nullptr, &infos), 1);

    // Bad input: all rings at 0, NaN, nothing at all: a reason, zero results, still a picture.
    TMatrizAngAnel zero{}, nan{};
    for (auto& row : nan) std::fill(std::begin(row), std::end(row), NAN);
    for (const TMatrizAngAnel* bad : {&zero, &nan}) {
        TResultadoMapa out;
        std::fill(std::begin(out), std::end(out), 99.0);
        ByteStream picture2;
        EXPECT_EQ(small(nullptr, picture2.stream(), nullptr, nullptr, 0, 0, bad, &e.meridians, bad, nullptr, &out,
                        nullptr, &infos), 0);
        for (double v : out) EXPECT_EQ(v, 0.0);
        EXPECT_TRUE(img.loadFromData(picture2.data()));
        EXPECT_EQ(show(&host, nullptr, nullptr, 0, 0, nullptr, bad, &e.meridians, bad, nullptr, &infos), 1);
    }
    EXPECT_EQ(show(&host, nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 1);
    small(nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    qunsetenv("NORVIX_MODULE_AUTOCLOSE");
}

// The names as the host reads them, in Windows-1252.
INSTANTIATE_TEST_SUITE_P(Modules, SurfaceMapModule,
                         ::testing::Values(std::make_pair("Brennor.so", "Mapa de Eleva\xE7\xE3o"),
                                           std::make_pair("Lumeva.so", "Mapa Refrativo")));

TEST(SurfaceMapWindow, ShowsTheSphereRadiusOrWhyThereIsNoMap) {
    const IdealSphere e(7.80, 30), narrow(7.80, 9);  // 9 rings: 2.7 mm, under the 3 mm needed
    TInfosQV infos = infosFor(32, "4");
    SurfaceMapWindow w({SurfaceMapKind::Elevation, &e.d, &e.m, &e.meridians, {}, &infos});
    EXPECT_TRUE(w.hasMap());
    EXPECT_TRUE(w.summaryText().contains(QStringLiteral("Raio da esfera: 7,80 mm"))) << w.summaryText().toStdString();
    EXPECT_TRUE(w.summaryText().contains(QStringLiteral("Zona: 8,0 mm")));
    SurfaceMapWindow p({SurfaceMapKind::Refractive, &e.d, &e.m, &e.meridians, {}, &infos});
    EXPECT_TRUE(p.summaryText().contains(QStringLiteral("Mínimo: 43,27 D"))) << p.summaryText().toStdString();
    SurfaceMapWindow n({SurfaceMapKind::Elevation, &narrow.d, &narrow.m, &narrow.meridians, {}, &infos});
    EXPECT_FALSE(n.hasMap());
    EXPECT_TRUE(n.summaryText().contains(QStringLiteral("menor que 3 mm"))) << n.summaryText().toStdString();
}

TEST(SurfaceMapWindow, OperatorChoosesTheFittingZoneWhichIsClampedToTheMeasuredOne) {
    const IdealSphere e(7.80, 24);  // measured out to 3.6 mm: 7 mm is the widest whole zone
    TInfosQV infos = infosFor(32, "4");
    SurfaceMapWindow w({SurfaceMapKind::Elevation, &e.d, &e.m, &e.meridians, {}, &infos});
    ASSERT_TRUE(w.hasMap());
    EXPECT_TRUE(w.summaryText().contains(QStringLiteral("Zona: 7,0 mm"))) << w.summaryText().toStdString();
    w.chooseZone(4.0);
    EXPECT_TRUE(w.summaryText().contains(QStringLiteral("Zona: 4,0 mm"))) << w.summaryText().toStdString();
    EXPECT_TRUE(w.summaryText().contains(QStringLiteral("Raio da esfera: 7,80 mm")));
    EXPECT_TRUE(w.zoneNoticeText().isEmpty());
    w.chooseZone(9.0);
    EXPECT_TRUE(w.summaryText().contains(QStringLiteral("Zona: 7,0 mm")));
    EXPECT_EQ(w.zoneNoticeText(), QStringLiteral("A zona pedida (9,0 mm) passa da zona medida; foi usada a zona de 7,0 mm."));
    // The map drawn is the one over the zone used: a value at 3.4 mm, none at 3.6.
    MapView* view = w.panel()->view();
    EXPECT_TRUE(std::isfinite(view->content().value(3.4, 10)));
    EXPECT_TRUE(std::isnan(view->content().value(3.6, 10)));
    EXPECT_EQ(w.panel()->stepText().section(QLatin1Char('\n'), 1), QStringLiteral("0,25 µm"));

    // Typed and Enter: the zone is applied, and Enter opens no export dialog.
    norvix::ScriptedFileDialogSeam dialogs;
    w.show();
    auto* zona = w.findChild<QDoubleSpinBox*>(QStringLiteral("edtZona"));
    ASSERT_NE(zona, nullptr);
    zona->setFocus();
    zona->selectAll();
    QTest::keyClicks(zona, QStringLiteral("5"));
    QTest::keyClick(zona, Qt::Key_Return);
    EXPECT_TRUE(w.summaryText().contains(QStringLiteral("Zona: 5,0 mm"))) << w.summaryText().toStdString();
    EXPECT_TRUE(dialogs.requests.empty());
    EXPECT_TRUE(w.isVisible());
}
