// Curvature arithmetic, colour scale, the map window and the two map modules as the host
// calls them; what every map window offers (angle marks, pointer readout, scales, pupil, PNG).
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QWidget>
#include <cmath>
#include <memory>
#include <optional>

#include "OutsideTestSupport.h"
#include "outside/math/CornealMap.h"
#include "outside/core/MapPainter.h"
#include "outside/core/MapModule.h"
#include "outside/core/MapView.h"
#include "outside/core/MapWindow.h"
#include "outside/core/SurfaceMaps.h"
#include "platform/ui/FileDialogSeam.h"
#include "platform/ui/MessageSeam.h"

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
        EXPECT_TRUE(w.keratometryText().contains(QStringLiteral("45,00 D"))) << w.keratometryText().toStdString();
        EXPECT_TRUE(w.keratoconusText().contains(QStringLiteral("I-S (3 mm): 0,00 D"))) << w.keratoconusText().toStdString();
        EXPECT_TRUE(w.keratoconusText().contains(QStringLiteral("Sem sinais de ceratocone")));
        EXPECT_TRUE(w.warningText().isEmpty());
        EXPECT_TRUE(w.orthoText().isEmpty());
    }
    infos.Opt2 = 1;
    req.ortho = std::array<double, 3>{1.25, 2.5, 8.1};
    MapWindow w(req);
    EXPECT_TRUE(w.headerText().contains(QStringLiteral("Médico: Dr. Souza")));
    EXPECT_TRUE(w.orthoText().contains(QStringLiteral("Sag: 1,25")));
    EXPECT_TRUE(w.orthoText().contains(QStringLiteral("Raio: 8,10")));
    req.ortho = std::array<double, 3>{0, 0, 0};  // an example: never measured
    EXPECT_EQ(MapWindow(req).orthoText(), QStringLiteral("Sag: —\nDiv: —\nRaio: —"));
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

    // The printed page's picture: the map window's panel (scale and step beside the map, the
    // header above), at the width asked for; no picture for an exam without a map.
    auto page = module.entry<TImagemMapa>("ImagemMapa");
    ASSERT_TRUE(page);
    ByteStream pageHeader(QByteArray("Ana\r\n\r\n\r\nOlho Direito\r\n14/03/2025\r\n09:00:00\r\n")), printed;
    ASSERT_EQ(page(printed.stream(), pageHeader.stream(), &e->m, &e->meridians, &e->d, &infos, 680), 1);
    QImage pagina;
    ASSERT_TRUE(pagina.loadFromData(printed.data()));
    EXPECT_EQ(pagina.width(), 680);
    EXPECT_GT(pagina.width(), pagina.height() * 0.9);  // the scale stands beside the map
    ByteStream none;
    EXPECT_EQ(page(none.stream(), nullptr, nullptr, nullptr, nullptr, &infos, 680), 0);
    EXPECT_EQ(page(none.stream(), nullptr, &e->m, &e->meridians, &e->d, &infos, 5), 0);

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
    // A short bar keeps its digits at least 9 pixels (their ink some 6 rows tall) and labels
    // fewer levels instead; the labels never overlap.
    for (int altura : {208, 440}) {
        const QImage curta = MapPainter::drawScale(scale, 60, altura);
        int maiorTinta = 0, tinta = 0, rotulos = 0;
        for (int y = 0; y < curta.height(); ++y) {
            bool escura = false;
            for (int x = int(curta.width() * 0.4); x < curta.width(); ++x) escura = escura || qGray(curta.pixel(x, y)) < 128;
            if (escura && tinta == 0) ++rotulos;
            tinta = escura ? tinta + 1 : 0;
            maiorTinta = std::max(maiorTinta, tinta);
        }
        EXPECT_GE(maiorTinta, 6) << altura;
        EXPECT_GE(rotulos, altura < 300 ? 8 : 26) << altura;
    }
}

// ---- what the map windows offer a clinician ----------------------------------------------------

