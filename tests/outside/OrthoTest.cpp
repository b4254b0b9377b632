// The treated cornea of the simulated instrument and the orthokeratology figures measured on it:
// the closed loop from a known geometry through the rendered rings back to Sag, Div, Raio and the
// treatment zone.
#include <cmath>

#include "OutsideTestSupport.h"
#include "outside/math/CornealMap.h"
#include "outside/math/OrthoMetrics.h"
#include "outside/core/TopographyProcessor.h"

using namespace norvix::outside;
using norvix::sim::Target;

namespace {

Target treated(const char* description) {
    Target t;
    QString error;
    EXPECT_TRUE(norvix::sim::parseTarget(QString::fromLatin1(description), &t, &error)) << error.toStdString();
    return t;
}

// The figures of the exact surface, by the same definitions, along one meridian (the targets
// are rotationally symmetric).
OrthoValues truth(const Target& t) {
    auto profile = [&](double r, double* z, double* slope) {
        double gy = 0;
        norvix::sim::targetSurface(t, r, 0, z, slope, &gy);
    };
    std::vector<double> rs, axials;
    for (double r = kOrthoFitFromMm; r <= 4.0 + 1e-9; r += kOrthoGridStepMm) {
        double z = 0, s = 0;
        profile(r, &z, &s);
        rs.push_back(r);
        axials.push_back(r * std::sqrt(1 + s * s) / s);
    }
    OrthoValues v;
    double q = 0;
    EXPECT_TRUE(fitConic(rs, axials, &v.raio, &q));
    v.div = eccentricityOf(q);
    double slope = 0;
    profile(4.0, &v.sag, &slope);
    auto power = [&](double r) {
        const double h = 1e-4;
        double z = 0, s1 = 0, s2 = 0, s = 0;
        profile(r - h, &z, &s1);
        profile(r + h, &z, &s2);
        profile(r, &z, &s);
        return kKeratometric * ((s2 - s1) / (2 * h)) / std::pow(1 + s * s, 1.5);
    };
    double centre = 0;
    for (double r = 0.6; r <= 1.0 + 1e-9; r += 0.1) centre += power(r) / 5;
    for (double r = 1.0; r < 5.0; r += 0.001) {
        const double p = power(r);
        if (p < centre - 1) break;
        if (p > centre + 1) {
            v.zone = 2 * r;
            break;
        }
    }
    return v;
}

OrthoValues measured(const Target& t, uint32_t frame) {
    QImage image;
    outside_test::renderer(4).liveFrame(t, frame, &image);
    TopographyProcessor processor(4, 32);
    Topography topo;
    QString why;
    EXPECT_TRUE(processor.process(image, &topo, &why)) << why.toStdString();
    CornealMap map;
    EXPECT_TRUE(map.load(&topo.d, &topo.m, &topo.found, 32, &why)) << why.toStdString();
    OrthoValues v;
    EXPECT_TRUE(orthoValues(map, &v, &why)) << why.toStdString();
    return v;
}

}  // namespace

TEST(OutsideOrthoTarget, ParsesTheTreatedCorneaAndRefusesImpossibleTreatments) {
    Target t;
    QString error;
    ASSERT_TRUE(norvix::sim::parseTarget(QStringLiteral("orto 7,90 -0.2 5.2 0,02"), &t, &error));
    EXPECT_EQ(t.kind, Target::Kind::Treated);
    EXPECT_DOUBLE_EQ(t.zoneMm, 5.2);
    EXPECT_DOUBLE_EQ(t.depthMm, 0.02);
    const Target before = t;
    for (const char* bad : {"orto 7.9 -0.2 5.2", "orto 7.9 -0.2 1.0 0.02", "ortho 7.9 -0.2 5 0.5",
                            "orto 7.9 -0.2 5 -0.01", "orto 3.0 -0.2 5 0.02"}) {
        error.clear();
        EXPECT_FALSE(norvix::sim::parseTarget(QString::fromLatin1(bad), &t, &error)) << bad;
        EXPECT_FALSE(error.isEmpty()) << bad;
    }
    EXPECT_EQ(t, before);
}

