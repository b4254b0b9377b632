// The multi-map modules as the browser and the new-exam window call them: their wizards, both
// ProcessaMapas forms, the figures their windows show, and the bad input they must survive.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QTableWidget>
#include <QScrollBar>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <functional>

#include "OutsideTestSupport.h"
#include "outside/math/CornealMap.h"
#include "outside/core/ExampleEyes.h"
#include "outside/math/KeratoconusIndices.h"
#include "outside/core/MapWindow.h"
#include "outside/core/MultiMap.h"
#include "outside/core/TopographyProcessor.h"

using namespace outside_test;
using namespace norvix::outside;

namespace {

// One measured exam as the host holds it.
struct HostExam {
    TMatrizAngAnel m, d;
    TMatrizAng meridians;
    TPupila pupil{};
    QStringList header;
};

HostExam measure(const norvix::sim::Target& t, uint32_t frame, const QStringList& header, int rings = 32) {
    QImage image;
    renderer(4).liveFrame(t, frame, &image);
    Topography topo;
    QString why;
    EXPECT_TRUE(TopographyProcessor(4, rings).process(image, &topo, &why)) << why.toStdString();
    HostExam e;
    std::memcpy(e.m, topo.m, sizeof e.m);
    std::memcpy(e.d, topo.d, sizeof e.d);
    std::memcpy(e.meridians, topo.found, sizeof e.meridians);
    e.header = header;
    return e;
}

QStringList header(const char* eye, const char* date, const char* time = "10:00:00") {
    return {"Ana Ribeiro", "12", "RG 1", eye, date, time, "Dra. Beatriz", "97"};
}

// The host's arrays over a set of exams, both forms.
struct Call {
    std::vector<std::unique_ptr<ByteStream>> headerStreams;
    std::vector<ModuleStream*> headerPtrs;
    std::unique_ptr<TMatrizAngAnel[]> m, d;
    std::unique_ptr<TMatrizAng[]> meridians;
    std::unique_ptr<TPupila[]> pupils;
    std::vector<std::array<double, 4>> table;
    TDadosPac headers{};
    TMatrizesAngAnel mArr{}, dArr{};
    TMatrizesAng merArr{};
    TMatPup pupArr{};
    TInfosQV infos = infosFor(32, "4");
    ByteStream options;

