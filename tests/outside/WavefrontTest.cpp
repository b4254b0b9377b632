// Zernike fit on the unit disc, and the corneal wavefront from the rebuilt surface against an
// exact ray trace of the true surface, through the simulated instrument.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include <QApplication>
#include <QLabel>
#include <QMap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include "OutsideTestSupport.h"
#include "outside/math/CornealSurface.h"
#include "outside/math/CornealWavefront.h"
#include "outside/math/PointSpread.h"
#include "outside/core/TopographyProcessor.h"
#include "outside/math/Zernike.h"

using namespace outside_test;
using namespace norvix::outside;

namespace {

constexpr double kN = CornealWavefront::kIndex;

std::vector<zernike::Sample> disc(int steps, double (*w)(double, double)) {
    std::vector<zernike::Sample> out;
    for (int i = -steps; i <= steps; ++i)
        for (int j = -steps; j <= steps; ++j) {
            const double x = double(i) / steps, y = double(j) / steps;
            if (x * x + y * y <= 1) out.push_back({x, y, w(x, y)});
        }
    return out;
}

// Exact trace of the ray parallel to the axis at (x, y): Snell's law at the true surface, then
// the path to the reference sphere round the focus n R0 / (n - 1) that passes the vertex.
// W (µm) = reference path minus ray path.
bool rayTrace(const norvix::sim::Target& t, double r0, double x, double y, double* w) {
    double s0 = 0, gx = 0, gy = 0, h = 0;
    norvix::sim::targetSurface(t, 0, 0, &s0, &gx, &gy);
    if (!norvix::sim::targetSurface(t, x, y, &h, &gx, &gy)) return false;
    h -= s0;
    const double len = std::sqrt(gx * gx + gy * gy + 1);
    const double nx = -gx / len, ny = -gy / len, nz = 1 / len;  // normal into the eye
    const double eta = 1 / kN, c1 = nz, c2 = std::sqrt(1 - eta * eta * (1 - c1 * c1));
    const double k = eta * c1 - c2;
    const double tx = -k * nx, ty = -k * ny, tz = eta - k * nz;
    const double f = kN * r0 / (kN - 1);
    // |P + s T - F|^2 = f^2, the root nearest the surface.
    const double px = x, py = y, pz = h - f;
    const double b = tx * px + ty * py + tz * pz, c = px * px + py * py + pz * pz - f * f;
    const double disc = b * b - c;
    if (disc < 0) return false;
    const double sa = -b + std::sqrt(disc), sb = -b - std::sqrt(disc);
    const double s = std::abs(sa) < std::abs(sb) ? sa : sb;
    *w = -(h + kN * s) * 1000;
    return true;
}

std::vector<double> rayTracedZernike(const norvix::sim::Target& t, double r0, double pupil) {
    std::vector<zernike::Sample> samples;
    const int steps = 40;
    for (int i = -steps; i <= steps; ++i)
        for (int j = -steps; j <= steps; ++j) {
            const double u = double(i) / steps, v = double(j) / steps;
            double w = 0;
            if (u * u + v * v <= 1 && rayTrace(t, r0, u * pupil / 2, v * pupil / 2, &w)) samples.push_back({u, v, w});
        }
    return zernike::fit(samples, 6);
}


}  // namespace

TEST(Zernike, IndexAndKnownPolynomials) {
    int n = 0, m = 0;
    for (int j = 0; j < 28; ++j) {
        zernike::orderOf(j, &n, &m);
        EXPECT_EQ(zernike::index(n, m), j);
        EXPECT_LE(std::abs(m), n);
        EXPECT_EQ((n - m) % 2, 0);
    }
    zernike::orderOf(12, &n, &m);
    EXPECT_EQ(n, 4);
    EXPECT_EQ(m, 0);
    const double r = 0.7, t = 0.4;
    EXPECT_NEAR(zernike::value(4, r, t), std::sqrt(3.0) * (2 * r * r - 1), 1e-12);
    EXPECT_NEAR(zernike::value(5, r, t), std::sqrt(6.0) * r * r * std::cos(2 * t), 1e-12);
    EXPECT_NEAR(zernike::value(3, r, t), std::sqrt(6.0) * r * r * std::sin(2 * t), 1e-12);
    EXPECT_NEAR(zernike::value(7, r, t), std::sqrt(8.0) * (3 * r * r * r - 2 * r) * std::sin(t), 1e-12);
    EXPECT_NEAR(zernike::value(12, r, t), std::sqrt(5.0) * (6 * std::pow(r, 4) - 6 * r * r + 1), 1e-12);
    EXPECT_NEAR(zernike::value(24, 1, 0), std::sqrt(7.0), 1e-12);  // Z(6,0) at the rim
    EXPECT_NEAR(zernike::value(zernike::index(12, 0), 1, 0), std::sqrt(13.0), 1e-9);
    EXPECT_TRUE(std::isnan(zernike::value(zernike::index(13, 1), 0.5, 0)));

    // All terms at once, as the fits evaluate them, agree with one by one, the centre and the
    // four quadrants included.
    const int all = zernike::termsUpTo(zernike::kMaxOrder);
    std::vector<double> z(static_cast<size_t>(all));
    for (auto [x, y] : {std::pair{0.0, 0.0}, {0.3, 0.5}, {-0.6, 0.2}, {-0.1, -0.9}, {0.7, -0.7}, {1.0, 0.0}}) {
        zernike::values(all, x, y, z.data());
        for (int j = 0; j < all; ++j)
            EXPECT_NEAR(z[size_t(j)], zernike::value(j, std::hypot(x, y), std::atan2(y, x)), 1e-9) << j << " " << x << " " << y;
    }
}

