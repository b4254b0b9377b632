// The processing module as the host calls it: accuracy on known targets with and without a
// calibration, the sphere files, and every kind of bad input.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <QTextStream>
#include <cmath>
#include <cstdio>

#include "OutsideTestSupport.h"

using namespace outside_test;
using norvix::outside::ByteStream;

namespace {

struct Fixture {
    Module processing{"Processamento.so"};
    Module axial{"Halden.so"};
    TProcessaImagem processaImagem = processing.entry<TProcessaImagem>("ProcessaImagem");
    TProcessaEsfera processaEsfera = processing.entry<TProcessaEsfera>("ProcessaEsfera");
    TVisualizar visualizar = axial.entry<TVisualizar>("Visualizar");
};

Fixture& fx() {
    static Fixture f;
    return f;
}

int32_t process(const QByteArray& bmp, ExamBuffers* b, const TInfosQV& infos, const TPathsQV* paths) {
    ByteStream s(bmp);
    return fx().processaImagem(nullptr, s.stream(), &b->centreX, &b->centreY, &b->m, &b->meridians, &b->d, &b->pupil,
                               &b->confidence, &infos, paths);
}

std::array<double, 9> keratometry(ExamBuffers& b, const TInfosQV& infos) {
    TResultadoMapa r = {};
    ByteStream picture;
    fx().visualizar(nullptr, picture.stream(), nullptr, nullptr, b.centreX, b.centreY, &b.m, &b.meridians, &b.d,
                    &b.pupil, &r, nullptr, &infos);
    std::array<double, 9> out;
    std::copy(std::begin(r), std::end(r), out.begin());
    return out;
}

double axisDistance(double a, double b) {
    double d = std::fmod(std::fabs(a - b), 180.0);
    return std::min(d, 180.0 - d);
}

// Largest error of the per-ring mean axial radius over the central 3 mm, and of the worst
// single point there.
void centralErrors(const ExamBuffers& b, double truth, double* ringMeanError, double* pointError) {
    *ringMeanError = 0;
    *pointError = 0;
    for (int ring = 1; ring <= 32; ++ring) {
        double sum = 0, dsum = 0;
        int n = 0;
        for (int k = 0; k < 360; ++k) {
            if (b.meridians[k] < ring) continue;
            sum += b.m[k][ring];
            dsum += b.d[k][ring];
            ++n;
        }
        if (n == 0 || dsum / n > 1.5) continue;
        *ringMeanError = std::max(*ringMeanError, std::fabs(sum / n - truth));
        for (int k = 0; k < 360; ++k)
            if (b.meridians[k] >= ring) *pointError = std::max(*pointError, std::fabs(b.m[k][ring] - truth));
    }
}

// The accuracy goals for one configuration (with or without a calibration directory).
void checkAccuracy(const TPathsQV* paths, const char* label) {
    const TInfosQV infos = infosFor(32, "4");
    uint32_t frame = 11;
    for (double r : {7.00, 7.50, 7.80, 8.00, 8.50, 9.00}) {
        ExamBuffers b;
        ASSERT_EQ(process(noisyBmp(sphere(r), frame++), &b, infos, paths), 1) << label << " sphere " << r;
        EXPECT_TRUE(b.fencesIntact());
        double ringError = 0, pointError = 0;
        centralErrors(b, r, &ringError, &pointError);
        EXPECT_LE(ringError, 0.01) << label << " sphere " << r;
        const auto k = keratometry(b, infos);
        const double truth = 337.5 / r;
        EXPECT_NEAR(k[0], truth, 0.05) << label << " sphere " << r;
        EXPECT_NEAR(k[1], truth, 0.05) << label << " sphere " << r;
        EXPECT_NEAR(k[4], 0.0, 0.10);
        std::printf("[%s] esfera %.2f: raio axial (média por anel, 3 mm) erro máx %.4f mm, ponto %.4f mm; "
                    "K %.3f/%.3f D (verdade %.3f)\n",
                    label, r, ringError, pointError, k[0], k[1], truth);
    }
    ExamBuffers b;
    ASSERT_EQ(process(noisyBmp(toric(7.70, 7.90, 90), frame++), &b, infos, paths), 1) << label;
    const auto k = keratometry(b, infos);
    const double astig = 337.5 / 7.90 - 337.5 / 7.70;
    EXPECT_NEAR(k[4], astig, 0.10) << label;
    EXPECT_NEAR(k[0], 337.5 / 7.90, 0.05) << label;
    EXPECT_NEAR(k[1], 337.5 / 7.70, 0.05) << label;
    EXPECT_LE(axisDistance(k[6], 0.0), 2.0) << label << " flat axis " << k[6];
    EXPECT_LE(axisDistance(k[7], 90.0), 2.0) << label << " steep axis " << k[7];
    EXPECT_GE(k[6], 1.0);
    EXPECT_LE(k[6], 180.0);
    std::printf("[%s] tórica 7.70/7.90 @90: astigmatismo %.3f D (verdade %.3f), eixo plano %.1f, eixo curvo %.1f\n",
                label, k[4], astig, k[6], k[7]);
}

// The calibration window's least-squares lines, x = a + b y per ring, from four sphere files.
QByteArray coefficientsFrom(const std::vector<QStringList>& files, int rings) {
    QByteArray out;
    for (int i = 0; i < rings; ++i) {
        double a = 0, b = 0;
        if (i + 1 < files[0].size()) {
            double sx = 0, sy = 0, sxy = 0, syy = 0;
            for (const QStringList& f : files) {
                const double x = f[0].toDouble(), y = f[i + 1].toDouble();
                sx += x; sy += y; sxy += x * y; syy += y * y;
            }
            const double g = 4 * syy - sy * sy;
            a = (syy * sx - sy * sxy) / g;
            b = (4 * sxy - sy * sx) / g;
        }
        out += QByteArray::number(a, 'g', 15) + "\r\n" + QByteArray::number(b, 'g', 15) + "\r\n";
    }
    return out;
}

}  // namespace