    explicit Call(const std::vector<const HostExam*>& exams) {
        const size_t n = exams.size();
        m.reset(new TMatrizAngAnel[n]);
        d.reset(new TMatrizAngAnel[n]);
        meridians.reset(new TMatrizAng[n]);
        pupils.reset(new TPupila[n]());
        table.resize(std::max<size_t>(n, 4));
        for (size_t i = 0; i < n; ++i) {
            headerStreams.push_back(std::make_unique<ByteStream>(crlfLines(exams[i]->header)));
            headerPtrs.push_back(headerStreams.back()->stream());
            std::memcpy(m[i], exams[i]->m, sizeof(TMatrizAngAnel));
            std::memcpy(d[i], exams[i]->d, sizeof(TMatrizAngAnel));
            std::memcpy(meridians[i], exams[i]->meridians, sizeof(TMatrizAng));
        }
        headers = {int32_t(n), headerPtrs.data()};
        mArr = {int32_t(n), m.get()};
        dArr = {int32_t(n), d.get()};
        merArr = {int32_t(n), meridians.get()};
        pupArr = {int32_t(n), pupils.get()};
    }
};

// A deep copy: a module's literal texts live in the module, which is unloaded after the call.
QString own(const QString& s) { return QString(s.constData(), s.size()); }

// What a multi-map window showed before it was closed.
struct Seen {
    bool shown = false;
    QString title, notice, summary, progression;
    QStringList tiles;  // objectNames of the map pictures
    QList<QStringList> rows;
    // The window within the screen with room for a title bar, and its table and "Fechar" within
    // the window.
    bool fits = false;
    int mapsHeight = 0;  // the scrolling maps' visible height
};

// Runs call while a poll reads and closes the first multi-map window; wizard (when given) acts
// on the wizard dialog first.
Seen watch(const std::function<void()>& call, const std::function<void(QDialog*)>& wizard = {}) {
    Seen seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !w->isVisible()) return;
        if (w->objectName() == QLatin1String("frmWizard") && wizard) {
            wizard(static_cast<QDialog*>(w));
            return;
        }
        if (w->objectName() != QLatin1String("frmMultiMapa") || seen.shown) return;
        seen.shown = true;
        seen.title = own(w->windowTitle());
        seen.notice = own(w->findChild<QLabel*>("lblAviso")->text());
        if (auto* l = w->findChild<QLabel*>("lblResumo")) seen.summary = own(l->text());
        if (auto* l = w->findChild<QLabel*>("lblProgressao")) seen.progression = own(l->text());
        for (QLabel* l : w->findChildren<QLabel*>(QRegularExpression("^img")))
            if (!l->pixmap().isNull()) seen.tiles << l->objectName();
        const QRect inside = w->rect();
        const QRect screen = w->screen()->availableGeometry();
        seen.fits = screen.contains(w->geometry()) && w->height() <= screen.height() - 30 &&
                    inside.contains(QRect(w->findChild<QPushButton*>("btnFechar")->mapTo(w, QPoint()),
                                          w->findChild<QPushButton*>("btnFechar")->size()));
        seen.mapsHeight = w->findChild<QWidget*>("scrMapas")->height();
        if (auto* t = w->findChild<QTableWidget*>()) {
            seen.fits = seen.fits && inside.contains(QRect(t->mapTo(w, QPoint()), t->size()));
            for (int r = 0; r < t->rowCount(); ++r) {
                QStringList cells;
                for (int c = 0; c < t->columnCount(); ++c) cells << (t->item(r, c) ? own(t->item(r, c)->text()) : QString());
                seen.rows << cells;
            }
        }
        static_cast<QDialog*>(w)->accept();
    });
    poll.start(10);
    call();
    return seen;
}

// The wizard: ticks the rows given, then reports whether OK was offered and presses it or
// Cancelar.
struct WizardHand {
    explicit WizardHand(std::vector<int> rows) : tick(std::move(rows)) {}
    std::vector<int> tick;
    bool press = true;
    bool okOffered = false;
    QStringList offered;
    QString status, ignored;
    void operator()(QDialog* w) {
        auto* list = w->findChild<QListWidget*>("lswExames");
        for (int i = 0; i < list->count(); ++i) offered << own(list->item(i)->text());
        for (int i : tick) list->item(i)->setCheckState(Qt::Checked);
        auto* ok = w->findChild<QPushButton*>("btnOK");
        okOffered = ok->isEnabled();
        status = own(w->findChild<QLabel*>("lblAviso")->text());
        if (auto* l = w->findChild<QLabel*>("lblIgnoradas")) ignored = own(l->text());
        if (press && okOffered) ok->click();
        else w->findChild<QPushButton*>("btnCancelar")->click();
    }
};

QStringList lines(const ByteStream& s) { return QString::fromLatin1(s.data()).split("\r\n", Qt::SkipEmptyParts); }

const HostExam& sphere780() {
    static const HostExam e = measure(sphere(7.80), 201, header("Olho Direito", "10/02/2025"));
    return e;
}
const HostExam& sphere800() {
    static const HostExam e = measure(sphere(8.00), 202, header("Olho Direito", "10/08/2025"));
    return e;
}

}  // namespace

// ---- Ambrel.so ---------------------------------------------------------------------------------