TEST(Zernike, FitRecoversCoefficientsAndRefusesWhatCannotFixThem) {
    // Normalised terms: the fit of a single Z_j times c gives c there and nothing elsewhere,
    // and a mixture comes back term by term.
    static std::vector<double> truth;
    truth.assign(28, 0);
    for (int j = 0; j < 28; ++j) truth[j] = std::sin(1.7 * j + 0.3);
    const auto samples = disc(30, [](double x, double y) {
        double w = 0;
        for (int j = 0; j < 28; ++j) w += truth[j] * zernike::value(j, std::hypot(x, y), std::atan2(y, x));
        return w;
    });
    const std::vector<double> c = zernike::fit(samples, 6);
    ASSERT_EQ(c.size(), 28u);
    for (int j = 0; j < 28; ++j) EXPECT_NEAR(c[j], truth[j], 1e-9) << j;
    EXPECT_NEAR(zernike::rms(c, 0), zernike::rms(truth, 0), 1e-9);

    // A shape beyond the fitted order leaves the lower terms close to its projection: r^8 has
    // piston 1/5 over the disc.
    const auto r8 = disc(60, [](double x, double y) { return std::pow(x * x + y * y, 4); });
    EXPECT_NEAR(zernike::fit(r8, 6)[0], 0.2, 2e-3);

    // Too few samples, or samples on one line, cannot fix 28 terms.
    EXPECT_TRUE(zernike::fit(disc(2, [](double, double) { return 1.0; }), 6).empty());
    std::vector<zernike::Sample> line;
    for (int i = 0; i < 200; ++i) line.push_back({i / 200.0, 0, 1});
    EXPECT_TRUE(zernike::fit(line, 6).empty());
    EXPECT_TRUE(zernike::fit({}, 6).empty());
}

TEST(CornealWavefront, ClosedLoopAgainstTheRayTracedTrueSurface) {
    struct Case {
        const char* name;
        norvix::sim::Target target;
    };
    const Case cases[] = {
        {"cônica sem aberração", conic(7.80, -1 / (kN * kN))},
        {"esfera 7,80", conic(7.80, 0)},
        {"cônica Q -0,26", conic(7.80, -0.26)},
        {"esfera 7,20", sphere(7.20)},
    };
    uint32_t frame = 501;
    for (const Case& c : cases) {
        CornealSurface s;
        ASSERT_TRUE(measuredSurface(c.target, frame++, &s)) << c.name;
        CornealWavefront w;
        QString why;
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(w.compute(s, 6.0, &why)) << c.name << ": " << why.toStdString();
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        const std::vector<double> ref = rayTracedZernike(c.target, c.target.r1, 6.0);
        ASSERT_EQ(ref.size(), 28u);
        std::printf("%-22s Z(4,0) medido %+.4f um, traçado %+.4f um; R0 %.3f mm; AAO %.3f um; %.1f ms\n",
                    c.name, w.sphericalUm, ref[12], w.vertexRadiusMm, w.rmsHigherUm, ms);
        EXPECT_NEAR(w.sphericalUm, ref[12], 0.02) << c.name;
        EXPECT_NEAR(w.vertexRadiusMm, c.target.r1, 0.02) << c.name;
    }
}