TEST(OutsideProcessing, ModuleExportsItsEntryPoints) {
    ASSERT_TRUE(fx().processing.loaded()) << dlerror();
    ASSERT_TRUE(fx().axial.loaded());
    EXPECT_NE(fx().processaImagem, nullptr);
    EXPECT_NE(fx().processaEsfera, nullptr);
    auto info = fx().processing.entry<TInfo>("Info");
    ASSERT_NE(info, nullptr);
    ByteStream s;
    info(s.stream());
    EXPECT_TRUE(s.data().endsWith("\r\n"));
    EXPECT_GT(s.data().size(), 10);
}

TEST(OutsideProcessing, MeasuresKnownSurfacesWithinTheAccuracyGoalsWithoutCalibration) {
    QTemporaryDir empty;  // a calibration directory without Coef.txt
    const QByteArray dir = QDir::toNativeSeparators(empty.path()).toUtf8();
    TPathsQV paths;
    std::memset(&paths, 0, sizeof paths);
    paths.Calibracao = dir.constData();
    checkAccuracy(&paths, "sem calibração");
    checkAccuracy(nullptr, "sem registro de caminhos");
}

// Every size the capture module delivers spans the same field: radii come out in mm as from
// the 640 x 480 frame, positions in the frame's own pixels. 720 x 480 (narrower pixels) meets
// the 640 x 480 goals. 320 x 240 shows the rings barely three pixels apart: per-ring means
// within 0.05 mm and K within 0.15 D, and corneas steeper than about 7.4 mm, whose rings it
// cannot separate, are refused rather than measured wrongly.
TEST(OutsideProcessing, MeasuresEveryCaptureSize) {
    const TInfosQV infos = infosFor(32, "4");
    struct Goals {
        QSize size;
        std::vector<double> spheres;
        double ringGoal, kGoal;
    };
    uint32_t frame = 61;
    for (const Goals& s : {Goals{{640, 480}, {7.00, 7.80, 8.50}, 0.01, 0.05}, Goals{{720, 480}, {7.00, 7.80, 8.50}, 0.01, 0.05},
                           Goals{{320, 240}, {7.80, 8.00, 9.00}, 0.05, 0.15}}) {
        const std::string label = std::to_string(s.size.width()) + " x " + std::to_string(s.size.height());
        for (double r : s.spheres) {
            ExamBuffers b;
            ASSERT_EQ(process(noisyBmpAt(s.size, sphere(r), frame++), &b, infos, nullptr), 1) << label << " sphere " << r;
            EXPECT_NEAR(b.centreX, s.size.width() / 2.0, 0.5) << label;
            EXPECT_NEAR(b.centreY, s.size.height() / 2.0, 0.5) << label;
            double ringError = 0, pointError = 0;
            centralErrors(b, r, &ringError, &pointError);
            EXPECT_LE(ringError, s.ringGoal) << label << " sphere " << r;
            const auto k = keratometry(b, infos);
            EXPECT_NEAR(k[0], 337.5 / r, s.kGoal) << label << " sphere " << r;
            EXPECT_NEAR(k[1], 337.5 / r, s.kGoal) << label << " sphere " << r;
            std::printf("[%s] esfera %.2f: erro máx da média por anel (3 mm) %.4f mm; K %.3f/%.3f D (verdade %.3f)\n",
                        label.c_str(), r, ringError, k[0], k[1], 337.5 / r);
        }
        // The narrower pixels of 720 x 480 must not read as astigmatism, nor hide it.
        ExamBuffers b;
        ASSERT_EQ(process(noisyBmpAt(s.size, toric(7.70, 7.90, 90), frame++), &b, infos, nullptr), 1) << label;
        const auto k = keratometry(b, infos);
        EXPECT_NEAR(k[4], 337.5 / 7.90 - 337.5 / 7.70, 2 * s.kGoal) << label;
        EXPECT_LE(axisDistance(k[6], 0.0), 2.0) << label << " flat axis " << k[6];
        std::printf("[%s] tórica 7.70/7.90 @90: astigmatismo %.3f D (verdade %.3f)\n", label.c_str(), k[4],
                    337.5 / 7.90 - 337.5 / 7.70);
    }
    ExamBuffers steep;
    EXPECT_NE(process(noisyBmpAt({320, 240}, sphere(7.00), frame++), &steep, infos, nullptr), 1);
    EXPECT_TRUE(steep.outputsUntouched());

    // The pupil of the average cornea, 0.15 mm nasal, in the 720 x 480 frame's own pixels (its
    // radius in rows).
    ExamBuffers eye;
    ASSERT_EQ(process(noisyBmpAt({720, 480}, norvix::sim::Target(), 5), &eye, infos, nullptr), 1);
    const norvix::sim::PixelPitch pitch = norvix::sim::InstrumentModel::pixelPitch(720, 480);
    EXPECT_NEAR(eye.pupil[0], 360 + 0.15 / pitch.x, 6);
    EXPECT_NEAR(eye.pupil[1], 240 - 0.05 / pitch.y, 6);
    EXPECT_NEAR(eye.pupil[2], 1.8 / pitch.y, 8);
}