TEST(OutsideOrthoTarget, TreatmentFlattensTheCentreSteepensARingAndKeepsTheApex) {
    const Target t = treated("orto 7.80 -0.20 5.2 0.02");
    double z = 1, gx = 1, gy = 1;
    ASSERT_TRUE(norvix::sim::targetSurface(t, 0, 0, &z, &gx, &gy));
    EXPECT_DOUBLE_EQ(z, 0.0);
    const OrthoValues v = truth(t);
    // 2 * depth / (zone/2)^2 less curvature at the centre: about 2 D flatter than 7.80 mm.
    EXPECT_GT(v.raio, 7.80);
    EXPECT_GT(v.zone, 3.5);
    EXPECT_LT(v.zone, 5.2);
    EXPECT_DOUBLE_EQ(truth(treated("orto 7.80 -0.20 5.2 0")).zone, 0.0);
}

TEST(OutsideOrthoFit, ConicFitRecoversApexAndShapeAndSignsTheEccentricity) {
    for (double q : {-0.5, -0.2, 0.0, 0.4}) {
        std::vector<double> rs, axials;
        for (double r = 0.6; r <= 4.0; r += 0.1) {
            rs.push_back(r);
            axials.push_back(std::sqrt(7.7 * 7.7 - q * r * r));
        }
        double R = 0, fitted = 1;
        ASSERT_TRUE(fitConic(rs, axials, &R, &fitted));
        EXPECT_NEAR(R, 7.7, 1e-9);
        EXPECT_NEAR(fitted, q, 1e-9);
    }
    EXPECT_DOUBLE_EQ(eccentricityOf(-0.25), 0.5);
    EXPECT_DOUBLE_EQ(eccentricityOf(0.25), -0.5);
    double R = 0, q = 0;
    EXPECT_FALSE(fitConic({1.0, 1.0}, {7.0, 7.0}, &R, &q));
    EXPECT_FALSE(fitConic({1.0, 2.0, NAN}, {7.0, NAN, 7.0}, &R, &q));
}

// Raio within 0.02 mm, Div within 0.05, Sag within 0.01 mm, the zone within 0.3 mm.
TEST(OutsideOrthoClosedLoop, MeasuredFiguresMatchTheKnownGeometry) {
    uint32_t frame = 41;
    for (const char* description : {"orto 7.80 -0.25 5.0 0", "orto 7.90 -0.20 5.2 0.020",
                                     "orto 7.60 -0.30 6.0 0.030", "orto 8.00 -0.15 4.6 0.015"}) {
        SCOPED_TRACE(description);
        const Target t = treated(description);
        const OrthoValues want = truth(t), got = measured(t, frame++);
        EXPECT_NEAR(got.raio, want.raio, 0.02);
        EXPECT_NEAR(got.div, want.div, 0.05);
        EXPECT_NEAR(got.sag, want.sag, 0.01);
        EXPECT_NEAR(got.zone, want.zone, 0.3);
        std::printf("%s: Raio %.4f/%.4f Div %.4f/%.4f Sag %.4f/%.4f zona %.2f/%.2f\n", description, got.raio,
                    want.raio, got.div, want.div, got.sag, want.sag, got.zone, want.zone);
    }
}

// ---- ProcessamentoOrto.so as the new-exam window calls it -----------------------------------

namespace {

using norvix::outside::ByteStream;

struct OrtoCall {
    outside_test::Module module{"ProcessamentoOrto.so"};
    TProcessaImagemOrto processa = module.entry<TProcessaImagemOrto>("ProcessaImagem");
    std::unique_ptr<ByteStream> images[4];
    ByteStream m, d, parameters;
    ModuleStream* group[4] = {};
    double confidences[5] = {-1, -1, -1, -1, -7};  // the fifth is a fence
    TInfosQV infos = outside_test::infosFor(32, "4");

    OrtoCall(const std::vector<QByteArray>& frames) {
        for (size_t c = 0; c < 4; ++c) {
            images[c] = std::make_unique<ByteStream>(frames.at(c));
            group[c] = images[c]->stream();
        }
    }
    int32_t run(ModuleStream** imgs = nullptr) {
        return processa(nullptr, imgs ? imgs : group, m.stream(), d.stream(), parameters.stream(), confidences, &infos,
                        nullptr);
    }
    bool nothingWritten() const {
        return m.data().isEmpty() && d.data().isEmpty() && parameters.data().isEmpty() && confidences[0] == -1;
    }
};

QByteArray frameOf(const char* description, uint32_t frame) {
    return outside_test::noisyBmp(treated(description), frame);
}

}  // namespace