TEST(CornealWavefront, FreeOfAberrationConicAndToricAstigmatism) {
    CornealSurface s;
    CornealWavefront w;
    QString why;
    ASSERT_TRUE(measuredSurface(conic(7.80, -1 / (kN * kN)), 601, &s));
    ASSERT_TRUE(w.compute(s, 6.0, &why));
    EXPECT_NEAR(w.sphericalUm, 0, 0.01);

    // Flat 8.00 along x, steep 7.40 along y. The paraxial W = (n-1) h - ... puts
    // (n-1)(1/R1 - 1/R2) a^2 / 4 / sqrt(6) in Z(2,2) over a pupil of radius a; the fourth-order
    // cos 2θ terms of the true surface add some 8 % at 6 mm, so the ray trace is the reference.
    const double r1 = 8.00, r2 = 7.40, a = 3.0;
    ASSERT_TRUE(measuredSurface(toric(r1, r2, 0), 602, &s));
    ASSERT_TRUE(w.compute(s, 2 * a, &why));
    const double paraxial = (kN - 1) * (1 / r1 - 1 / r2) * a * a / 4 / std::sqrt(6.0) * 1000;
    const double expected = rayTracedZernike(toric(r1, r2, 0), 2 / (1 / r1 + 1 / r2), 2 * a)[5];
    std::printf("tórica 8,00/7,40: Z(2,2) %.4f um, traçado %.4f um, paraxial %.4f um; Z(2,-2) %.4f um\n",
                w.zernikeUm[5], expected, paraxial, w.zernikeUm[3]);
    EXPECT_NEAR(expected, paraxial, 0.1 * std::abs(paraxial));
    EXPECT_NEAR(w.zernikeUm[5], expected, 0.02 * std::abs(expected));
    EXPECT_NEAR(w.zernikeUm[3], 0, 0.01 * std::abs(expected));
    EXPECT_NEAR(w.at(0, 0), w.zernikeUm[0] - std::sqrt(3.0) * w.zernikeUm[4] + std::sqrt(5.0) * w.zernikeUm[12] -
                                std::sqrt(7.0) * w.zernikeUm[24],
                1e-9);

    // A pupil wider than the measured zone is refused with the reason.
    EXPECT_FALSE(w.compute(s, 2 * s.zoneRadius() + 0.5, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("não cobre a pupila"))) << why.toStdString();
    EXPECT_TRUE(std::isnan(w.at(0, 0)));
    EXPECT_FALSE(w.compute(CornealSurface{}, 6.0, &why));
}

TEST(WendleModule, ProcessaAberrometriaAsTheHostCallsIt) {
    qputenv("NORVIX_MODULE_AUTOCLOSE", "1");
    Module module("Wendle.so");
    ASSERT_TRUE(module.loaded()) << dlerror();
    auto show = module.entry<TProcessaAberrometria>("ProcessaAberrometria");
    ASSERT_TRUE(show);
    EXPECT_NE(module.entry<void*>("InfoMapa"), nullptr);  // its button on the browser's map tool bar

    auto e = std::make_unique<ExamBuffers>();
    e->idealSphere(7.8, 30);
    const char* clinic[4] = {"Clínica Teste", "Rua A, 1", "Cidade - UF", "5555"};
    QWidget host;
    ByteStream header(QByteArray("Exemplo\r\n0\r\n0\r\nExemplo\r\n01/01/01\r\n00:00:00\r\nMédico Teste\r\n"));
    EXPECT_EQ(show(&host, &e->m, &e->d, &e->meridians, "4", 32, 3, 3.0, 1.0, 0.0, 350, 350, 1, header.stream(), clinic), 1);
    // Odd fixed values fall back to a 6 mm pupil and held picture sizes.
    EXPECT_EQ(show(&host, &e->m, &e->d, &e->meridians, "4", 32, 3, -1.0, 1.0, 0.0, 0, 100000, 0, nullptr, clinic), 1);

    // Bad input: the window says why, nothing is touched, no crash. Rings to 2.25 mm do not
    // cover the 6 mm pupil; zero and missing matrices make no surface.
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) e->meridians[k] = 15;
    const ExamBuffers before = *e;
    EXPECT_EQ(show(&host, &e->m, &e->d, &e->meridians, "4", 32, 3, 3.0, 1.0, 0.0, 350, 350, 1, nullptr, nullptr), 1);
    EXPECT_EQ(std::memcmp(&before, e.get(), sizeof before), 0);
    e->fill(0);
    EXPECT_EQ(show(&host, &e->m, &e->d, &e->meridians, "", 0, 0, 3.0, 0.0, 0.0, 350, 350, 1, nullptr, nullptr), 1);
    EXPECT_EQ(show(nullptr, nullptr, nullptr, nullptr, nullptr, 32, 0, 3.0, 0.0, 0.0, 350, 350, 1, nullptr, nullptr), 1);
    qunsetenv("NORVIX_MODULE_AUTOCLOSE");
}