TEST(OutsideAmbrel, WizardOffersBothKindsAndGivesTwoExamsOfOneEyeInDateOrder) {
    Module ambrel("Ambrel.so");
    auto wizard = ambrel.entry<TWizardOrto>("Wizard");
    ASSERT_NE(wizard, nullptr);
    ByteStream list(crlfLines({"TOlho Direito - 20/05/2025 09:00:00", "OOlho Esquerdo - 01/03/2025 08:00:00",
                               "TOlho Direito - 01/03/2025 08:30:00", "lixo sem formato", "XOlho Direito - 1/1/2025"}));
    ByteStream selection, options;
    const TInfosQV infos = infosFor(32, "4");
    WizardHand mixed({0, 1});  // two eyes: OK not offered
    watch([&] { EXPECT_EQ(wizard(nullptr, list.stream(), selection.stream(), options.stream(), 1, &infos), 0); },
          std::ref(mixed));
    EXPECT_FALSE(mixed.okOffered);
    EXPECT_EQ(mixed.status, "Os exames escolhidos devem ser do mesmo olho.");
    EXPECT_TRUE(mixed.ignored.startsWith("2 linha(s)"));
    EXPECT_EQ(mixed.offered.size(), 3);
    EXPECT_TRUE(selection.data().isEmpty());

    WizardHand hand({0, 2});
    watch([&] { EXPECT_EQ(wizard(nullptr, list.stream(), selection.stream(), options.stream(), 1, &infos), 1); },
          std::ref(hand));
    EXPECT_EQ(lines(selection), QStringList({"Olho Direito - 01/03/2025 08:30:00", "Olho Direito - 20/05/2025 09:00:00"}));
    EXPECT_EQ(lines(options), QStringList({"MAPA=Axial"}));
}

// A sphere of 8.00 mm measured after one of 7.80 mm: -1.08 D everywhere (337.5/8.00 - 337.5/7.80).
TEST(OutsideAmbrel, AxialDifferenceOfTwoSpheresIsUniformAtTheExpectedPower) {
    const double expected = 337.5 / 8.00 - 337.5 / 7.80;
    Exams exams;
    Call call({&sphere800(), &sphere780()});  // later first: the module orders by date
    QString why;
    ASSERT_TRUE(readExams(&call.headers, &call.mArr, &call.merArr, &call.dArr, 2, &call.infos, &exams, &why));
    sortByDate(&exams);
    double worst = 0;
    for (double r = 0; r <= 3.0; r += 0.1)
        for (int a = 0; a < 360; a += 3) {
            const double v = powerDifference(*exams[1], *exams[0], MapKind::Axial, r, a);
            ASSERT_TRUE(std::isfinite(v)) << r << " " << a;
            worst = std::max(worst, std::fabs(v - expected));
        }
    EXPECT_LT(worst, 0.05);
    std::printf("diferença axial 8.00 - 7.80 mm: esperado %.4f D, maior desvio %.4f D nos 6 mm centrais\n", expected, worst);

    Module ambrel("Ambrel.so");
    auto processa = ambrel.entry<TProcessaMapas>("ProcessaMapas");
    ASSERT_NE(processa, nullptr);
    const Seen seen = watch([&] {
        processa(nullptr, &call.headers, &call.mArr, &call.merArr, &call.dArr, &call.pupArr, 2, call.options.stream(),
                 &call.infos);
    });
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.title, "Mapa Diferencial Axial");
    EXPECT_TRUE(seen.tiles.contains("imgDiferenca") && seen.tiles.contains("imgAnterior") && seen.tiles.contains("imgPosterior"));
    // The window's own figures over the central 6 mm: mean, lowest, highest.
    const QRegularExpressionMatch six =
        QRegularExpression("6 mm: média (\\S+) D, de (\\S+) D a (\\S+) D").match(seen.summary);
    ASSERT_TRUE(six.hasMatch()) << seen.summary.toStdString();
    for (int i = 1; i <= 3; ++i) EXPECT_NEAR(six.captured(i).replace(u',', u'.').toDouble(), expected, 0.05) << seen.summary.toStdString();
    EXPECT_TRUE(seen.notice.isEmpty()) << seen.notice.toStdString();
}

