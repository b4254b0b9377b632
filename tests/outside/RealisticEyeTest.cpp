// The realistic simulated eye (pupil, lids, lashes, decentred fixation, defocus, a cone) and the
// processing that must cope with it: the closed loop, rendered in memory with noise on.
#include <cmath>
#include <cstdio>
#include <memory>

#include "OutsideTestSupport.h"
#include "outside/math/KeratoconusIndices.h"
#include "outside/core/TopographyProcessor.h"

using namespace outside_test;
using namespace norvix::outside;
using norvix::sim::Target;

namespace {

Target parsed(const char* text) {
    Target t;
    QString why;
    EXPECT_TRUE(norvix::sim::parseTarget(QString::fromUtf8(text), &t, &why)) << text << ": " << why.toStdString();
    return t;
}

// One noisy frame of cone 4 measured for 32 rings; null (and a test failure) when refused.
std::unique_ptr<Topography> measure(const Target& t, uint32_t frame) {
    QImage image;
    renderer(4).liveFrame(t, frame, &image);
    auto topo = std::make_unique<Topography>();
    QString why;
    EXPECT_TRUE(TopographyProcessor(4, 32).process(image, topo.get(), &why)) << why.toStdString();
    return topo;
}

CornealMap mapOf(const Topography& topo) {
    CornealMap map;
    QString why;
    EXPECT_TRUE(map.load(&topo.d, &topo.m, &topo.found, 32, &why)) << why.toStdString();
    return map;
}

// Height of the upper lid margin above the apex at x (mm), as the renderer draws it.
double upperLidAt(const Target& t, double x) { return t.upperLidMm - x * x / 28.0; }

}  // namespace

TEST(RealisticEyeTarget, DescriptionsChooseEveryFeatureAndBareTargetsShowNone) {
    // A bare cornea shows no lid, lash, decentration or blur: today's measurements hold.
    const Target bare = parsed("cornea 7.8 -0.26");
    EXPECT_EQ(bare.upperLidMm, 0);
    EXPECT_EQ(bare.lowerLidMm, 0);
    EXPECT_FALSE(bare.lashes);
    EXPECT_EQ(bare.fixationXMm, 0);
    EXPECT_EQ(bare.defocusMm, 0);

    const Target eye = parsed("cornea 7.70 7.90 90 -0.26 olho pupila 4,2 0.3 -0.1 fixacao 0 -0.5");
    EXPECT_DOUBLE_EQ(eye.r1, 7.70);
    EXPECT_GT(eye.upperLidMm, 0);
    EXPECT_GT(eye.lowerLidMm, 0);
    EXPECT_TRUE(eye.lashes);
    EXPECT_GT(eye.defocusMm, 0);
    EXPECT_DOUBLE_EQ(eye.pupilRadiusMm, 2.1);  // later words override "olho"
    EXPECT_DOUBLE_EQ(eye.pupilXMm, 0.3);
    EXPECT_DOUBLE_EQ(eye.fixationYMm, -0.5);
    EXPECT_EQ(parsed("córnea pálpebras 3 4 cílios fixação 0.1 0.1 desfoco 0.02"),
              parsed("cornea eyelids 3 4 lashes fixation 0.1 0.1 defocus 0.02"));

    // The cone: an inferior protrusion on the average cornea unless told otherwise.
    const Target kc = parsed("ceratocone");
    ASSERT_EQ(kc.bumps.size(), 1u);
    EXPECT_LT(kc.bumps[0].yMm, -1.0);
    EXPECT_GT(kc.bumps[0].heightMm, 0);
    EXPECT_EQ(kc.r1, Target().r1);
    const Target kc2 = parsed("keratoconus 7.5 -0.3 0.4 -2.0 0.9 0.05 eye");
    EXPECT_DOUBLE_EQ(kc2.r1, 7.5);
    EXPECT_EQ(kc2.bumps[0], (Target::Bump{0.4, -2.0, 0.9, 0.05}));
    EXPECT_TRUE(kc2.lashes);

    Target keep = kc2;
    for (const char* text : {"esfera 7.8 olho", "torica 7.7 7.9 90 palpebras 3 4", "cornea fixacao 0.5 0.1",
                             "cornea pupila 9", "cornea pupila 3 2 2", "cornea palpebras 0.2 4", "cornea desfoco 0.5",
                             "cornea olho 3", "cornea cilios 1", "cornea sobrancelha", "ceratocone 0 -1.5 1",
                             "ceratocone 0 -1.5 1 0.5", "ceratocone 0 -6 1 0.03", "cornea palpebras 3"}) {
        QString why;
        EXPECT_FALSE(norvix::sim::parseTarget(QString::fromUtf8(text), &keep, &why)) << text;
        EXPECT_FALSE(why.isEmpty()) << text;
    }
    EXPECT_EQ(keep, kc2);
}