TEST(CornealWavefront, LeftEyeAxesInTheExaminersFrameAsForTheRightEye) {
    // A toric cornea with oblique astigmatism and coma at 30 degrees, and its mirror image as
    // the left eye shows it. In the one frame of both eyes (x to the examiner's right, y up)
    // the terms even about the vertical keep their sign and the odd ones change it.
    norvix::sim::Target right = toric(7.60, 7.95, 30);
    right.kind = norvix::sim::Target::Kind::Cornea;
    right.q = -0.26;
    right.waves.push_back({1, 3, 0.02, 30});  // r³ cos(θ - 30°): coma, with tilt
    norvix::sim::Target left = right;
    left.axisDeg = 180 - right.axisDeg;
    left.waves[0].angleDeg = 180 - right.waves[0].angleDeg;
    left.pupilXMm = -right.pupilXMm;

    CornealWavefront w[2];
    uint32_t frame = 701;
    for (int eye = 0; eye < 2; ++eye) {
        CornealSurface s;
        ASSERT_TRUE(measuredSurface(eye ? left : right, frame++, &s));
        QString why;
        ASSERT_TRUE(w[eye].compute(s, 6.0, &why)) << why.toStdString();
    }
    using zernike::index;
    const auto& r = w[0].zernikeUm;
    const auto& l = w[1].zernikeUm;
    std::printf("OD Z(2,-2) %+.3f Z(2,2) %+.3f Z(3,-1) %+.3f Z(3,1) %+.3f\n", r[index(2, -2)], r[index(2, 2)],
                r[index(3, -1)], r[index(3, 1)]);
    std::printf("OE Z(2,-2) %+.3f Z(2,2) %+.3f Z(3,-1) %+.3f Z(3,1) %+.3f\n", l[index(2, -2)], l[index(2, 2)],
                l[index(3, -1)], l[index(3, 1)]);
    // The right eye carries oblique astigmatism and coma towards 30° (up, examiner's right).
    EXPECT_GT(std::abs(r[index(2, -2)]), 0.3);
    EXPECT_GT(r[index(3, 1)], 0.1);
    EXPECT_GT(r[index(3, -1)], 0.05);
    const double tol = 0.03;
    EXPECT_NEAR(l[index(2, -2)], -r[index(2, -2)], tol);  // sin 2θ: odd about the vertical
    EXPECT_NEAR(l[index(2, 2)], r[index(2, 2)], tol);     // cos 2θ: even
    EXPECT_NEAR(l[index(3, -1)], r[index(3, -1)], tol);   // vertical coma: even
    EXPECT_NEAR(l[index(3, 1)], -r[index(3, 1)], tol);    // horizontal coma: odd
}

TEST(PointSpread, ScaledInArcMinutesAndWithoutWrapping) {
    // A perfect 6 mm pupil: the Airy pattern, its first dark ring at 1.22 λ / D.
    CornealWavefront w;
    w.pupilMm = 6.0;
    w.zernikeUm.assign(28, 0.0);
    PointSpread psf = pointSpread(w);
    ASSERT_EQ(psf.size, 256);
    const int c = psf.size / 2;
    EXPECT_DOUBLE_EQ(psf.at(c, c), 1.0);
    int dark = 1;
    while (dark < c - 1 && psf.at(c, c + dark + 1) < psf.at(c, c + dark)) ++dark;
    const double airy = 1.22 * 0.555e-3 / 6.0 * 180 * 60 / M_PI;  // 0.388'
    EXPECT_NEAR(dark * psf.arcminPerPixel, airy, 1.5 * psf.arcminPerPixel) << psf.fieldArcmin();
    EXPECT_NEAR(psf.at(c - dark, c), psf.at(c, c + dark), 1e-3);  // round, not square

    // 2 µm of defocus: a blur disc of 15.9' radius (the slope of W at the rim). Its light stays
    // inside the disc and away from the picture's edges, which a wrapped picture would light.
    w.zernikeUm[4] = 2.0;
    psf = pointSpread(w);
    const double blur = 2.0 * std::sqrt(3.0) * 4 / 3.0 * 1e-3 * 180 * 60 / M_PI;
    ASSERT_GE(psf.fieldArcmin() / 2, 1.1 * blur);
    double total = 0, inside = 0, border = 0;
    for (int r = 0; r < psf.size; ++r)
        for (int col = 0; col < psf.size; ++col) {
            const double v = psf.at(r, col), rad = std::hypot(r - c, col - c) * psf.arcminPerPixel;
            total += v;
            if (rad <= 1.1 * blur) inside += v;
            if (std::min({r, col, psf.size - 1 - r, psf.size - 1 - col}) < psf.size / 20) border += v;
        }
    std::printf("desfoco 2 um: campo %.1f', %.1f%% dentro do disco de %.1f', %.3f%% na borda\n", psf.fieldArcmin(),
                100 * inside / total, blur, 100 * border / total);
    EXPECT_GT(inside / total, 0.95);
    EXPECT_LT(border / total, 0.005);

    EXPECT_TRUE(pointSpread(CornealWavefront{}).intensity.empty());
}