TEST(OutsideAmbrel, DifferentRingCountsAnExamWithoutDataAndBadArraysAreSaidSo) {
    Module ambrel("Ambrel.so");
    auto processa = ambrel.entry<TProcessaMapas>("ProcessaMapas");
    HostExam sixteen = measure(sphere(7.9), 205, header("Olho Direito", "01/01/2026"), 16);
    Call call({&sphere780(), &sixteen});
    Seen seen = watch([&] {
        processa(nullptr, &call.headers, &call.mArr, &call.merArr, &call.dArr, &call.pupArr, 2, call.options.stream(), &call.infos);
    });
    EXPECT_TRUE(seen.notice.contains("números de anéis diferentes (16 e 32)")) << seen.notice.toStdString();
    EXPECT_TRUE(seen.tiles.contains("imgDiferenca"));

    // NaN and zero rings: the exam is listed without a map, and no difference is drawn.
    for (auto& row : call.m[1]) for (double& v : row) v = NAN;
    seen = watch([&] {
        processa(nullptr, &call.headers, &call.mArr, &call.merArr, &call.dArr, &call.pupArr, 2, call.options.stream(), &call.infos);
    });
    EXPECT_TRUE(seen.notice.contains("Dados de anéis insuficientes")) << seen.notice.toStdString();
    EXPECT_FALSE(seen.tiles.contains("imgDiferenca"));

    // Counts of 0, above the arrays, null arrays: a window that says why, result 0.
    for (int count : {0, 3, -1}) {
        seen = watch([&] {
            EXPECT_EQ(processa(nullptr, &call.headers, &call.mArr, &call.merArr, &call.dArr, &call.pupArr, count,
                               call.options.stream(), &call.infos),
                      0);
        });
        EXPECT_TRUE(seen.notice.startsWith("Não é possível mostrar os mapas")) << count;
    }
    seen = watch([&] {
        EXPECT_EQ(processa(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 2, nullptr, nullptr), 0);
    });
    EXPECT_TRUE(seen.notice.contains("Dados dos exames ausentes"));
}

// ---- Truvan.so ---------------------------------------------------------------------------------

TEST(OutsideTruvan, BothEyesSideBySideWithTheirKeratometryAndDifference) {
    Module truvan("Truvan.so");
    auto wizard = truvan.entry<TWizard>("Wizard");
    auto processa = truvan.entry<TProcessaMapas>("ProcessaMapas");
    ASSERT_TRUE(wizard && processa);
    ByteStream list(crlfLines({"Olho Esquerdo - 02/03/2025 10:00:00", "Olho Direito - 03/03/2025 10:00:00",
                               "Olho Direito - 04/03/2025 10:00:00"}));
    ByteStream selection, options;
    const TInfosQV infos = infosFor(32, "4");
    WizardHand twoRight({1, 2});
    watch([&] { wizard(nullptr, list.stream(), selection.stream(), options.stream(), &infos); }, std::ref(twoRight));
    EXPECT_FALSE(twoRight.okOffered);
    WizardHand hand({0, 2});
    watch([&] {
        EXPECT_EQ(wizard(nullptr, list.stream(), selection.stream(), options.stream(), &infos), 1);
    }, [&](QDialog* w) {
        w->findChild<QCheckBox*>("chkEspelhar")->setChecked(true);
        hand(w);
    });
    EXPECT_EQ(lines(selection), QStringList({"Olho Direito - 04/03/2025 10:00:00", "Olho Esquerdo - 02/03/2025 10:00:00"}));
    EXPECT_TRUE(lines(options).contains("ESPELHAR=1"));

    HostExam left = measure(toric(7.70, 7.90, 90), 207, header("Olho Esquerdo", "02/03/2025"));
    Call call({&sphere780(), &left});
    options.rewind();
    const Seen seen = watch([&] {
        processa(nullptr, &call.headers, &call.mArr, &call.merArr, &call.dArr, &call.pupArr, 2, options.stream(), &call.infos);
    });
    ASSERT_EQ(seen.rows.size(), 5);
    // OD 43.27 D in every meridian; OS 42.72 and 43.83 D: the eyes differ by about -1.1 D of cylinder.
    auto value = [&](int row, int column) { return seen.rows[row][column].section(' ', 0, 0).replace(u',', u'.').toDouble(); };
    EXPECT_NEAR(value(2, 0), 337.5 / 7.80, 0.05);
    EXPECT_NEAR(value(3, 1), 337.5 / 7.90 - 337.5 / 7.70, 0.1);
    EXPECT_NEAR(value(3, 2), -(337.5 / 7.90 - 337.5 / 7.70), 0.1);
    EXPECT_TRUE(seen.tiles.contains("imgOD") && seen.tiles.contains("imgOS"));
    EXPECT_TRUE(seen.notice.isEmpty()) << seen.notice.toStdString();
}

