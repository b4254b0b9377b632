// The simulated instrument: target descriptions, the rendered rings, noise, the BMP layout and
// the simcapture tool.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>

#include "OutsideTestSupport.h"
#include "capture/sim/InstrumentModel.h"

using namespace norvix::sim;
using namespace outside_test;

namespace {

// Radii (pixels) of the rising edges along one meridian of a clean frame, from the axis (the
// frame's centre).
std::vector<double> edgeRadii(const QImage& img, double angleDeg) {
    std::vector<double> radii;
    const double a = angleDeg * 3.14159265358979 / 180.0;
    auto grey = [&](double x, double y) {  // bilinear, pixel centres at +0.5
        x -= 0.5;
        y -= 0.5;
        const int x0 = int(x), y0 = int(y);
        const double fx = x - x0, fy = y - y0;
        auto g = [&](int xx, int yy) { return double(qGray(img.pixel(xx, yy))); };
        return (g(x0, y0) * (1 - fx) + g(x0 + 1, y0) * fx) * (1 - fy) + (g(x0, y0 + 1) * (1 - fx) + g(x0 + 1, y0 + 1) * fx) * fy;
    };
    double prev = -1;
    const double limit = std::min(img.width(), img.height()) / 2.0 - 5;
    for (double t = 1; t < limit; t += 0.25) {
        const double v = grey(img.width() / 2.0 + t * std::cos(a), img.height() / 2.0 - t * std::sin(a));
        if (prev >= 0 && prev < 128 && v >= 128) radii.push_back(t - 0.25 * (v - 128) / (v - prev));
        prev = v;
    }
    return radii;
}

}  // namespace

TEST(OutsideSimTarget, ParsesPortugueseAndEnglishWithEitherDecimalMark) {
    Target t;
    QString error;
    ASSERT_TRUE(parseTarget(QStringLiteral("esfera 7,80"), &t, &error)) << error.toStdString();
    EXPECT_EQ(t.kind, Target::Kind::Sphere);
    EXPECT_DOUBLE_EQ(t.r1, 7.80);
    ASSERT_TRUE(parseTarget(QStringLiteral("  Toric 7.7 7.9 90 "), &t, &error));
    EXPECT_EQ(t.kind, Target::Kind::Toric);
    EXPECT_DOUBLE_EQ(t.r1, 7.7);
    EXPECT_DOUBLE_EQ(t.r2, 7.9);
    EXPECT_DOUBLE_EQ(t.axisDeg, 90);
    ASSERT_TRUE(parseTarget(QStringLiteral("tórica 7.70 7.90 45"), &t, &error));
    EXPECT_DOUBLE_EQ(t.axisDeg, 45);
    ASSERT_TRUE(parseTarget(QStringLiteral("córnea"), &t, &error));
    EXPECT_EQ(t, Target());
    ASSERT_TRUE(parseTarget(QStringLiteral("cornea 7.6 -0.4"), &t, &error));
    EXPECT_DOUBLE_EQ(t.r2, 7.6);
    EXPECT_DOUBLE_EQ(t.q, -0.4);
}

TEST(OutsideSimTarget, RefusesBadDescriptionsWithAReasonAndKeepsTheTarget) {
    Target t = sphere(8.0);
    const Target before = t;
    for (const char* text : {"", "cubo 3", "esfera", "esfera x", "esfera 7.8 9", "torica 7.7 7.9",
                             "esfera 40", "cornea 7.8 -9", "esfera nan"}) {
        QString error;
        EXPECT_FALSE(parseTarget(QString::fromUtf8(text), &t, &error)) << text;
        EXPECT_FALSE(error.isEmpty()) << text;
    }
    EXPECT_EQ(t, before);
}

