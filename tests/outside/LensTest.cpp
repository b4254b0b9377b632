// Rigid lens fitting: the tear layer of a lens resting on a cornea measured through the
// simulated instrument against the sagittal heights of the true surfaces, the first lens and its
// power, the lenses and matrices that must be refused, and the module as the browser calls it.
#include <chrono>
#include <cmath>
#include <cstdio>

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "OutsideTestSupport.h"
#include "outside/math/CornealSurface.h"
#include "outside/math/LensFit.h"
#include "outside/core/TopographyProcessor.h"

using namespace outside_test;
using namespace norvix::outside;

namespace {

double sag(double radius, double r) { return radius - std::sqrt(radius * radius - r * r); }


LensDesign lens(double baseCurve, double diameter, double edgeLift) {
    LensDesign l;
    l.baseCurveMm = baseCurve;
    l.diameterMm = diameter;
    l.edgeLiftMm = edgeLift;
    return l;
}

struct Exam {
    TMatrizAngAnel m{}, d{};
    TMatrizAng meridians{};
};

}  // namespace

TEST(LensFit, TearLayerOnASphereMeasuredThroughTheInstrument) {
    CornealSurface cornea;
    ASSERT_TRUE(measuredSurface(sphere(7.80), 811, &cornea));
    std::printf("zona medida: %.2f mm de diâmetro\n", 2 * cornea.zoneRadius());
    ASSERT_GE(cornea.zoneRadius(), 4.0);
    LensFit fit;
    QString why;

    // Steeper than the cornea, without edge lift: one sphere out to the edge, so it rests on its
    // edge and the pool under its apex is the difference of the two sags at the half-diameter.
    const double d = 8.0;
    ASSERT_TRUE(fit.fit(cornea, lens(7.70, d, 0), &why)) << why.toStdString();
    const double expected = sag(7.70, d / 2) - sag(7.80, d / 2);
    std::printf("7,70 sobre 7,80, %.1f mm: centro %.2f um, esperado %.2f um, toque a %.2f mm\n", d,
                fit.centralTearMm() * 1000, expected * 1000, fit.contactRadiusMm());
    EXPECT_NEAR(fit.centralTearMm(), expected, 2e-3);
    EXPECT_NEAR(fit.contactRadiusMm(), d / 2, 0.05);
    EXPECT_LT(fit.edgeTearMm(), 2e-3);
    EXPECT_NEAR(fit.tearAt(0, 0), fit.centralTearMm(), 1e-9);
    EXPECT_FALSE(fit.beyondMeasuredZone());
    EXPECT_DOUBLE_EQ(fit.outerTearMm(), fit.edgeTearMm());

    // With an edge lift the lens rests just outside its optic zone: the pool is the sag
    // difference at the contact point the fit reports.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(fit.fit(cornea, lens(7.70, 8.6, 0.10), &why));
    std::printf("um ajuste: %.1f ms\n",
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    const double rc = fit.contactRadiusMm();
    std::printf("7,70 sobre 7,80, 8,6 mm, borda 0,10: centro %.2f um, toque a %.2f mm, borda %.1f um\n",
                fit.centralTearMm() * 1000, rc, fit.edgeTearMm() * 1000);
    EXPECT_GE(rc, 8.6 / 2 - LensDesign::kPeripheryMm - 0.05);
    EXPECT_LT(rc, 8.6 / 2);
    EXPECT_NEAR(fit.centralTearMm(), lens(7.70, 8.6, 0.10).backSag(rc) - sag(7.80, rc), 2e-3);
    EXPECT_NEAR(fit.edgeTearMm(), fit.centralTearMm() + sag(7.80, 4.3) - lens(7.70, 8.6, 0.10).backSag(4.3), 2e-3);

    // Flatter than the cornea: it rests on the apex (central touch) and clears towards the edge.
    ASSERT_TRUE(fit.fit(cornea, lens(7.95, d, 0.05), &why));
    std::printf("7,95 sobre 7,80: centro %.2f um, borda %.1f um\n", fit.centralTearMm() * 1000,
                fit.edgeTearMm() * 1000);
    EXPECT_LT(fit.centralTearMm(), 1e-3);
    EXPECT_LT(fit.contactRadiusMm(), 1.0);
    EXPECT_NEAR(fit.edgeTearMm(), sag(7.80, d / 2) - sag(7.95, d / 2) + 0.05, 2e-3);
    EXPECT_LT(fluoresceinBrightness(fit.tearAt(0, 0) * 1000), 0.05);
    EXPECT_GT(fluoresceinBrightness(fit.tearAt(0, 3.9) * 1000), 0.5);

    // A lens wider than the measured zone is rested on what was measured and says so; beyond,
    // nothing.
    ASSERT_TRUE(fit.fit(cornea, lens(7.80, 11.0, 0.10), &why));
    EXPECT_TRUE(fit.beyondMeasuredZone());
    EXPECT_TRUE(std::isnan(fit.edgeTearMm()));
    EXPECT_DOUBLE_EQ(fit.outerRadiusMm(), cornea.zoneRadius());
    EXPECT_NEAR(fit.outerTearMm(), fit.tearAt(0, -cornea.zoneRadius()), 2e-3);
    EXPECT_TRUE(std::isnan(fit.tearAt(0, 5.45)));
    EXPECT_TRUE(std::isnan(fit.tearAt(0, 5.6)));
}

TEST(LensFit, OnAToricCorneaTheLensRestsOnTheFlatMeridian) {
    // With-the-rule: flat 7.90 mm horizontal, steep 7.60 mm vertical. An on-K lens touches
    // along the flat meridian and stands off along the steep one.
    CornealSurface cornea;
    ASSERT_TRUE(measuredSurface(toric(7.90, 7.60, 0), 812, &cornea));
    LensFit fit;
    QString why;
    ASSERT_TRUE(fit.fit(cornea, lens(7.90, 8.0, 0), &why));
    EXPECT_LT(fit.centralTearMm(), 2e-3);
    EXPECT_LT(fit.tearAt(3.5, 0), 3e-3);
    EXPECT_NEAR(fit.tearAt(0, 3.5), sag(7.60, 3.5) - sag(7.90, 3.5), 3e-3);
}

TEST(LensFit, FirstLensAndItsPower) {
    // 43.25 D flat, 1.00 D of cylinder: a quarter dioptre steeper than flat K, 0.05 mm steps.
    Keratometry k;
    k.flatPower = 43.25;
    k.steepPower = 44.25;
    const LensDesign first = proposeLens(k);
    EXPECT_NEAR(first.baseCurveMm, 7.75, 1e-9);
    EXPECT_NEAR(first.diameterMm, 9.4, 1e-9);
    EXPECT_TRUE(first.check().isEmpty());
    // Nearly spherical and flat, or steep with high cylinder.
    k.steepPower = 43.75;
    k.flatPower = 41.0;
    k.steepPower = 41.5;
    EXPECT_NEAR(proposeLens(k).baseCurveMm, 8.25, 1e-9);
    EXPECT_NEAR(proposeLens(k).diameterMm, 9.6, 1e-9);
    k.flatPower = 47.0;
    k.steepPower = 50.5;
    EXPECT_NEAR(proposeLens(k).baseCurveMm, 7.05, 1e-9);
    EXPECT_NEAR(proposeLens(k).diameterMm, 9.2, 1e-9);

    // Tear lens: 7.70 on a 43.27 D (7.80 mm) cornea is +0.56 D; an emmetrope needs -0.50 D.
    EXPECT_NEAR(tearLensPower(7.70, kKeratometric / 7.80), 0.562, 1e-3);
    EXPECT_DOUBLE_EQ(lensPower(7.70, kKeratometric / 7.80, 0), -0.50);
    EXPECT_DOUBLE_EQ(lensPower(7.80, kKeratometric / 7.80, 0), 0);
    // -5.00 D at the spectacles is -4.72 D at the cornea; a flat lens adds minus tear.
    EXPECT_DOUBLE_EQ(lensPower(7.80, kKeratometric / 7.80, -5.0), -4.75);
    EXPECT_DOUBLE_EQ(lensPower(7.90, kKeratometric / 7.80, -5.0), -4.25);

    // The fluorescein curve: dark in touch, bright and saturating in a pool.
    EXPECT_EQ(fluoresceinBrightness(10), 0);
    EXPECT_EQ(fluoresceinBrightness(NAN), 0);
    EXPECT_LT(fluoresceinBrightness(20), 0.2);
    EXPECT_GT(fluoresceinBrightness(100), 0.9);
    EXPECT_GT(fluoresceinBrightness(200), 0.99);
    EXPECT_LE(fluoresceinBrightness(1e6), 1);
}

TEST(LensFit, LensesThatCannotBeMadeAndUnusableCorneasAreRefused) {
    Exam e;
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        e.meridians[k] = 30;
        for (int i = 0; i <= 30; ++i) {
            e.d[k][i] = i * 0.15;
            e.m[k][i] = 7.8;
        }
    }
    CornealSurface cornea;
    QString why;
    ASSERT_TRUE(cornea.build(&e.d, &e.m, &e.meridians, 32, &why));
    LensFit fit;
    for (double bc : {5.0, 12.0, 6.49, double(NAN)}) {
        EXPECT_FALSE(fit.fit(cornea, lens(bc, 9.0, 0.1), &why)) << bc;
        EXPECT_TRUE(why.startsWith(QStringLiteral("Curva base de "))) << why.toStdString();
        EXPECT_TRUE(std::isnan(fit.tearAt(0, 0)));
    }
    EXPECT_TRUE(why.contains(QStringLiteral("6,50 a 9,50 mm")));
    EXPECT_FALSE(fit.fit(cornea, lens(7.8, 14.0, 0.1), &why));
    EXPECT_TRUE(why.startsWith(QStringLiteral("Diâmetro"))) << why.toStdString();
    EXPECT_FALSE(fit.fit(cornea, lens(7.8, 9.0, -0.1), &why));
    EXPECT_TRUE(fit.fit(cornea, lens(6.5, 7.0, 0.3), &why)) << why.toStdString();
    EXPECT_TRUE(fit.fit(cornea, lens(9.5, 11.0, 0), &why)) << why.toStdString();

    // All rings at 0, NaN everywhere, one meridian only: no surface, and a fit on none is refused.
    Exam zero, nan, one;
    for (auto& row : nan.m) for (double& v : row) v = NAN;
    for (auto& row : nan.d) for (double& v : row) v = NAN;
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) nan.meridians[k] = 30;
    for (int i = 0; i <= 30; ++i) {
        one.d[90][i] = i * 0.15;
        one.m[90][i] = 7.8;
    }
    one.meridians[90] = 30;
    for (const Exam* bad : {&zero, &nan, &one}) {
        CornealSurface s;
        EXPECT_FALSE(s.build(&bad->d, &bad->m, &bad->meridians, 32, &why));
        EXPECT_FALSE(why.isEmpty());
        EXPECT_FALSE(fit.fit(s, lens(7.8, 9.0, 0.1), &why));
        EXPECT_EQ(why, QStringLiteral("A superfície da córnea não foi reconstruída."));
    }
}