// ---- Quessel.so --------------------------------------------------------------------------------

TEST(OutsideQuessel, FlagsARiseOfOneDioptreWithinTwelveMonthsOnly) {
    Module quessel("Quessel.so");
    auto processa = quessel.entry<TProcessaMapas>("ProcessaMapas");
    ASSERT_NE(processa, nullptr);
    // A cone that steepens: 7.80 -> 7.70 -> 7.55 mm (about +1.5 D of maximum curvature).
    std::vector<HostExam> cone;
    const char* dates[] = {"05/01/2024", "05/06/2024", "20/11/2024"};
    const double radii[] = {7.80, 7.70, 7.55};
    for (int i = 0; i < 3; ++i) cone.push_back(measure(sphere(radii[i]), 210 + i, header("Olho Esquerdo", dates[i])));
    Call call({&cone[2], &cone[0], &cone[1]});
    Seen seen = watch([&] {
        processa(nullptr, &call.headers, &call.mArr, &call.merArr, &call.dArr, &call.pupArr, 3, call.options.stream(), &call.infos);
    });
    EXPECT_TRUE(seen.progression.startsWith("PROGRESSÃO")) << seen.progression.toStdString();
    ASSERT_EQ(seen.rows.size(), 3);
    EXPECT_EQ(seen.rows[0][0], "05/01/2024");  // date order
    EXPECT_TRUE(seen.tiles.contains("imgTendencia") && seen.tiles.contains("imgMapa2"));

    // The same rise over 18 months is no progression by the criterion.
    cone[2].header = header("Olho Esquerdo", "20/07/2025");
    cone[1].header = header("Olho Esquerdo", "20/07/2024");
    Call slow({&cone[0], &cone[1], &cone[2]});
    seen = watch([&] {
        processa(nullptr, &slow.headers, &slow.mArr, &slow.merArr, &slow.dArr, &slow.pupArr, 3, slow.options.stream(), &slow.infos);
    });
    EXPECT_TRUE(seen.progression.startsWith("Sem progressão")) << seen.progression.toStdString();

    // Its I-S is the map window's figure for the same exam (an inferior cone: not zero).
    HostExam periferico = measure(exampleEyes()[1].target, 230, header("Olho Direito", "01/02/2025"));
    Call one({&periferico, &cone[0]});
    seen = watch([&] {
        processa(nullptr, &one.headers, &one.mArr, &one.merArr, &one.dArr, &one.pupArr, 2, one.options.stream(), &one.infos);
    });
    CornealMap map;
    QString why;
    ASSERT_TRUE(map.load(&periferico.d, &periferico.m, &periferico.meridians, 32, &why)) << why.toStdString();
    const double is = keratoconusIndices(map).inferiorSuperior;
    ASSERT_GT(std::fabs(is), 0.05);
    ASSERT_EQ(seen.rows.size(), 2);
    EXPECT_EQ(seen.rows[1][3], dioptreText(is));
}

// ---- Fennic.so ---------------------------------------------------------------------------------

TEST(OutsideFennic, WizardOffersOnlyOrthokeratologyExams) {
    Module fennic("Fennic.so");
    auto wizard = fennic.entry<TWizard>("Wizard");
    ByteStream list(crlfLines({"TOlho Direito - 20/05/2025 09:00:00", "OOlho Direito - 01/03/2025 08:00:00",
                               "OOlho Direito - 01/04/2025 08:00:00"}));
    ByteStream selection, options;
    const TInfosQV infos = infosFor(32, "4");
    WizardHand hand({1, 0});
    watch([&] { EXPECT_EQ(wizard(nullptr, list.stream(), selection.stream(), options.stream(), &infos), 1); }, std::ref(hand));
    EXPECT_EQ(hand.offered.size(), 2);
    EXPECT_EQ(lines(selection), QStringList({"Olho Direito - 01/03/2025 08:00:00", "Olho Direito - 01/04/2025 08:00:00"}));
}