TEST(OutsideMapView, AngleMarksRunCounterClockwiseFromTheExaminersRightForBothEyes) {
    const MapFrame f = MapFrame::fitting(QSizeF(500, 400), 30);
    EXPECT_DOUBLE_EQ(f.disc.width(), 340.0);  // the smaller side, less the margins
    EXPECT_DOUBLE_EQ(f.disc.height(), 340.0);
    EXPECT_EQ(f.centre(), QPointF(250, 200));
    const auto marks = angleMarks(f, 12);
    ASSERT_EQ(marks.size(), 12u);
    for (size_t i = 0; i < marks.size(); ++i) {
        EXPECT_EQ(marks[i].degrees, int(i) * 30);
        const QPointF v = marks[i].position - f.centre();
        EXPECT_NEAR(std::hypot(v.x(), v.y()), 170 + 12, 1e-9);
        // Widget y grows downwards: counter-clockwise on screen is atan2(-y, x).
        double a = std::atan2(-v.y(), v.x()) * 180 / kPi;
        if (a < -1e-9) a += 360;
        EXPECT_NEAR(a, marks[i].degrees, 1e-9);
    }
    EXPECT_GT(marks[0].position.x(), 250 + 170);  // 0° right
    EXPECT_LT(marks[3].position.y(), 200 - 170);  // 90° up
    EXPECT_LT(marks[6].position.x(), 250 - 170);  // 180° left
    // The same marks for both eyes; only the nasal side moves: the right eye's nose is at the
    // examiner's right, the left eye's at the examiner's left.
    EXPECT_EQ(nasalAtRight(Eye::Right), std::optional<bool>(true));
    EXPECT_EQ(nasalAtRight(Eye::Left), std::optional<bool>(false));
    EXPECT_FALSE(nasalAtRight(Eye::Unknown).has_value());
    EXPECT_EQ(eyeOf({"Ana", "1", "2", " Olho Direito "}), Eye::Right);
    EXPECT_EQ(eyeOf({"Ana", "1", "2", "Olho Esquerdo"}), Eye::Left);
    EXPECT_EQ(eyeOf({"Exemplo", "0", "0", "Exemplo"}), Eye::Unknown);
    EXPECT_EQ(eyeOf({}), Eye::Unknown);
}

