// Curvature arithmetic, colour scale, the map window and the two map modules as the host
// calls them.
#include <QApplication>
#include <QImage>
#include <QWidget>
#include <cmath>
#include <memory>

#include "OutsideTestSupport.h"
#include "outside/core/CornealMap.h"
#include "outside/core/MapPainter.h"
#include "outside/core/MapWindow.h"

using namespace norvix::outside;
using namespace outside_test;

namespace {

constexpr double kPi = 3.14159265358979323846;

// An exam made up point by point: ring i at 0.3 + 0.13 i mm, axial radius from `radius`.
struct SyntheticExam {
    TMatrizAngAnel d{}, m{};
    TMatrizAng meridians{};
    template <typename F>
    explicit SyntheticExam(F radius, int rings = 32) {
        for (int k = 0; k < 360; ++k) {
            meridians[k] = rings;
            for (int i = 1; i <= rings; ++i) {
                d[k][i] = 0.3 + 0.13 * i;
                m[k][i] = radius(d[k][i], double(k));
            }
            m[k][0] = m[k][1];
        }
    }
};

std::unique_ptr<SyntheticExam> sphereExam(double r) {
    return std::make_unique<SyntheticExam>([r](double, double) { return r; });
}

}  // namespace

TEST(OutsideCornealMap, SphereGivesItsPowerInEveryMeridianAndEveryKind) {
    auto e = sphereExam(7.5);
    CornealMap map;
    QString why;
    ASSERT_TRUE(map.load(&e->d, &e->m, &e->meridians, 32, &why)) << why.toStdString();
    for (MapKind kind : {MapKind::Axial, MapKind::Tangential}) {
        const auto r = map.results(kind);
        EXPECT_NEAR(r[0], 45.0, 1e-6);
        EXPECT_NEAR(r[1], 45.0, 1e-6);
        EXPECT_NEAR(r[2], 45.0, 1e-6);
        EXPECT_NEAR(r[4], 0.0, 1e-6);
        EXPECT_NEAR(r[3], 45.0, kind == MapKind::Axial ? 1e-9 : 0.05);
        EXPECT_NEAR(r[8], 45.0, kind == MapKind::Axial ? 1e-9 : 0.05);
        EXPECT_NEAR(r[5], 0.0, 1e-6);
    }
    EXPECT_NEAR(map.powerAt(MapKind::Axial, 2.0, 33.3), 45.0, 1e-9);
    EXPECT_TRUE(std::isnan(map.powerAt(MapKind::Axial, 6.0, 10)));
}

TEST(OutsideCornealMap, ConicGivesItsAsphericityAndAFlatterTangentialPeriphery) {
    const double r0 = 7.8, q = -0.26;
    SyntheticExam e([&](double r, double) { return std::sqrt(r0 * r0 - q * r * r); });
    CornealMap map;
    ASSERT_TRUE(map.load(&e.d, &e.m, &e.meridians, 32, nullptr));
    EXPECT_NEAR(map.asphericity(), q, 0.005);
    // The tangential radius of a conic: (R0^2 - Q r^2)^(3/2) / R0^2.
    for (double r : {1.0, 2.0, 3.5}) {
        const double truth = std::pow(r0 * r0 - q * r * r, 1.5) / (r0 * r0);
        EXPECT_NEAR(map.radiusAt(MapKind::Tangential, r, 0), truth, 0.01 * truth) << r;
    }
    const auto axial = map.results(MapKind::Axial), tangential = map.results(MapKind::Tangential);
    EXPECT_LT(tangential[3], axial[3]);
}

TEST(OutsideCornealMap, ToricFitFindsPowersAndOrthogonalAxes) {
    // Power 43 +- 1 D with the steep meridian at 30 degrees.
    SyntheticExam e([](double, double k) { return 337.5 / (43.0 + std::cos(2 * (k - 30.0) * kPi / 180.0)); });
    CornealMap map;
    ASSERT_TRUE(map.load(&e.d, &e.m, &e.meridians, 32, nullptr));
    const auto r = map.results(MapKind::Axial);
    EXPECT_NEAR(r[0], 42.0, 1e-6);
    EXPECT_NEAR(r[1], 44.0, 1e-6);
    EXPECT_NEAR(r[4], -2.0, 1e-6);
    EXPECT_DOUBLE_EQ(r[7], 30.0);
    EXPECT_DOUBLE_EQ(r[6], 120.0);
    EXPECT_DOUBLE_EQ(clinicalAxis(0.2), 180.0);
    EXPECT_DOUBLE_EQ(clinicalAxis(179.6), 180.0);
    EXPECT_DOUBLE_EQ(clinicalAxis(90.4), 90.0);
    EXPECT_DOUBLE_EQ(clinicalAxis(0.6), 1.0);
}