TEST(WendleModule, WindowShowsWhatItUsedAndOnlyMeaningfulLines) {
    qputenv("NORVIX_MODULE_AUTOCLOSE", "1");
    Module module("Wendle.so");
    auto show = module.entry<TProcessaAberrometria>("ProcessaAberrometria");
    ASSERT_TRUE(show);
    // A sphere measured to 2.55 mm from the vertex: a 5 mm zone under an 8 mm request.
    auto e = std::make_unique<ExamBuffers>();
    e->idealSphere(7.8, 17);
    const char* clinic[4] = {"", "   ", "Cidade - UF", ""};
    ByteStream header(QByteArray("Normal01\r\n0\r\n0\r\nExemplo\r\n01/01/01\r\n00:00:00\r\nM\xe9" "dico Teste\r\n"));
    QWidget host;
    QMap<QString, QString> seen;
    bool closeButton = false, scale = false, psf = false;
    QSize janela, tela;
    QTimer::singleShot(0, qApp, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible() || w->windowTitle() != QStringLiteral("Aberrometria da córnea")) continue;
            janela = w->minimumSizeHint().expandedTo(w->minimumSize());
            tela = w->screen()->availableGeometry().size();
            for (const char* name : {"lblCabecalho", "lblClinica", "lblAviso", "lblFiguras"})
                if (auto* l = w->findChild<QLabel*>(QLatin1String(name))) seen[QLatin1String(name)] = l->text();
            auto* b = w->findChild<QPushButton*>(QStringLiteral("btnFechar"));
            closeButton = b && b->text() == QStringLiteral("Fechar");
            auto* s = w->findChild<QLabel*>(QStringLiteral("imgEscala"));
            scale = s && !s->pixmap().isNull();
            auto* p = w->findChild<QLabel*>(QStringLiteral("imgPsf"));
            psf = p && !p->pixmap().isNull();
        }
    });
    EXPECT_EQ(show(&host, &e->m, &e->d, &e->meridians, "4", 32, 3, 4.0, 1.0, 0.0, 350, 350, 1, header.stream(), clinic), 1);
    qunsetenv("NORVIX_MODULE_AUTOCLOSE");

    const QStringList lines = seen.value(QStringLiteral("lblCabecalho")).split(QLatin1Char('\n'));
    EXPECT_TRUE(lines.contains(QStringLiteral("Normal01"))) << lines.join(u'|').toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("Médico: Médico Teste"))) << lines.join(u'|').toStdString();
    EXPECT_FALSE(lines.contains(QStringLiteral("0"))) << lines.join(u'|').toStdString();
    EXPECT_EQ(seen.value(QStringLiteral("lblClinica")), QStringLiteral("Cidade - UF"));
    const QString warning = seen.value(QStringLiteral("lblAviso"));
    EXPECT_TRUE(warning.contains(QStringLiteral("pedida (8,0 mm)"))) << warning.toStdString();
    EXPECT_TRUE(warning.contains(QStringLiteral("zona medida (5,0 mm)"))) << warning.toStdString();
    EXPECT_TRUE(seen.value(QStringLiteral("lblFiguras")).startsWith(QStringLiteral("Pupila 5,0 mm")))
        << seen.value(QStringLiteral("lblFiguras")).toStdString();
    EXPECT_TRUE(closeButton);
    EXPECT_TRUE(scale);
    EXPECT_TRUE(psf);
    // The window fits the screen it opens on (ctest gives this test a clinic's smallest,
    // 1024 x 768): the pictures give way and the figures scroll.
    EXPECT_LE(janela.width(), tela.width()) << janela.width() << " x " << janela.height();
    EXPECT_LE(janela.height(), tela.height()) << janela.width() << " x " << janela.height();
}