namespace {
MapRequest requestFor(const SyntheticExam& e, const TInfosQV& infos) {
    MapRequest req;
    req.d = &e.d;
    req.m = &e.m;
    req.meridians = &e.meridians;
    req.infos = &infos;
    req.header = {QStringLiteral("Ana"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("Olho Esquerdo")};
    return req;
}

QPointF at(const MapFrame& f, double rMm, double degrees) {
    const double t = degrees * kPi / 180;
    return f.point(rMm * std::cos(t), rMm * std::sin(t));
}
}  // namespace

TEST(OutsideMapView, PointerReadsPowerRadiusDistanceAndAngleAndNothingOffTheMap) {
    // 43 +- 1 D, steep at 30°: the value under the pointer must follow the meridian.
    SyntheticExam e([](double, double k) { return 337.5 / (43.0 + std::cos(2 * (k - 30.0) * kPi / 180.0)); });
    TInfosQV infos = infosFor(32, "4");
    MapWindow w(requestFor(e, infos));
    w.resize(1100, 760);
    w.show();
    w.layout()->activate();
    MapView* view = w.panel()->view();
    ASSERT_GE(view->width(), 400);
    const MapFrame f = view->frame();
    // The map fills the view's smaller side, less the room for the marks.
    EXPECT_GT(f.disc.width(), std::min(view->width(), view->height()) - 100);
    EXPECT_EQ(view->readoutAt(at(f, 2.0, 30)),
              QStringLiteral("Poder: 44,00 D   Raio: 7,67 mm   Distância do vértice: 2,00 mm   Ângulo: 30°"));
    EXPECT_TRUE(view->readoutAt(at(f, 3.0, 120)).startsWith(QStringLiteral("Poder: 42,00 D   Raio: 8,04 mm")));
    EXPECT_TRUE(view->readoutAt(at(f, 1.0, 270)).endsWith(QStringLiteral("1,00 mm   Ângulo: 270°")));
    EXPECT_TRUE(view->readoutAt(at(f, 5.0, 0)).isEmpty());    // in the field, beyond the rings
    EXPECT_TRUE(view->readoutAt(at(f, 5.6, 45)).isEmpty());   // off the field
    EXPECT_TRUE(view->readoutAt(QPointF(1, 1)).isEmpty());
    // The status line follows the mouse and clears off the map.
    QMouseEvent move(QEvent::MouseMove, at(f, 2.0, 30), view->mapToGlobal(at(f, 2.0, 30)), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(view, &move);
    EXPECT_TRUE(w.panel()->statusLine()->currentMessage().startsWith(QStringLiteral("Poder: 44,00 D")));
    QMouseEvent away(QEvent::MouseMove, QPointF(1, 1), view->mapToGlobal(QPointF(1, 1)), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(view, &away);
    EXPECT_TRUE(w.panel()->statusLine()->currentMessage().isEmpty());
    // The keratometry meridians drawn are the exam's.
    EXPECT_NEAR(view->content().steepAxis, 30, 1e-6);
    EXPECT_NEAR(view->content().flatAxis, 120, 1e-6);
    auto sphere = sphereExam(7.5);
    MapWindow s(requestFor(*sphere, infos));
    EXPECT_TRUE(std::isnan(s.panel()->view()->content().steepAxis));  // a sphere has no axis
}

TEST(OutsideColourScale, NormalisedScaleHoldsTheExamInTheSmallestUsualStep) {
    struct Case {
        double low, high, step;
    } cases[] = {{42.3, 44.1, 0.25}, {43.0, 43.0, 0.25}, {40.0, 52.0, 0.5}, {38.0, 62.0, 1.0}, {30.0, 60.0, 1.5}};
    for (const Case& c : cases) {
        const ColourScale s = ColourScale::normalised(c.low, c.high);
        EXPECT_DOUBLE_EQ(s.step(), c.step) << c.low << " " << c.high;
        // Neither end clipped: each falls within the half step of a level.
        EXPECT_GE(c.low, s.levelValue(0) - s.step() / 2) << c.low;
        EXPECT_LE(c.high, s.levelValue(ColourScale::kLevels - 1) + s.step() / 2) << c.high;
    }
    EXPECT_DOUBLE_EQ(ColourScale::normalised(std::nan(""), 44).step(), 1.5);  // absolute
    EXPECT_DOUBLE_EQ(ColourScale::normalised(45, 44).low(), 28.0);

    // The window offers absolute and normalised (the configured increment first when set), and
    // says the step beside the bar.
    SyntheticExam e([](double r, double) { return 7.8 - 0.05 * r; });
    TInfosQV infos = infosFor(32, "4");
    MapWindow w(requestFor(e, infos));
    QComboBox* choice = w.panel()->scaleChoice();
    ASSERT_EQ(choice->count(), 2);
    EXPECT_EQ(choice->itemText(0), QStringLiteral("Absoluta padronizada"));
    EXPECT_EQ(w.panel()->stepText(), QStringLiteral("Passo:\n1,5 D"));
    choice->setCurrentIndex(1);
    EXPECT_EQ(w.panel()->view()->scale().step(), 0.25);
    EXPECT_EQ(w.panel()->stepText(), QStringLiteral("Passo:\n0,25 D"));
    infos.AutoIncMap = 1;
    infos.IncMap = 0.5;
    MapWindow fixed(requestFor(e, infos));
    ASSERT_EQ(fixed.panel()->scaleChoice()->count(), 3);
    EXPECT_EQ(fixed.panel()->scaleChoice()->itemText(0), QStringLiteral("Incremento fixo (0,50 D)"));
    EXPECT_EQ(fixed.panel()->stepText(), QStringLiteral("Passo:\n0,50 D"));
}

TEST(OutsideMapView, PupilRecordBecomesMillimetresFromTheVertex) {
    const double pitch = norvix::sim::InstrumentModel::mmPerPixel();
    const TPupila record = {370, 215, 100, 0};
    const auto p = pupilInMm(&record, 320, 240);
    ASSERT_TRUE(p);
    EXPECT_NEAR(p->x, 50 * pitch, 1e-9);
    EXPECT_NEAR(p->y, 25 * pitch, 1e-9);  // above the vertex: fewer rows
    EXPECT_NEAR(p->radius, 100 * pitch, 1e-9);
    // A 720 x 480 frame has narrower pixels across, the same rows.
    const TPupila wide = {420, 215, 100, 0};
    const auto q = pupilInMm(&wide, 360, 240, QSize(720, 480));
    ASSERT_TRUE(q);
    EXPECT_NEAR(q->x, 60 * pitch * 640 / 720, 1e-9);
    EXPECT_NEAR(q->radius, p->radius, 1e-9);
    // The frame size comes from the front image when the host passes one.
    QImage small(320, 240, QImage::Format_RGB32);
    small.fill(Qt::black);
    ByteStream front(norvix::sim::encodeBmp32(small));
    const TPupila half = {185, 108, 50, 0};
    const auto h = pupilOfCall(&half, 160, 120, front.stream());
    ASSERT_TRUE(h);
    EXPECT_NEAR(h->x, p->x, 1e-9);
    EXPECT_NEAR(h->radius, p->radius, 1e-9);
    // An empty or implausible record draws nothing.
    const TPupila none = {0, 0, 0, 0}, huge = {320, 240, 400, 0}, far = {600, 240, 60, 0};
    EXPECT_FALSE(pupilInMm(&none, 320, 240));
    EXPECT_FALSE(pupilInMm(nullptr, 320, 240));
    EXPECT_FALSE(pupilInMm(&huge, 320, 240));
    EXPECT_FALSE(pupilInMm(&far, 320, 240));
    EXPECT_FALSE(pupilOfCall(&none, 320, 240, nullptr));
}

TEST(OutsideMapView, DrawsThePupilWhereItIsAndTheGridOnlyWhenAsked) {
    auto e = sphereExam(7.5);  // one colour everywhere, no keratometry axes
    TInfosQV infos = infosFor(32, "4");
    auto picture = [&](bool grid, std::optional<PupilMm> pupil, MapFrame* frame) {
        infos.ExibeGrade = grid ? 1 : 0;
        MapRequest req = requestFor(*e, infos);
        req.pupil = pupil;
        MapWindow w(req);
        w.resize(900, 700);
        w.show();
        w.layout()->activate();
        *frame = w.panel()->view()->frame();
        return w.panel()->view()->grab().toImage();
    };
    // Something dark within 3 pixels of the point (x, y) mm.
    auto darkNear = [](const QImage& img, const MapFrame& f, double x, double y) {
        const QPoint c = f.point(x, y).toPoint();
        for (int dy = -3; dy <= 3; ++dy)
            for (int dx = -3; dx <= 3; ++dx)
                if (QColor(img.pixel(c.x() + dx, c.y() + dy)).lightness() < 90) return true;
        return false;
    };
    MapFrame f;
    const QImage plain = picture(false, std::nullopt, &f);
    EXPECT_FALSE(darkNear(plain, f, 1.0, 0.5));
    EXPECT_FALSE(darkNear(plain, f, 2.5, 1.0));
    const QImage grid = picture(true, std::nullopt, &f);
    auto changedNear = [&](double x, double y) {
        const QPoint c = f.point(x, y).toPoint();
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx)
                if (grid.pixel(c.x() + dx, c.y() + dy) != plain.pixel(c.x() + dx, c.y() + dy)) return true;
        return false;
    };
    EXPECT_TRUE(changedNear(1.0, 0.5));   // on the x = 1 mm line
    EXPECT_TRUE(changedNear(-3.5, -2.0));  // on the y = -2 mm line
    EXPECT_FALSE(changedNear(1.5, 0.5));  // between lines
    // A pupil 1 mm across the vertex to the right and 1 mm up, 1 mm in radius: its outline,
    // its centre cross, and nothing where a flipped y would put it.
    const QImage pupil = picture(false, PupilMm{1.5, 1.0, 1.0}, &f);
    int onOutline = 0;
    for (int a = 0; a < 360; a += 30) {
        const double t = a * kPi / 180;
        onOutline += darkNear(pupil, f, 1.5 + std::cos(t), 1.0 + std::sin(t));
    }
    EXPECT_GE(onOutline, 9);
    EXPECT_TRUE(darkNear(pupil, f, 1.5, 1.0));
    EXPECT_FALSE(darkNear(pupil, f, 1.5, -1.0));
    EXPECT_FALSE(darkNear(pupil, f, 1.5, -2.0));
}

TEST(OutsideMapView, ExportsThePictureAsPngOrSaysWhyNotLeavingNothing) {
    QTemporaryDir dir;
    auto e = sphereExam(7.5);
    TInfosQV infos = infosFor(32, "4");
    MapWindow w(requestFor(*e, infos));
    w.resize(1000, 700);
    w.show();
    w.layout()->activate();
    const QImage picture = w.panel()->picture();
    ASSERT_FALSE(picture.isNull());
    QString why;
    ASSERT_TRUE(savePng(picture, dir.filePath(QStringLiteral("mapa.png")), &why)) << why.toStdString();
    QImage back;
    ASSERT_TRUE(back.load(dir.filePath(QStringLiteral("mapa.png")), "PNG"));
    EXPECT_EQ(back.size(), picture.size());
    // A folder that cannot be written (here a file stands where the folder should be).
    QFile blocker(dir.filePath(QStringLiteral("arquivo")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString bad = dir.filePath(QStringLiteral("arquivo/mapa.png"));
    EXPECT_FALSE(savePng(picture, bad, &why));
    EXPECT_TRUE(why.startsWith(QStringLiteral("Não foi possível gravar a imagem em"))) << why.toStdString();
    EXPECT_FALSE(savePng(QImage(), dir.filePath(QStringLiteral("vazio.png")), &why));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"arquivo", "mapa.png"}));

    // Through the window's button: the name proposed is the patient's, the eye's, the date's and
    // the map's; it gets its extension; the picture carries that header above the map; a
    // failure is told, not hidden.
    norvix::ScriptedFileDialogSeam dialogs;
    norvix::RecordingMessageSeam messages;
    dialogs.answers = {dir.filePath(QStringLiteral("exportado")), bad, QString()};
    w.panel()->exportButton()->click();
    ASSERT_FALSE(dialogs.requests.empty());
    EXPECT_EQ(dialogs.requests[0].proposedName, w.panel()->proposedFileName());
    EXPECT_TRUE(w.panel()->proposedFileName().endsWith(QStringLiteral(" Mapa Axial.png"))) << w.panel()->proposedFileName().toStdString();
    EXPECT_FALSE(w.panel()->proposedFileName().contains(QLatin1Char('/')));
    const QImage exportado(dir.filePath(QStringLiteral("exportado.png")));
    EXPECT_EQ(exportado.width(), picture.width());
    EXPECT_GT(exportado.height(), picture.height());
    EXPECT_EQ(exportado.copy(0, exportado.height() - picture.height(), picture.width(), picture.height()).convertToFormat(QImage::Format_RGB32),
              picture.convertToFormat(QImage::Format_RGB32));
    EXPECT_TRUE(messages.messages.empty());
    w.panel()->exportButton()->click();
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].caption, QStringLiteral("Exportar PNG"));
    EXPECT_TRUE(messages.messages[0].text.contains(QStringLiteral("não permite gravação")));
    w.panel()->exportButton()->click();  // cancelled: nothing happens
    EXPECT_EQ(messages.messages.size(), 1u);
    EXPECT_FALSE(QFileInfo::exists(bad));
}

TEST(OutsideSurfaceMaps, FittingZoneDefaultsToTheWidestUpTo8MmAndClampsToTheMeasured) {
    QString notice;
    EXPECT_DOUBLE_EQ(fittingZone(0, 4.6, &notice), 4.0);
    EXPECT_TRUE(notice.isEmpty());
    EXPECT_DOUBLE_EQ(fittingZone(0, 3.3, &notice), 3.25);
    EXPECT_DOUBLE_EQ(fittingZone(6, 4.6, &notice), 3.0);
    EXPECT_DOUBLE_EQ(fittingZone(9, 4.6, &notice), 4.5);  // chosen beyond 8 mm, still measured
    EXPECT_TRUE(notice.isEmpty());
    EXPECT_DOUBLE_EQ(fittingZone(9, 3.8, &notice), 3.75);
    EXPECT_EQ(notice, QStringLiteral("A zona pedida (9,0 mm) passa da zona medida; foi usada a zona de 7,5 mm."));
    EXPECT_DOUBLE_EQ(fittingZone(6, 4.6, &notice), 3.0);
    EXPECT_TRUE(notice.isEmpty());  // a good choice clears the earlier notice
}