TEST(OutsideSimTarget, EnvironmentGivesTextOrFileAndFallsBackToTheAverageCornea) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("alvo.txt"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("esfera 8.34\n");
    f.close();
    qputenv("NORVIX_SIM_TARGET", "torica 7.7 7.9 90");
    EXPECT_EQ(targetFromEnvironment(), toric(7.7, 7.9, 90));
    qputenv("NORVIX_SIM_TARGET", file.toUtf8());
    EXPECT_EQ(targetFromEnvironment(), sphere(8.34));
    qputenv("NORVIX_SIM_TARGET", "bolinha");
    EXPECT_EQ(targetFromEnvironment(), Target());
    qunsetenv("NORVIX_SIM_TARGET");
    EXPECT_EQ(targetFromEnvironment(), Target());
}

TEST(OutsideSimRenderer, SphereShowsAllRingsClosedAndGrowingWithItsRadius) {
    Renderer& r = renderer(4);
    const QImage small = r.render(sphere(7.00));
    const QImage mid = r.render(sphere(7.80));
    ASSERT_EQ(mid.size(), QSize(640, 480));
    ASSERT_EQ(mid.format(), QImage::Format_RGB32);
    std::vector<double> first;
    for (double a : {0.0, 45.0, 90.0, 135.0, 200.0, 290.0}) {
        // Every ring crosses every meridian: closed rings, 32 of them.
        const std::vector<double> e = edgeRadii(mid, a);
        ASSERT_EQ(e.size(), 32u) << "meridian " << a;
        const std::vector<double> es = edgeRadii(small, a);
        ASSERT_EQ(es.size(), 32u) << "meridian " << a;
        for (size_t i = 0; i < e.size(); ++i) EXPECT_GT(e[i], es[i]) << "ring " << i + 1;
        if (first.empty()) first = e;
        // Concentric: the same radii on every meridian, within a pixel.
        for (size_t i = 0; i < e.size(); ++i) EXPECT_NEAR(e[i], first[i], 1.0);
    }
    // The fixation light at the vertex.
    EXPECT_GT(qGray(mid.pixel(320, 240)), 200);
}

TEST(OutsideSimRenderer, CachesPerTargetAndAddsFrameDependentNoise) {
    Renderer& r = renderer(4);
    const QImage* a = &r.render(sphere(7.80));
    EXPECT_EQ(a, &r.render(sphere(7.80)));
    QImage f1, f2, f1again;
    r.liveFrame(sphere(7.80), 1, &f1);
    r.liveFrame(sphere(7.80), 2, &f2);
    r.liveFrame(sphere(7.80), 1, &f1again);
    EXPECT_EQ(f1, f1again);
    EXPECT_NE(f1, f2);
    const QImage& clean = r.render(sphere(7.80));
    double worst = 0, sum = 0;
    for (int y = 0; y < 480; y += 7)
        for (int x = 0; x < 640; x += 7) {
            const double d = qGreen(f1.pixel(x, y)) - qGreen(clean.pixel(x, y));
            worst = std::max(worst, std::fabs(d));
            sum += d * d;
        }
    EXPECT_LE(worst, 10);
    EXPECT_GT(sum, 0);
}

TEST(OutsideSimRenderer, OtherCaptureSizesKeepTheFieldOfView) {
    Renderer half(4, 320, 240);
    const QImage& img = half.render(sphere(7.8));
    EXPECT_EQ(img.size(), QSize(320, 240));
    EXPECT_NEAR(half.pitch().x, 2 * InstrumentModel::mmPerPixel(), 1e-12);
    EXPECT_NEAR(half.pitch().y, 2 * InstrumentModel::mmPerPixel(), 1e-12);
    EXPECT_GT(qGray(img.pixel(160, 120)), 150);  // fixation light in the middle

    // 720 x 480 spans the same field with narrower pixels: a ring lies as many mm from the
    // axis across as down, and as far as in the 640 x 480 frame.
    Renderer wide(4, 720, 480);
    const QImage& w = wide.render(sphere(7.8));
    ASSERT_EQ(w.size(), QSize(720, 480));
    EXPECT_NEAR(wide.pitch().x * 720, InstrumentModel::mmPerPixel() * 640, 1e-9);
    EXPECT_NEAR(wide.pitch().y, InstrumentModel::mmPerPixel(), 1e-12);
    const std::vector<double> across = edgeRadii(w, 0), down = edgeRadii(w, 90);
    const std::vector<double> square = edgeRadii(renderer(4).render(sphere(7.8)), 0);
    ASSERT_GE(across.size(), 20u);
    ASSERT_GE(down.size(), 20u);
    for (size_t i = 0; i < 20; ++i) {
        EXPECT_NEAR(across[i] * wide.pitch().x, down[i] * wide.pitch().y, 0.01) << "ring " << i + 1;
        EXPECT_NEAR(across[i] * wide.pitch().x, square[i] * InstrumentModel::mmPerPixel(), 0.01) << "ring " << i + 1;
    }
}