TEST(OutsideCornealMap, RefusesMissingOrOversizedDataWithAReason) {
    auto e = sphereExam(7.8);
    CornealMap map;
    QString why;
    EXPECT_FALSE(map.load(nullptr, &e->m, &e->meridians, 32, &why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_FALSE(map.load(&e->d, &e->m, &e->meridians, 33, &why));
    EXPECT_TRUE(why.contains(QStringLiteral("anéis"))) << why.toStdString();
    TMatrizAng none{};
    EXPECT_FALSE(map.load(&e->d, &e->m, &none, 32, &why));
    // Garbage points end a meridian; the meridian vector limits what is read.
    e->d[5][4] = std::nan("");
    e->d[6][4] = 0.1;  // not increasing
    e->meridians[7] = 3;
    ASSERT_TRUE(map.load(&e->d, &e->m, &e->meridians, 32, &why));
    EXPECT_TRUE(std::isnan(map.radiusAt(MapKind::Axial, 1.0, 5)));
    EXPECT_TRUE(std::isnan(map.radiusAt(MapKind::Axial, 1.0, 7)));
    EXPECT_NEAR(map.radiusAt(MapKind::Axial, 1.0, 8), 7.8, 1e-9);
}

TEST(OutsideColourScale, AbsoluteScaleRunsFrom28To65AndAHalfInSteps) {
    const ColourScale s = ColourScale::absolute();
    EXPECT_DOUBLE_EQ(s.levelValue(0), 28.0);
    EXPECT_DOUBLE_EQ(s.levelValue(25), 65.5);
    EXPECT_EQ(s.levelOf(28.0), 0);
    EXPECT_EQ(s.levelOf(43.0), 10);
    EXPECT_EQ(s.levelOf(65.5), 25);
    EXPECT_EQ(s.levelOf(90.0), 25);
    EXPECT_EQ(s.levelOf(5.0), 0);
    EXPECT_EQ(s.levelOf(std::nan("")), 0);
    for (int i = 1; i < ColourScale::kLevels; ++i) EXPECT_NE(s.colour(i), s.colour(i - 1)) << i;
    // Flat is blue, steep is red.
    EXPECT_GT(s.colour(0).blue(), s.colour(0).red());
    EXPECT_GT(s.colour(22).red(), s.colour(22).blue());
}

TEST(OutsideColourScale, FixedIncrementCentresOnTheExamAndRefusesNonsense) {
    const ColourScale s = ColourScale::fixedIncrement(0.5, 43.2);
    EXPECT_DOUBLE_EQ(s.step(), 0.5);
    EXPECT_DOUBLE_EQ(s.levelValue(13), 43.0);
    for (double bad : {0.0, -1.0, 1000.0, std::nan("")}) {
        const ColourScale a = ColourScale::fixedIncrement(bad, 43.2);
        EXPECT_DOUBLE_EQ(a.step(), 1.5) << bad;
        EXPECT_DOUBLE_EQ(a.low(), 28.0);
    }
    TInfosQV infos = infosFor(32, "4");
    EXPECT_DOUBLE_EQ(scaleFor(&infos, 43.0).step(), 1.5);
    infos.AutoIncMap = 1;
    infos.IncMap = 0.25;
    EXPECT_DOUBLE_EQ(scaleFor(&infos, 43.0).step(), 0.25);
}

TEST(OutsideColourScale, ReadsTheColourSettingInItsUsualForms) {
    EXPECT_EQ(colourFromSetting(QStringLiteral("clRed")), QColor(Qt::red));
    EXPECT_EQ(colourFromSetting(QStringLiteral("$000000FF")), QColor(Qt::red));
    EXPECT_EQ(colourFromSetting(QStringLiteral("255")), QColor(Qt::red));
    EXPECT_EQ(colourFromSetting(QStringLiteral("#00ff00")), QColor(0, 255, 0));
    EXPECT_EQ(colourFromSetting(QStringLiteral("clNavy")), QColor(0, 0, 128));
    EXPECT_EQ(colourFromSetting(QStringLiteral("qualquer")), QColor(Qt::black));
    EXPECT_EQ(colourFromSetting(QString()), QColor(Qt::black));
}

TEST(OutsideMapWindow, ShowsHeaderKeratometryAndTheChosenOptions) {
    auto e = sphereExam(7.5);
    TInfosQV infos = infosFor(32, "4");
    infos.Opt1 = 1;
    infos.Opt2 = 0;
    infos.Nome = "Clínica Teste";
    MapRequest req;
    req.d = &e->d;
    req.m = &e->m;
    req.meridians = &e->meridians;
    req.infos = &infos;
    req.header = {QStringLiteral("Maria"), QStringLiteral("0012"), QStringLiteral("RG"), QStringLiteral("Olho Direito"),
                  QStringLiteral("01/02/2026"), QStringLiteral("10:00:00"), QStringLiteral("Dr. Souza"),
                  QStringLiteral("0345"), QStringLiteral("97")};
    {
        MapWindow w(req);
        EXPECT_TRUE(w.hasMap());
        EXPECT_TRUE(w.headerText().contains(QStringLiteral("Maria")));
        EXPECT_TRUE(w.headerText().contains(QStringLiteral("Olho Direito")));
        EXPECT_TRUE(w.headerText().contains(QStringLiteral("97%")));
        EXPECT_FALSE(w.headerText().contains(QStringLiteral("Dr. Souza")));
        EXPECT_TRUE(w.keratometryText().contains(QStringLiteral("45.00 D"))) << w.keratometryText().toStdString();
        EXPECT_TRUE(w.keratoconusText().contains(QStringLiteral("I-S (3 mm): 0.00 D"))) << w.keratoconusText().toStdString();
        EXPECT_TRUE(w.keratoconusText().contains(QStringLiteral("Sem sinais de ceratocone")));
        EXPECT_TRUE(w.warningText().isEmpty());
        EXPECT_TRUE(w.orthoText().isEmpty());
    }
    infos.Opt2 = 1;
    req.ortho = std::array<double, 3>{1.25, 2.5, 8.1};
    MapWindow w(req);
    EXPECT_TRUE(w.headerText().contains(QStringLiteral("Médico: Dr. Souza")));
    EXPECT_TRUE(w.orthoText().contains(QStringLiteral("Sag: 1.25")));
    EXPECT_TRUE(w.orthoText().contains(QStringLiteral("Raio: 8.10")));
}

TEST(OutsideMapWindow, SaysWhatIsMissingInsteadOfAMap) {
    auto e = sphereExam(7.5);
    TInfosQV infos = infosFor(40, "4");
    MapRequest req;
    req.d = &e->d;
    req.m = &e->m;
    req.meridians = &e->meridians;
    req.infos = &infos;
    MapWindow w(req);
    EXPECT_FALSE(w.hasMap());
    EXPECT_TRUE(w.keratoconusText().isEmpty());
    EXPECT_TRUE(w.warningText().contains(QStringLiteral("Número de anéis inválido"))) << w.warningText().toStdString();
    EXPECT_TRUE(w.headerText().contains(QStringLiteral("Cabeçalho do paciente ausente")));
    infos.NumAneis = 32;
    req.d = nullptr;
    MapWindow w2(req);
    EXPECT_TRUE(w2.warningText().contains(QStringLiteral("ausentes")));
}

class OutsideMapModule : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(OutsideMapModule, InfoVisualizarAndTheWindowAsTheHostCallsThem) {
    qputenv("NORVIX_MODULE_AUTOCLOSE", "1");
    Module module(GetParam().first);
    ASSERT_TRUE(module.loaded()) << dlerror();
    auto info = module.entry<TInfoMapa>("InfoMapa");
    auto show = module.entry<TProcessaMapa>("ProcessaMapa");
    auto showOrtho = module.entry<TProcessaMapaOrto>("ProcessaMapaOrto");
    auto small = module.entry<TVisualizar>("Visualizar");
    ASSERT_TRUE(info && show && showOrtho && small);
    ByteStream lines;
    info(lines.stream());
    EXPECT_EQ(lines.data(), QByteArray(GetParam().second) + "\r\n1\r\n1\r\n");

    auto e = sphereExam(7.5);
    TInfosQV infos = infosFor(32, "4");
    infos.ExibeGrade = 1;
    infos.ExibeCeratometriaPontual = 1;
    infos.CorCeratometriaPontual = "clRed";
    TPupila pupil = {320, 240, 80, 0};
    ByteStream picture;
    TResultadoMapa r = {};
    small(nullptr, picture.stream(), nullptr, nullptr, 320, 240, &e->m, &e->meridians, &e->d, &pupil, &r, nullptr, &infos);
    QImage img;
    ASSERT_TRUE(img.loadFromData(picture.data()));
    EXPECT_GE(img.width(), 100);
    EXPECT_NEAR(r[0], 45.0, 0.05);
    EXPECT_NEAR(r[2], 45.0, 0.05);

    QWidget host;
    ByteStream header(QByteArray("Exemplo\r\n0\r\n0\r\nExemplo\r\n01/01/01\r\n00:00:00\r\nMédico Teste\r\n"));
    EXPECT_EQ(show(&host, nullptr, nullptr, 320, 240, header.stream(), &e->m, &e->meridians, &e->d, &pupil, &infos), 1);
    const TValoresOrto ortho = {1.0, 2.0, 8.0};
    EXPECT_EQ(showOrtho(&host, nullptr, nullptr, 320, 240, nullptr, &e->m, &e->meridians, &e->d, &pupil, &ortho, &infos), 1);

    // Bad input: a window that says what is missing, zero results, still a picture, no crash.
    TInfosQV tooMany = infosFor(33, "4");
    EXPECT_EQ(show(&host, nullptr, nullptr, 0, 0, nullptr, &e->m, &e->meridians, &e->d, nullptr, &tooMany), 1);
    EXPECT_EQ(show(&host, nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 1);
    TResultadoMapa zero;
    std::fill(std::begin(zero), std::end(zero), 99.0);
    ByteStream picture2;
    small(nullptr, picture2.stream(), nullptr, nullptr, 0, 0, &e->m, &e->meridians, &e->d, nullptr, &zero, nullptr, &tooMany);
    for (double v : zero) EXPECT_EQ(v, 0.0);
    EXPECT_TRUE(img.loadFromData(picture2.data()));
    small(nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    qunsetenv("NORVIX_MODULE_AUTOCLOSE");
}

INSTANTIATE_TEST_SUITE_P(Modules, OutsideMapModule,
                         ::testing::Values(std::make_pair("Halden.so", "Mapa Axial"),
                                           std::make_pair("Sorvik.so", "Mapa Tangencial")));

TEST(OutsideMapPainter, PaintsEachPointInTheColourOfItsPowerAndGreyBeyondTheData) {
    auto e = sphereExam(7.5);  // 45 D, measured out to 0.3 + 0.13 * 32 = 4.46 mm
    CornealMap map;
    ASSERT_TRUE(map.load(&e->d, &e->m, &e->meridians, 32, nullptr));
    const ColourScale scale = ColourScale::absolute();
    const QImage img = MapPainter::drawMap(map, MapKind::Axial, scale, 220, MapOptions());
    ASSERT_EQ(img.size(), QSize(220, 220));
    const double pxPerMm = 220 / MapPainter::kFieldMm;
    EXPECT_EQ(QColor(img.pixel(110, 110)), scale.colourOf(45.0));
    EXPECT_EQ(QColor(img.pixel(110 + int(3.0 * pxPerMm), 110)), scale.colourOf(45.0));
    EXPECT_EQ(QColor(img.pixel(110 + int(5.0 * pxPerMm), 110)), QColor(225, 225, 225));  // not measured
    EXPECT_EQ(QColor(img.pixel(2, 2)), QColor(Qt::white));                               // outside the field
    // A steeper exam lands on a warmer level.
    auto steep = sphereExam(6.5);
    ASSERT_TRUE(map.load(&steep->d, &steep->m, &steep->meridians, 32, nullptr));
    const QImage hot = MapPainter::drawMap(map, MapKind::Axial, scale, 220, MapOptions());
    EXPECT_EQ(QColor(hot.pixel(110, 110)), scale.colourOf(337.5 / 6.5));
    EXPECT_NE(hot.pixel(110, 110), img.pixel(110, 110));
    const QImage bar = MapPainter::drawScale(scale, 70, 440);
    EXPECT_EQ(QColor(bar.pixel(5, 2)), scale.colour(25));   // steepest on top
    EXPECT_EQ(QColor(bar.pixel(5, 437)), scale.colour(0));
}