// The contract lets a host call the one name "ProcessaMapas" in the second form, as other
// programs do; that call is made here on purpose, outside the sanitizer's function-type check.
#if defined(__clang__)
__attribute__((no_sanitize("function")))
#endif
static int32_t secondFormByOneName(Module& module, const TDadosPac* headers, const TMatrizesAngAnel* m,
                                   const TMatrizesAngAnel* d, const TTabelaOrto* table, const TInfosQV* infos) {
    return module.entry<TProcessaMapasOrto>("ProcessaMapas")(nullptr, headers, m, d, table, infos);
}

TEST(OutsideFennic, BothFormsShowTheFollowUpAndItsFigures) {
    Module fennic("Fennic.so");
    auto second = fennic.entry<TProcessaMapasOrto>("ProcessaMapasOrto");
    auto first = fennic.entry<TProcessaMapas>("ProcessaMapas");
    ASSERT_NE(second, nullptr);
    HostExam before = measure(sphere(7.80), 220, header("Olho Direito", "01/03/2025"));
    norvix::sim::Target treated;
    QString error;
    ASSERT_TRUE(norvix::sim::parseTarget("orto 7.80 -0.20 5.2 0.02", &treated, &error));
    HostExam after = measure(treated, 221, header("Olho Direito", "01/04/2025"));
    Call call({&after, &before});
    call.table[0] = {1.05, -0.55, 8.19, 3.7};  // the host's figures are shown as given
    Seen seen;
    for (bool ownName : {true, false}) {
        seen = watch([&] {
            const auto* table = reinterpret_cast<const TTabelaOrto*>(call.table.data());
            if (ownName) second(nullptr, &call.headers, &call.mArr, &call.dArr, table, &call.infos);
            else secondFormByOneName(fennic, &call.headers, &call.mArr, &call.dArr, table, &call.infos);
        });
        ASSERT_EQ(seen.rows.size(), 2);
        EXPECT_TRUE(seen.rows[0][0].startsWith("1.  01/03/2025"));  // the earlier one is the reference
        EXPECT_EQ(seen.rows[1].mid(1), QStringList({"1,050", "-0,55", "8,19", "3,7"}));
        EXPECT_NEAR(QString(seen.rows[0][3]).replace(u',', u'.').toDouble(), 7.80, 0.02);  // computed: the row was empty
        EXPECT_EQ(seen.rows[0][4], "não encontrada");
        EXPECT_TRUE(seen.notice.contains("Zona de tratamento não encontrada em 1 exame(s)")) << seen.notice.toStdString();
        EXPECT_TRUE(seen.tiles.contains("imgDiferenca1"));
    }

    // The first form with example headers: recognised by the headers and the meridian vectors.
    before.header = {"Exemplo", "00", "00", "Olho Direito", "10/01/2001", "00:00:00", "Dr. Norvix"};
    after.header = {"Exemplo", "00", "00", "Olho Direito", "12/01/2001", "00:00:00", "Dr. Norvix"};
    Call examples({&before, &after});
    seen = watch([&] {
        first(nullptr, &examples.headers, &examples.mArr, &examples.merArr, &examples.dArr, &examples.pupArr, 2,
              examples.options.stream(), &examples.infos);
    });
    ASSERT_EQ(seen.rows.size(), 2);
    EXPECT_NEAR(QString(seen.rows[1][4]).replace(u',', u'.').toDouble(), 3.7, 0.3);
    // The same examples in the second form, as this program's browser passes them.
    seen = watch([&] {
        second(nullptr, &examples.headers, &examples.mArr, &examples.dArr,
               reinterpret_cast<const TTabelaOrto*>(examples.table.data()), &examples.infos);
    });
    ASSERT_EQ(seen.rows.size(), 2);
    EXPECT_NEAR(QString(seen.rows[1][3]).replace(u',', u'.').toDouble(), 8.19, 0.05);

    seen = watch([&] { EXPECT_EQ(second(nullptr, nullptr, &call.mArr, &call.dArr, nullptr, &call.infos), 0); });
    EXPECT_TRUE(seen.notice.startsWith("Não é possível mostrar os mapas"));
    TDadosPac none{0, call.headerPtrs.data()};
    seen = watch([&] { EXPECT_EQ(second(nullptr, &none, &call.mArr, &call.dArr, nullptr, &call.infos), 0); });
    EXPECT_TRUE(seen.notice.contains("Nenhum exame"));
}