TEST(OutsideSimBmp, WritesTheCapturedBitmapLayoutBottomUp) {
    QImage img(640, 480, QImage::Format_RGB32);
    img.fill(qRgb(0, 0, 0));
    img.setPixel(0, 0, qRgb(10, 20, 30));  // top-left
    const QByteArray b = encodeBmp32(img);
    ASSERT_EQ(b.size(), 1228854);
    EXPECT_EQ(b.left(2), QByteArray("BM"));
    auto le32 = [&](int o) { return quint32(uchar(b[o])) | quint32(uchar(b[o + 1])) << 8 | quint32(uchar(b[o + 2])) << 16 | quint32(uchar(b[o + 3])) << 24; };
    EXPECT_EQ(le32(2), 1228854u);
    EXPECT_EQ(le32(10), 54u);
    EXPECT_EQ(le32(14), 40u);
    EXPECT_EQ(le32(18), 640u);
    EXPECT_EQ(le32(22), 480u);
    EXPECT_EQ(uchar(b[28]), 32);
    EXPECT_EQ(le32(30), 0u);
    EXPECT_EQ(le32(34), 640u * 480u * 4u);
    // The top-left pixel is the first of the last row: blue, green, red, reserved 0.
    const int top = 54 + 479 * 640 * 4;
    EXPECT_EQ(uchar(b[top]), 30);
    EXPECT_EQ(uchar(b[top + 1]), 20);
    EXPECT_EQ(uchar(b[top + 2]), 10);
    EXPECT_EQ(uchar(b[top + 3]), 0);
    QImage back;
    ASSERT_TRUE(back.loadFromData(b, "BMP"));
    EXPECT_EQ(back.pixel(0, 0) & 0xffffff, img.pixel(0, 0) & 0xffffff);
}

TEST(OutsideSimCapture, ToolWritesTheFrameAndRefusesBadArguments) {
    QTemporaryDir dir;
    const QString tool = qEnvironmentVariable("NORVIX_BIN_DIR") + QStringLiteral("/simcapture");
    const QString out = dir.filePath(QStringLiteral("esfera.bmp"));
    QProcess p;
    p.start(tool, {QStringLiteral("--cone"), QStringLiteral("4"), QStringLiteral("--noise"), QStringLiteral("3"),
                   QStringLiteral("esfera 7,80"), out});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_EQ(bytes, noisyBmp(sphere(7.80), 3));

    const QString bad = dir.filePath(QStringLiteral("ruim.bmp"));
    for (const QStringList& args : {QStringList{QStringLiteral("cubo"), bad},
                                    QStringList{QStringLiteral("--cone"), QStringLiteral("7"), QStringLiteral("esfera 7.8"), bad},
                                    QStringList{QStringLiteral("esfera 7.8")}}) {
        p.start(tool, args);
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_NE(p.exitCode(), 0);
        EXPECT_FALSE(p.readAllStandardError().isEmpty());
        EXPECT_FALSE(QFile::exists(bad));
    }
}