TEST(OutsideProcessing, FillsEveryOutputOfAMeasurableEye) {
    const TInfosQV infos = infosFor(32, "4");
    ExamBuffers b;
    ASSERT_EQ(process(noisyBmp(norvix::sim::Target(), 5), &b, infos, nullptr), 1);
    EXPECT_NEAR(b.centreX, 320.0, 0.5);
    EXPECT_NEAR(b.centreY, 240.0, 0.5);
    EXPECT_NEAR(b.confidence, 100.0, 0.5);
    for (int k = 0; k < 360; ++k) {
        ASSERT_EQ(b.meridians[k], 32);
        EXPECT_EQ(b.d[k][0], 0.0);
        for (int i = 1; i <= 32; ++i) {
            EXPECT_GT(b.d[k][i], b.d[k][i - 1]);
            EXPECT_GT(b.m[k][i], 6.5);
            EXPECT_LT(b.m[k][i], 9.5);
        }
    }
    // The average cornea's pupil (radius 1.8 mm, 0.15 mm nasal) in pixels.
    const double mmPerPixel = norvix::sim::InstrumentModel::mmPerPixel();
    EXPECT_NEAR(b.pupil[0], 320 + 0.15 / mmPerPixel, 6);
    EXPECT_NEAR(b.pupil[1], 240 - 0.05 / mmPerPixel, 6);
    EXPECT_NEAR(b.pupil[2], 1.8 / mmPerPixel, 8);
    EXPECT_GE(b.pupil[3], 80);  // detection confidence, percent
    EXPECT_TRUE(b.fencesIntact());
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
}