TEST(RealisticEyeRenderer, LidsHideTheRingsAndFixationMovesTheVertex) {
    auto grey = [](const QImage& img, double xMm, double yMm) {
        const double mm = norvix::sim::InstrumentModel::mmPerPixel();
        return qGray(img.pixel(int(320 + xMm / mm), int(240 - yMm / mm)));
    };
    // Along the vertical above the lid margin no ring shows: the skin is flat mid-grey.
    const QImage lid = renderer(4).render(parsed("cornea 7.8 0 palpebras 2.0 3.0"));
    int lo = 255, hi = 0;
    for (double y = 2.4; y < 4.4; y += 0.01) {
        lo = std::min(lo, grey(lid, 0, y));
        hi = std::max(hi, grey(lid, 0, y));
    }
    EXPECT_LT(hi - lo, 60);
    EXPECT_GT(lo, 60);
    // Below the margin the rings still alternate bright and dark.
    lo = 255, hi = 0;
    for (double y = 0.8; y < 1.6; y += 0.01) {
        lo = std::min(lo, grey(lid, 0, y));
        hi = std::max(hi, grey(lid, 0, y));
    }
    EXPECT_GT(hi - lo, 150);

    // A decentred fixation moves the vertex reflection with the eye.
    const QImage off = renderer(4).render(parsed("cornea 7.8 0 fixacao 0.4 -0.3"));
    EXPECT_GT(grey(off, 0.4, -0.3), 200);
    EXPECT_LT(grey(off, 0, 0), 100);

    // Defocus softens the ring edges: the steepest step between neighbouring pixels shrinks.
    auto steepest = [](const QImage& img) {
        int best = 0;
        for (int x = 330; x < 500; ++x) best = std::max(best, std::abs(qGray(img.pixel(x + 1, 240)) - qGray(img.pixel(x, 240))));
        return best;
    };
    EXPECT_LT(steepest(renderer(4).render(parsed("cornea 7.8 0 desfoco 0.03"))),
              0.7 * steepest(renderer(4).render(parsed("cornea 7.8 0"))));
}

TEST(RealisticEyeProcessing, PupilWithinATenthOfAMillimetre) {
    const double mm = norvix::sim::InstrumentModel::mmPerPixel();
    uint32_t frame = 900;
    for (const char* text : {"cornea", "cornea 7.8 -0.26 pupila 3 -0.3 0.2", "cornea 7.6 -0.2 pupila 5 0.4 -0.3",
                             "cornea 7.7 7.9 90 -0.26 olho", "ceratocone olho pupila 2.6 0.1 0.3",
                             "cornea 8.0 -0.3 olho fixacao -0.3 0.4"}) {
        const Target t = parsed(text);
        const auto topo = measure(t, frame++);
        // In the frame: the apex sits off the axis by the fixation error, the pupil off the apex.
        // (A cone tilts the cornea, so the vertex reflection is not the apex.)
        const double dx = (topo->pupil[0] - 320) * mm - (t.fixationXMm + t.pupilXMm);
        const double dy = -(topo->pupil[1] - 240) * mm - (t.fixationYMm + t.pupilYMm);
        const double dr = topo->pupil[2] * mm - t.pupilRadiusMm;
        std::printf("%s: pupila erro centro %.3f %.3f mm, raio %.3f mm, confiança %d%%\n", text, dx, dy, dr,
                    topo->pupil[3]);
        // The record holds whole pixels (0.022 mm): a tenth of a millimetre is about 4.5 of them.
        EXPECT_LE(std::hypot(dx, dy), 0.1) << text;
        EXPECT_LE(std::fabs(dr), 0.1) << text;
        EXPECT_GE(topo->pupil[3], 50) << text;
        EXPECT_LE(topo->pupil[3], 100) << text;
    }
    // A steel sphere has no pupil: the record stays all zeros.
    const auto ball = measure(sphere(7.8), frame++);
    for (int32_t v : ball->pupil) EXPECT_EQ(v, 0);
}