TEST(OutsideFennic, EightExamsAndAThreeLineNoticeLeaveTheTableAndFecharOnA1024x768Screen) {
    Module fennic("Fennic.so");
    auto second = fennic.entry<TProcessaMapasOrto>("ProcessaMapasOrto");
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(QGuiApplication::primaryScreen()->size(), QSize(1024, 768));
    std::vector<HostExam> visits(8, sphere780());
    visits.push_back(measure(sphere(7.80), 230, {}, 16));  // a third line: ring counts differ
    std::vector<const HostExam*> all;
    for (size_t i = 0; i < visits.size(); ++i) {
        visits[i].header = header("Olho Direito", qPrintable(QStringLiteral("%1/03/2025").arg(i + 1, 2, 10, QLatin1Char('0'))));
        all.push_back(&visits[i]);
    }
    Call call(all);
    call.table.resize(9);
    const Seen seen = watch([&] {
        second(nullptr, &call.headers, &call.mArr, &call.dArr, reinterpret_cast<const TTabelaOrto*>(call.table.data()),
               &call.infos);
    });
    EXPECT_EQ(seen.notice.count('\n'), 2) << seen.notice.toStdString();
    EXPECT_EQ(seen.rows.size(), 8);
    EXPECT_TRUE(seen.fits);
    EXPECT_GE(seen.mapsHeight, 200);  // the maps keep room to scroll through
}