TEST(OutsideProcessing, FewerRingsThanTheConeFillOnlyThoseColumns) {
    const TInfosQV infos = infosFor(16, "4");
    ExamBuffers b;
    b.fill(0.0);
    for (int32_t& x : b.meridians) x = 0;
    ASSERT_EQ(process(noisyBmp(sphere(7.8), 6), &b, infos, nullptr), 1);
    for (int k = 0; k < 360; ++k) {
        EXPECT_EQ(b.meridians[k], 16);
        for (int i = 17; i <= 32; ++i) EXPECT_EQ(b.d[k][i], 0.0);
    }
    // A 16-ring cone asked for 32 rings gives its 16.
    const TInfosQV two = infosFor(32, "2");
    ASSERT_EQ(process(noisyBmp(sphere(7.8), 7, 2), &b, two, nullptr), 1);
    EXPECT_EQ(b.meridians[0], 16);
}

TEST(OutsideProcessing, SphereFileThenCalibrationKeepsTheAccuracyGoals) {
    QTemporaryDir dir;
    const TInfosQV infos = infosFor(32, "4");
    std::vector<QStringList> files;
    uint32_t frame = 101;
    for (const char* radius : {"7.73", "8,05", "8.34", "8.91"}) {
        ByteStream image(noisyBmp(sphere(QString::fromLatin1(radius).replace(',', '.').toDouble()), frame++));
        ByteStream result;
        ASSERT_EQ(fx().processaEsfera(nullptr, image.stream(), radius, result.stream(), &infos), 1) << radius;
        const QString text = QString::fromLatin1(result.data());
        ASSERT_TRUE(text.endsWith(QLatin1String("\r\n")));
        QStringList lines = text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 33) << radius;
        EXPECT_EQ(lines[0], QString::fromLatin1(radius).replace(',', '.'));
        for (const QString& l : lines) {
            EXPECT_FALSE(l.contains(QLatin1Char(',')));
            bool ok = false;
            const double v = l.toDouble(&ok);
            EXPECT_TRUE(ok);
            EXPECT_NEAR(v, lines[0].toDouble(), 0.06);
        }
        files.push_back(lines);
    }
    QFile coef(dir.filePath(QStringLiteral("Coef.txt")));
    ASSERT_TRUE(coef.open(QIODevice::WriteOnly));
    coef.write(coefficientsFrom(files, 32));
    coef.close();
    const QByteArray path = dir.path().toUtf8();
    TPathsQV paths;
    std::memset(&paths, 0, sizeof paths);
    paths.Calibracao = path.constData();
    checkAccuracy(&paths, "calibrado");
}