TEST(RealisticEyeProcessing, CoveredRingsStayUnmeasuredAndTheVisibleOnesKeepTheirAccuracy) {
    // A toric cornea of known keratometry, once open and once with the upper lid over the
    // upper third of the rings (their zone reaches about 4.4 mm from the apex).
    const Target open = parsed("cornea 7.70 7.90 90 0");
    const Target covered = parsed("cornea 7.70 7.90 90 0 palpebras 1.5 0");
    const auto a = measure(open, 31);
    const auto b = measure(covered, 32);
    EXPECT_NEAR(a->confidence, 100, 0.5);

    // No measured point lies under the lid, the points beyond the meridian's count are 0, and
    // the points the open eye has above the lid are missing.
    int hidden = 0;
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        const double c = std::cos(k * M_PI / 180), s = std::sin(k * M_PI / 180);
        for (int i = 1; i <= 32; ++i) {
            if (i <= b->found[k]) {
                EXPECT_LT(b->d[k][i] * s, upperLidAt(covered, b->d[k][i] * c)) << k << " " << i;
                EXPECT_GT(b->m[k][i], 0);
            } else {
                ASSERT_EQ(b->d[k][i], 0.0) << k << " " << i;
                ASSERT_EQ(b->m[k][i], 0.0) << k << " " << i;
            }
            if (a->d[k][i] * s > upperLidAt(covered, a->d[k][i] * c)) {
                ++hidden;
                EXPECT_LT(b->found[k], i) << k << " " << i;
            }
        }
    }
    // The confidence index falls with the covered share (and a little more: the last ring
    // before the lid, whose gap the lid cuts).
    const double coveredShare = 100.0 * hidden / (NORVIX_MERIDIANS * 32);
    std::printf("pálpebra sobre o terço superior: %.1f%% dos pontos cobertos, confiança %.1f%%\n", coveredShare,
                b->confidence);
    EXPECT_GT(coveredShare, 15);
    EXPECT_LT(b->confidence, 100 - coveredShare + 0.5);
    EXPECT_GT(b->confidence, 100 - coveredShare - 5);

    // Where the rings show, the keratometry is that of the open eye and of the truth.
    const Keratometry ka = mapOf(*a).keratometry(MapKind::Axial), kb = mapOf(*b).keratometry(MapKind::Axial);
    std::printf("K aberto %.3f/%.3f D, coberto %.3f/%.3f D (verdade %.3f/%.3f)\n", ka.flatPower, ka.steepPower,
                kb.flatPower, kb.steepPower, 337.5 / 7.90, 337.5 / 7.70);
    EXPECT_NEAR(kb.flatPower, 337.5 / 7.90, 0.05);
    EXPECT_NEAR(kb.steepPower, 337.5 / 7.70, 0.05);
    EXPECT_NEAR(kb.flatPower, ka.flatPower, 0.05);
    EXPECT_NEAR(kb.steepPower, ka.steepPower, 0.05);
}

