// Keratoconus indices: hand-made power patterns whose indices are known, normal corneas
// through the simulated instrument, and an inferior cone.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>

#include "OutsideTestSupport.h"
#include "outside/math/KeratoconusIndices.h"
#include "outside/core/TopographyProcessor.h"

using namespace outside_test;
using namespace norvix::outside;

namespace {

constexpr int kRings = 28;  // 0.15 mm apart: 4.2 mm from the vertex

// An exam whose axial power at (r mm, meridian degrees) is the given pattern.
struct Exam {
    TMatrizAngAnel m{}, d{};
    TMatrizAng meridians{};
};

std::unique_ptr<Exam> powerExam(const std::function<double(double, int)>& power, int rings = kRings) {
    auto e = std::make_unique<Exam>();
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        e->meridians[k] = rings;
        for (int i = 1; i <= rings; ++i) {
            e->d[k][i] = i * 0.15;
            e->m[k][i] = kKeratometric / power(i * 0.15, k);
        }
    }
    return e;
}

KeratoconusIndices indicesOf(const Exam& e, int rings = kRings) {
    CornealMap map;
    QString why;
    EXPECT_TRUE(map.load(&e.d, &e.m, &e.meridians, rings, &why)) << why.toStdString();
    return keratoconusIndices(map);
}

double cosDeg(double deg) { return std::cos(deg * M_PI / 180.0); }

}  // namespace

TEST(KeratoconusIndices, HandMadePatternsGiveTheirKnownValues) {
    // A sphere of 45 D: nothing asymmetric, nothing irregular.
    auto ki = indicesOf(*powerExam([](double, int) { return 45.0; }));
    EXPECT_NEAR(ki.centralK, 45.0, 1e-9);
    EXPECT_NEAR(ki.inferiorSuperior, 0, 1e-9);
    EXPECT_NEAR(ki.sai, 0, 1e-9);
    EXPECT_NEAR(ki.sri, 0, 1e-9);
    EXPECT_NEAR(ki.kisa, 0, 1e-9);
    EXPECT_EQ(ki.screening, KeratoconusScreening::NoSigns);

    // Lower half 1.5 D steeper than the upper half: I-S and SAI are the step itself; the
    // step has no second harmonic, so the keratometry sees no astigmatism and KISA% stays 0.
    ki = indicesOf(*powerExam([](double, int k) { return k < 180 ? 45.0 : 46.5; }));
    EXPECT_NEAR(ki.inferiorSuperior, 1.5, 1e-9);
    EXPECT_NEAR(ki.sai, 1.5, 1e-9);
    EXPECT_NEAR(ki.centralK, 45.75, 1e-9);
    EXPECT_NEAR(ki.simK.astigmatism(), 0, 1e-9);
    EXPECT_NEAR(ki.kisa, 0, 1e-9);
    EXPECT_EQ(ki.screening, KeratoconusScreening::Suspect);  // I-S above 1.4 D

    // Meridians alternating 44 D and 46 D: every point is 1 D off the mean of its four
    // neighbours (two along its meridian, two across), while opposite points and the I-S
    // points all fall on even meridians.
    ki = indicesOf(*powerExam([](double, int k) { return k % 2 ? 46.0 : 44.0; }));
    EXPECT_NEAR(ki.sri, std::log10(2.0), 1e-9);
    EXPECT_NEAR(ki.sai, 0, 1e-9);
    EXPECT_NEAR(ki.inferiorSuperior, 0, 1e-9);

    // Upper half steepest along 90 degrees, lower half along 240: the radial axes are 150
    // degrees apart, SRAX 30. KISA% is then the product of its four factors.
    ki = indicesOf(*powerExam([](double, int k) {
        return k < 180 ? 44.0 + cosDeg(2 * (k - 90)) : 45.0 + cosDeg(2 * (k - 240));
    }));
    EXPECT_NEAR(ki.srax, 30, 1e-9);
    EXPECT_GT(ki.inferiorSuperior, 0.5);
    EXPECT_GT(std::fabs(ki.simK.astigmatism()), 0.1);
    EXPECT_NEAR(ki.kisa,
                ki.centralK * ki.inferiorSuperior * std::fabs(ki.simK.astigmatism()) * 30 * 100 / 300, 1e-6);
    // The same turned upside down: I-S changes sign, KISA% must not.
    const auto upside = indicesOf(*powerExam([](double, int k) {
        return k < 180 ? 45.0 + cosDeg(2 * (k - 120)) : 44.0 + cosDeg(2 * (k - 270));
    }));
    EXPECT_NEAR(upside.inferiorSuperior, -ki.inferiorSuperior, 1e-9);
    EXPECT_NEAR(upside.kisa, ki.kisa, 1e-6);

    // Astigmatism against the rule, steepest at 359 degrees, the nasal lobe a little steeper:
    // the steep axes are the two lobes either side of the vertex, not both ends of the one
    // lobe that straddles 0 degrees.
    ki = indicesOf(*powerExam([](double, int k) { return 44.0 + cosDeg(2 * (k + 1)) + 0.1 * cosDeg(k); }));
    EXPECT_NEAR(ki.srax, 0, 1e-9);
    EXPECT_EQ(ki.screening, KeratoconusScreening::NoSigns);

    // A steep but regular cornea is suspect by its central power alone, keratoconic above
    // 48.7 D.
    EXPECT_EQ(indicesOf(*powerExam([](double, int) { return 48.0; })).screening, KeratoconusScreening::Suspect);
    EXPECT_EQ(indicesOf(*powerExam([](double, int) { return 49.0; })).screening,
              KeratoconusScreening::Keratoconus);
}