TEST(OutsideOrthoProcessing, FourCapturesGiveTablesFiguresAndConfidences) {
    const char* targets[4] = {"orto 7.80 -0.25 5.0 0", "orto 7.90 -0.20 5.2 0.020", "orto 7.60 -0.30 6.0 0.030",
                              "orto 8.00 -0.15 4.6 0.015"};
    std::vector<QByteArray> frames;
    for (int c = 0; c < 4; ++c) frames.push_back(frameOf(targets[c], 71 + c));
    OrtoCall call(frames);
    ASSERT_TRUE(call.module.loaded());
    ASSERT_EQ(call.run(), 1);
    const QStringList m = QString::fromLatin1(call.m.data()).split("\r\n", Qt::SkipEmptyParts);
    const QStringList d = QString::fromLatin1(call.d.data()).split("\r\n", Qt::SkipEmptyParts);
    const QStringList p = QString::fromLatin1(call.parameters.data()).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(m.size(), 4 * 360);
    ASSERT_EQ(d.size(), 4 * 360);
    ASSERT_EQ(p.size(), 16);
    EXPECT_EQ(m[0].split(' ', Qt::SkipEmptyParts).size(), 33);  // rings 0..32
    for (int c = 0; c < 4; ++c) {
        SCOPED_TRACE(targets[c]);
        const OrthoValues want = truth(treated(targets[c]));
        EXPECT_NEAR(p[4 * c].toDouble(), want.sag, 0.01);
        EXPECT_NEAR(p[4 * c + 1].toDouble(), want.div, 0.05);
        EXPECT_NEAR(p[4 * c + 2].toDouble(), want.raio, 0.02);
        EXPECT_NEAR(p[4 * c + 3].toDouble(), want.zone, 0.3);
        EXPECT_GT(call.confidences[c], 90.0);
        // The m table of capture c: the central radius of that capture.
        const double first = m[360 * c].split(' ', Qt::SkipEmptyParts).value(1).toDouble();
        EXPECT_NEAR(first, want.raio, 0.3);
    }
    EXPECT_EQ(call.confidences[4], -7);
}

TEST(OutsideOrthoProcessing, BadArgumentsOrOneUnmeasurableCaptureWriteNothing) {
    const QByteArray good = frameOf("orto 7.80 -0.20 5.2 0.02", 81);
    QImage black(640, 480, QImage::Format_RGB32);
    black.fill(Qt::black);
    {
        OrtoCall call({good, good, norvix::sim::encodeBmp32(black), good});
        EXPECT_EQ(call.run(), 0);
        EXPECT_TRUE(call.nothingWritten());
    }
    {
        OrtoCall call({good, good, good, good});
        ModuleStream* partial[4] = {call.group[0], call.group[1], call.group[2], nullptr};
        EXPECT_EQ(call.run(partial), 0);
        EXPECT_EQ(call.processa(nullptr, nullptr, call.m.stream(), call.d.stream(), call.parameters.stream(),
                                call.confidences, &call.infos, nullptr),
                  0);
        EXPECT_EQ(call.processa(nullptr, call.group, nullptr, call.d.stream(), call.parameters.stream(),
                                call.confidences, &call.infos, nullptr),
                  0);
        EXPECT_EQ(call.processa(nullptr, call.group, call.m.stream(), call.d.stream(), call.parameters.stream(),
                                nullptr, &call.infos, nullptr),
                  0);
        EXPECT_EQ(call.processa(nullptr, call.group, call.m.stream(), call.d.stream(), call.parameters.stream(),
                                call.confidences, nullptr, nullptr),
                  0);
        call.infos.NumAneis = 40;
        EXPECT_EQ(call.run(), 0);
        EXPECT_TRUE(call.nothingWritten());
    }
    {
        OrtoCall call({good, QByteArray("BM"), good, good});  // a stream too short to be an image
        EXPECT_EQ(call.run(), 0);
        EXPECT_TRUE(call.nothingWritten());
    }
}