TEST(RealisticEyeProcessing, DecentredFixationAndDefocusKeepTheKeratometryAndLowerTheConfidence) {
    // The keratometry holds; the confidence index says how far the picture was from centred
    // and sharp (down to half the share of ring points found).
    const struct {
        const char* text;
        double lowest, highest;  // confidence, percent
    } cases[] = {
        {"cornea 7.8 0", 99, 100},
        {"cornea 7.8 0 fixacao 0.5 0", 55, 68},  // 0.5 mm off axis
        {"cornea 7.8 0 fixacao 0 -0.5", 55, 68},
        {"cornea 7.8 0 fixacao -0.35 0.35", 55, 68},
        {"cornea 7.8 0 desfoco 0.03", 50, 60},  // blurred well past the sharp level: near half
        {"cornea 7.8 0 olho", 50, 75},          // off axis and a little blurred
    };
    uint32_t frame = 700;
    for (const auto& c : cases) {
        const auto topo = measure(parsed(c.text), frame++);
        const Keratometry k = mapOf(*topo).keratometry(MapKind::Axial);
        std::printf("%s: K %.3f/%.3f D (verdade %.3f), confiança %.1f%%\n", c.text, k.flatPower, k.steepPower,
                    337.5 / 7.8, topo->confidence);
        EXPECT_NEAR(k.flatPower, 337.5 / 7.8, 0.05) << c.text;
        EXPECT_NEAR(k.steepPower, 337.5 / 7.8, 0.05) << c.text;
        EXPECT_GE(topo->confidence, c.lowest) << c.text;
        EXPECT_LE(topo->confidence, c.highest) << c.text;
    }
}

TEST(RealisticEyeKeratoconus, TheConeIsScreenedAndNormalEyesAreNot) {
    uint32_t frame = 800;
    for (const char* text : {"ceratocone", "ceratocone olho", "ceratocone 7.6 -0.3 0.6 -1.8 1.0 0.03 olho"}) {
        const auto topo = measure(parsed(text), frame++);
        const KeratoconusIndices ki = keratoconusIndices(mapOf(*topo));
        std::printf("%s: K %.2f I-S %.2f SRAX %.0f KISA%% %.0f -> %s\n", text, ki.centralK, ki.inferiorSuperior, ki.srax,
                    ki.kisa, qPrintable(screeningText(ki.screening)));
        EXPECT_GT(ki.inferiorSuperior, 1.4) << text;
        EXPECT_GT(ki.kisa, 100) << text;
        EXPECT_EQ(screeningText(ki.screening), QStringLiteral("Compatível com ceratocone")) << text;
    }
    // Normal corneas, a sphere-like one and with-the-rule astigmatism up to 3 D, bare and with
    // the lids, lashes, decentration and blur of a real capture.
    for (const char* text : {"cornea", "cornea olho", "cornea 7.8 0 olho", "cornea 7.90 7.40 0 -0.26",
                             "cornea 7.90 7.40 0 -0.26 olho", "cornea 7.95 7.60 5 -0.3 olho"}) {
        const auto topo = measure(parsed(text), frame++);
        const KeratoconusIndices ki = keratoconusIndices(mapOf(*topo));
        std::printf("%s: K %.2f cil %.2f I-S %.2f SRAX %.0f KISA%% %.1f -> %s\n", text, ki.centralK,
                    ki.simK.astigmatism(), ki.inferiorSuperior, ki.srax, ki.kisa, qPrintable(screeningText(ki.screening)));
        EXPECT_EQ(screeningText(ki.screening), QStringLiteral("Sem sinais de ceratocone")) << text;
    }
    // A lid low enough to hide the superior points 3 mm from the vertex leaves no I-S: no
    // verdict, rather than one from the lower half alone.
    const auto low = measure(parsed("cornea olho palpebras 2.5 4"), frame++);
    const KeratoconusIndices ki = keratoconusIndices(mapOf(*low));
    EXPECT_TRUE(std::isnan(ki.inferiorSuperior));
    EXPECT_EQ(ki.screening, KeratoconusScreening::NotAssessed);
}