TEST(KeratoconusIndices, RingsShortOfThreeMillimetresAreNotScreened) {
    // 18 rings reach 2.7 mm: no I-S, so no verdict rather than a clean bill.
    auto e = powerExam([](double, int) { return 44.0; }, 18);
    const auto ki = indicesOf(*e, 18);
    EXPECT_TRUE(std::isnan(ki.inferiorSuperior));
    EXPECT_EQ(ki.screening, KeratoconusScreening::NotAssessed);
    EXPECT_TRUE(screeningText(ki.screening).contains(QStringLiteral("3 mm")));
    // One meridian measured to 0.05 mm only sets the zone: SAI and SRI have no sample in it and
    // are no figure, not a 0 that reads as a regular cornea.
    e->meridians[0] = 2, e->d[0][1] = 0.02, e->d[0][2] = 0.05;
    const auto tiny = indicesOf(*e, 18);
    EXPECT_TRUE(std::isnan(tiny.sai) && std::isnan(tiny.sri)) << tiny.sai << " " << tiny.sri;
}

TEST(KeratoconusIndices, InferiorConeIsCompatibleWithKeratoconus) {
    // A cone 2 mm below and 0.6 mm to the side of the vertex on a 43 D cornea: up to 6 D
    // steeper, fading with a 1.2 mm spread.
    auto e = powerExam([](double r, int k) {
        const double x = r * cosDeg(k), y = r * std::sin(k * M_PI / 180.0);
        const double d2 = (x + 0.6) * (x + 0.6) + (y + 2.0) * (y + 2.0);
        return 43.0 + 6.0 * std::exp(-d2 / (2 * 1.2 * 1.2));
    });
    const auto ki = indicesOf(*e);
    std::printf("cone: K %.2f I-S %.2f SAI %.2f SRI %.2f SRAX %.0f KISA%% %.0f\n", ki.centralK, ki.inferiorSuperior,
                ki.sai, ki.sri, ki.srax, ki.kisa);
    EXPECT_GT(ki.inferiorSuperior, 1.4);
    EXPECT_GT(ki.kisa, 100);
    EXPECT_GT(ki.sai, 0.5);
    EXPECT_EQ(ki.screening, KeratoconusScreening::Keratoconus);
    EXPECT_EQ(screeningText(ki.screening), QStringLiteral("Compatível com ceratocone"));
}

TEST(KeratoconusIndices, NormalCorneasThroughTheSimulatedInstrumentShowNoSigns) {
    const norvix::sim::Target cases[] = {sphere(7.80), sphere(7.20), sphere(8.50),
                                         toric(7.40, 7.90, 90), toric(7.90, 7.40, 90)};
    uint32_t frame = 501;
    for (const auto& t : cases) {
        QImage image;
        renderer(4).liveFrame(t, frame++, &image);
        Topography topo;
        QString why;
        ASSERT_TRUE(TopographyProcessor(4, 32).process(image, &topo, &why)) << why.toStdString();
        CornealMap map;
        ASSERT_TRUE(map.load(&topo.d, &topo.m, &topo.found, 32, &why)) << why.toStdString();
        const auto start = std::chrono::steady_clock::now();
        const auto ki = keratoconusIndices(map);
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::printf("r %.2f/%.2f: K %.2f cil %.2f I-S %.3f SAI %.3f SRI %.3f SRAX %.0f KISA%% %.2f; %.2f ms\n", t.r1,
                    t.r2, ki.centralK, ki.simK.astigmatism(), ki.inferiorSuperior, ki.sai, ki.sri, ki.srax, ki.kisa, ms);
        EXPECT_LT(std::fabs(ki.inferiorSuperior), 0.3);
        EXPECT_EQ(ki.screening, KeratoconusScreening::NoSigns) << t.r1 << "/" << t.r2;
        EXPECT_EQ(screeningText(ki.screening), QStringLiteral("Sem sinais de ceratocone"));
    }
}