TEST(CadroModule, ProcessaLenteAsTheBrowserCallsIt) {
    qputenv("NORVIX_MODULE_AUTOCLOSE", "1");
    Module module("Cadro.so");
    ASSERT_TRUE(module.loaded()) << dlerror();
    auto show = module.entry<TProcessaLente>("ProcessaLente");
    auto info = module.entry<TInfoMapa>("InfoMapa");
    ASSERT_TRUE(show);
    ASSERT_TRUE(info);
    // A single-map line set gives it a button; the browser turns its click into this call.
    ByteStream lines;
    info(lines.stream());
    EXPECT_EQ(readStreamLines(lines.stream()).mid(1), (QStringList{"1", "1"}));
    info(nullptr);

    auto e = std::make_unique<ExamBuffers>();
    e->idealSphere(7.8, 30);
    TInfosQV infos = infosFor(32, "4");
    QWidget host;
    ByteStream header(QByteArray("Exemplo\r\n0\r\n0\r\nExemplo\r\n01/01/01\r\n00:00:00\r\nMédico Teste\r\n"));
    const ExamBuffers before = *e;
    bool fechar = false;  // the window closes by its own button, as every window does
    QTimer::singleShot(0, qApp, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* b = w->isVisible() ? w->findChild<QPushButton*>(QStringLiteral("btnFechar")) : nullptr)
                fechar = b->text() == QStringLiteral("Fechar");
    });
    EXPECT_EQ(show(&host, nullptr, header.stream(), 0, 0, &e->m, &e->meridians, &e->d, &infos, nullptr), 1);
    EXPECT_EQ(std::memcmp(&before, e.get(), sizeof before), 0);
    EXPECT_TRUE(fechar);

    // Malformed exams: the window says why, nothing is touched, no crash.
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) e->m[k][5] = NAN;
    EXPECT_EQ(show(&host, nullptr, header.stream(), 0, 0, &e->m, &e->meridians, &e->d, &infos, nullptr), 1);
    e->fill(0);
    EXPECT_EQ(show(&host, nullptr, nullptr, 0, 0, &e->m, &e->meridians, &e->d, &infos, nullptr), 1);
    for (int i = 0; i <= 30; ++i) {
        e->d[0][i] = i * 0.15;
        e->m[0][i] = 7.8;
    }
    e->meridians[0] = 30;
    EXPECT_EQ(show(&host, nullptr, nullptr, 0, 0, &e->m, &e->meridians, &e->d, &infos, nullptr), 1);
    EXPECT_EQ(show(nullptr, nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr), 1);
    qunsetenv("NORVIX_MODULE_AUTOCLOSE");
}