TEST(OutsideProcessing, UnusableCoefficientsFallBackToTheInstrumentModel) {
    QTemporaryDir dir;
    const QByteArray path = dir.path().toUtf8();
    TPathsQV paths;
    std::memset(&paths, 0, sizeof paths);
    paths.Calibracao = path.constData();
    const TInfosQV infos = infosFor(32, "4");
    const QByteArray bmp = noisyBmp(sphere(8.0), 40);
    ExamBuffers model;
    ASSERT_EQ(process(bmp, &model, infos, nullptr), 1);
    for (const QByteArray& content : {QByteArray("abc\r\n1\r\n"), QByteArray("0\r\n0\r\n0\r\n0\r\n"), QByteArray("1.5\r\n")}) {
        QFile f(dir.filePath(QStringLiteral("Coef.txt")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
        f.close();
        ExamBuffers b;
        ASSERT_EQ(process(bmp, &b, infos, &paths), 1) << content.constData();
        // A ring without data ("0", "0") must not collapse to a zero radius.
        EXPECT_DOUBLE_EQ(b.m[10][1], model.m[10][1]) << content.constData();
        EXPECT_DOUBLE_EQ(b.m[10][2], model.m[10][2]) << content.constData();
    }
}

TEST(OutsideProcessing, BadImagesReturnOtherThanOneAndLeaveTheOutputsAlone) {
    const TInfosQV infos = infosFor(32, "4");
    QImage black(640, 480, QImage::Format_RGB32);
    black.fill(Qt::black);
    QImage white(640, 480, QImage::Format_RGB32);
    white.fill(Qt::white);
    // Evenly spaced bright rings over the whole frame: a target, not a cornea's reflection.
    QImage target(640, 480, QImage::Format_RGB32);
    target.fill(Qt::black);
    {
        QPainter p(&target);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::white, 3));
        for (int r = 6; r < 420; r += 7) p.drawEllipse(QPointF(320, 240), r, r);
    }
    // Half an eye: the average cornea moved 300 pixels to the right.
    QImage half(640, 480, QImage::Format_RGB32);
    half.fill(Qt::black);
    {
        QImage eye;
        renderer(4).liveFrame(norvix::sim::Target(), 9, &eye);
        QPainter p(&half);
        p.drawImage(300, 0, eye);
    }
    // An eye, but smaller than any capture size.
    QImage small;
    renderer(4).liveFrame(norvix::sim::Target(), 10, &small);
    small = small.scaled(160, 120, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QByteArray good = noisyBmp(sphere(7.8), 12);
    const std::vector<std::pair<const char*, QByteArray>> cases = {
        {"quadro preto", norvix::sim::encodeBmp32(black)},
        {"quadro saturado", norvix::sim::encodeBmp32(white)},
        {"anéis sem córnea", norvix::sim::encodeBmp32(target)},
        {"meio olho fora do quadro", norvix::sim::encodeBmp32(half)},
        {"bitmap menor que um quadro", norvix::sim::encodeBmp32(small)},
        {"fluxo vazio", QByteArray()},
        {"fluxo truncado", good.left(100000)},
        {"cabeçalho apenas", good.left(54)},
        {"não é bitmap", QByteArray(2000, 'x')},
    };
    for (const auto& [name, bytes] : cases) {
        ExamBuffers b;
        EXPECT_NE(process(bytes, &b, infos, nullptr), 1) << name;
        EXPECT_TRUE(b.outputsUntouched()) << name;
        EXPECT_TRUE(b.fencesIntact()) << name;
    }
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
}

TEST(OutsideProcessing, BadArgumentsReturnOtherThanOne) {
    const QByteArray good = noisyBmp(sphere(7.8), 13);
    ExamBuffers b;
    const TInfosQV tooMany = infosFor(33, "4");
    EXPECT_NE(process(good, &b, tooMany, nullptr), 1);
    const TInfosQV none = infosFor(0, "4");
    EXPECT_NE(process(good, &b, none, nullptr), 1);
    const TInfosQV badCone = infosFor(32, "9");
    EXPECT_NE(process(good, &b, badCone, nullptr), 1);
    const TInfosQV noCone = infosFor(32, nullptr);
    EXPECT_NE(process(good, &b, noCone, nullptr), 1);
    EXPECT_TRUE(b.outputsUntouched());
    const TInfosQV infos = infosFor(32, "4");
    EXPECT_NE(fx().processaImagem(nullptr, nullptr, &b.centreX, &b.centreY, &b.m, &b.meridians, &b.d, &b.pupil,
                                  &b.confidence, &infos, nullptr), 1);
    ModuleStream broken{nullptr, nullptr, nullptr, nullptr, nullptr};
    EXPECT_NE(fx().processaImagem(nullptr, &broken, &b.centreX, &b.centreY, &b.m, &b.meridians, &b.d, &b.pupil,
                                  &b.confidence, &infos, nullptr), 1);
    ByteStream s(good);
    EXPECT_NE(fx().processaImagem(nullptr, s.stream(), &b.centreX, &b.centreY, nullptr, &b.meridians, &b.d, &b.pupil,
                                  &b.confidence, &infos, nullptr), 1);
    EXPECT_NE(fx().processaImagem(nullptr, s.stream(), &b.centreX, &b.centreY, &b.m, &b.meridians, &b.d, &b.pupil,
                                  &b.confidence, nullptr, nullptr), 1);
    EXPECT_TRUE(b.outputsUntouched());
    EXPECT_TRUE(b.fencesIntact());
}

TEST(OutsideProcessing, SphereStepRefusesBadRadiusAndBadImageWithoutWriting) {
    const TInfosQV infos = infosFor(32, "4");
    for (const char* radius : {"abc", "", "0", "-7.7", "99"}) {
        ByteStream image(noisyBmp(sphere(7.73), 14));
        ByteStream result;
        EXPECT_NE(fx().processaEsfera(nullptr, image.stream(), radius, result.stream(), &infos), 1) << radius;
        EXPECT_TRUE(result.data().isEmpty()) << radius;
    }
    QImage black(640, 480, QImage::Format_RGB32);
    black.fill(Qt::black);
    ByteStream image(norvix::sim::encodeBmp32(black));
    ByteStream result;
    EXPECT_NE(fx().processaEsfera(nullptr, image.stream(), "7.73", result.stream(), &infos), 1);
    EXPECT_TRUE(result.data().isEmpty());
    EXPECT_NE(fx().processaEsfera(nullptr, image.stream(), nullptr, result.stream(), &infos), 1);
    ByteStream ok(noisyBmp(sphere(7.73), 15));
    EXPECT_NE(fx().processaEsfera(nullptr, ok.stream(), "7.73", nullptr, &infos), 1);
}

TEST(OutsideProcessing, NoiseAndForgedHeadersNeverCrashOrMeasure) {
    const TInfosQV infos = infosFor(32, "4");
    QImage noise(640, 480, QImage::Format_RGB32);
    uint32_t seed = 7;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            seed = seed * 1664525u + 1013904223u;
            noise.setPixel(x, y, qRgb(int(seed >> 24), int(seed >> 16) & 0xff, int(seed >> 8) & 0xff));
        }
    ExamBuffers b;
    EXPECT_NE(process(norvix::sim::encodeBmp32(noise), &b, infos, nullptr), 1);
    EXPECT_TRUE(b.outputsUntouched());
    const QByteArray good = noisyBmp(sphere(7.8), 16);
    auto forged = [&](int offset, quint32 value) {
        QByteArray f = good;
        for (int i = 0; i < 4; ++i) f[offset + i] = char((value >> (8 * i)) & 0xff);
        return f;
    };
    for (const QByteArray& bytes : {forged(10, 0x7fffffffu), forged(10, 20), forged(18, 100000), forged(22, 0x80000000u),
                                    forged(28, 0), forged(28, 64), forged(2, 5)}) {
        ExamBuffers f;
        process(bytes, &f, infos, nullptr);  // may or may not measure, must not crash or overrun
        EXPECT_TRUE(f.fencesIntact());
    }
    // A top-down bitmap (negative height) is still the same picture.
    QImage flipped;
    renderer(4).liveFrame(sphere(7.8), 16, &flipped);
    QByteArray topDown = norvix::sim::encodeBmp32(flipped.mirrored(false, true));
    const qint32 negative = -480;
    std::memcpy(topDown.data() + 22, &negative, 4);
    ExamBuffers t, g;
    ASSERT_EQ(process(topDown, &t, infos, nullptr), 1);
    ASSERT_EQ(process(good, &g, infos, nullptr), 1);
    EXPECT_NEAR(t.m[0][5], g.m[0][5], 1e-9);
}

TEST(OutsideProcessing, EveryConeTypeInvertsItsOwnRings) {
    for (const char* cone : {"1", "2", "3"}) {
        const int type = cone[0] - '0';
        const TInfosQV infos = infosFor(32, cone);
        ExamBuffers b;
        ASSERT_EQ(process(noisyBmp(sphere(8.0), 21, type), &b, infos, nullptr), 1) << cone;
        EXPECT_EQ(b.meridians[90], type <= 2 ? 16 : 32) << cone;
        double ringError = 0, pointError = 0;
        centralErrors(b, 8.0, &ringError, &pointError);
        EXPECT_LE(ringError, 0.01) << cone;
        std::printf("cone %s, esfera 8.00: erro máx da média por anel (3 mm) %.4f mm\n", cone, ringError);
    }
}