TEST(OutsideMultiMapWindow, DoubleClickOnAnExamTileOpensItsFullMapWindow) {
    const HostExam a = measure(sphere(7.8), 1, header("Olho Direito", "01/02/2026"));
    HostExam empty{};
    empty.header = header("Olho Esquerdo", "01/02/2026");
    Call call({&a, &empty});
    Exams exams;
    QString why;
    ASSERT_TRUE(readExams(&call.headers, &call.mArr, &call.merArr, &call.dArr, 2, &call.infos, &exams, &why));
    ASSERT_TRUE(exams[0]->hasMap);
    ASSERT_FALSE(exams[1]->hasMap);
    MultiMapWindow window(QStringLiteral("Teste"), nullptr);
    QLabel* tiles[2];
    for (int i = 0; i < 2; ++i) {
        tiles[i] = window.addTile(0, i, QStringLiteral("imgMapa%1").arg(i), exams[size_t(i)]->header.caption(),
                                  [&exams, i](int side) {
                                      return examPicture(*exams[size_t(i)], MapKind::Tangential, ColourScale::absolute(),
                                                         MapOptions(), side);
                                  });
        window.linkFullMap(tiles[i], *exams[size_t(i)], MapKind::Tangential, &call.infos);
    }
    QString title, shownHeader;
    int opened = 0;
    auto doubleClick = [&](QLabel* tile) {
        QTimer::singleShot(0, [&] {
            if (auto* w = qobject_cast<MapWindow*>(QApplication::activeModalWidget())) {
                ++opened;
                title = own(w->windowTitle());
                shownHeader = own(w->headerText());
                w->accept();
            }
        });
        QMouseEvent e(QEvent::MouseButtonDblClick, QPointF(20, 20), tile->mapToGlobal(QPointF(20, 20)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(tile, &e);
        QApplication::processEvents();
    };
    doubleClick(tiles[0]);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(title, QStringLiteral("Mapa Tangencial"));
    EXPECT_TRUE(shownHeader.contains(QStringLiteral("Olho Direito"))) << shownHeader.toStdString();
    EXPECT_FALSE(tiles[0]->toolTip().isEmpty());
    doubleClick(tiles[1]);  // no map: nothing to open
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(tiles[1]->toolTip().isEmpty());
}

TEST(OutsideMultiMapWindow, MapsAndScaleAreDrawnLargerInALargerWindowAndSmallerAgainWhenItShrinks) {
    Call call({&sphere780(), &sphere800()});
    Exams exams;
    QString why;
    ASSERT_TRUE(readExams(&call.headers, &call.mArr, &call.merArr, &call.dArr, 2, &call.infos, &exams, &why));
    MultiMapWindow window(QStringLiteral("Teste"), nullptr);
    QLabel* tiles[2];
    for (int i = 0; i < 2; ++i)
        tiles[i] = window.addTile(0, i, QStringLiteral("imgMapa%1").arg(i), exams[size_t(i)]->header.caption(),
                                  [&exams, i](int side) {
                                      return examPicture(*exams[size_t(i)], MapKind::Axial, ColourScale::absolute(),
                                                         MapOptions(), side);
                                  });
    window.addScale(0, 2, ColourScale::absolute(), QStringLiteral("imgEscala"));
    auto* scale = window.findChild<QLabel*>("imgEscala");
    auto settle = [&](QSize size) {
        window.resize(size);
        for (int i = 0; i < 20; ++i) {
            QApplication::processEvents();
            QThread::msleep(10);
        }
        QApplication::processEvents();
    };
    window.setVisible(true);
    const struct {
        QSize window;
        bool larger;
    } cases[] = {{{1600, 1100}, true}, {{360, 300}, false}, {{1300, 700}, true}};
    for (const auto& c : cases) {
        settle(c.window);
        const int side = window.tileSide();
        EXPECT_EQ(side > tileSize(), c.larger) << c.window.width() << "x" << c.window.height() << ": " << side;
        for (QLabel* tile : tiles) EXPECT_EQ(tile->pixmap().size(), QSize(side, side));
        EXPECT_GE(scale->pixmap().height(), side);  // never shorter than its digits need
        // Grown maps fit the window, their scale as tall as they are.
        if (c.larger) {
            EXPECT_EQ(scale->pixmap().height(), side);
            EXPECT_EQ(window.findChild<QScrollArea*>()->verticalScrollBar()->maximum(), 0);
        }
    }
    window.setVisible(false);
}

TEST(OutsideMultiMapContract, WizardsAndFirstFormsRefuseMissingArgumentsWithoutAWindowOrACrash) {
    const TInfosQV infos = infosFor(32, "4");
    ByteStream list(crlfLines({"Olho Direito - 01/03/2025 08:00:00"})), selection, options;
    for (const char* file : {"Truvan.so", "Quessel.so", "Fennic.so"}) {
        Module module(file);
        auto wizard = module.entry<TWizard>("Wizard");
        ASSERT_NE(wizard, nullptr) << file;
        EXPECT_EQ(wizard(nullptr, nullptr, selection.stream(), options.stream(), &infos), 0) << file;
        EXPECT_EQ(wizard(nullptr, list.stream(), nullptr, options.stream(), &infos), 0) << file;
    }
    Module ambrel("Ambrel.so");
    auto wizardOrto = ambrel.entry<TWizardOrto>("Wizard");
    EXPECT_EQ(wizardOrto(nullptr, nullptr, selection.stream(), nullptr, 1, &infos), 0);
    EXPECT_TRUE(selection.data().isEmpty());
    // The first forms with nothing in them: a window that says why, and 0.
    for (const char* file : {"Truvan.so", "Quessel.so"}) {
        Module module(file);
        auto processa = module.entry<TProcessaMapas>("ProcessaMapas");
        const Seen seen = watch([&] {
            EXPECT_EQ(processa(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 3, nullptr, &infos), 0) << file;
        });
        EXPECT_TRUE(seen.notice.contains("Dados dos exames ausentes")) << file;
    }
}

TEST(OutsideMultiMapInfo, EachModuleDescribesItselfAsAMultiMap) {
    for (const char* file : {"Ambrel.so", "Truvan.so", "Quessel.so", "Fennic.so"}) {
        Module module(file);
        ASSERT_TRUE(module.loaded()) << file;
        auto info = module.entry<TInfoMapa>("InfoMapa");
        ASSERT_TRUE(info && module.entry<void*>("Wizard") && module.entry<void*>("ProcessaMapas")) << file;
        ByteStream out;
        info(out.stream());
        const QStringList l = lines(out);
        ASSERT_GE(l.size(), 3) << file;
        EXPECT_EQ(l[1], "2") << file;
        info(nullptr);
    }
}
