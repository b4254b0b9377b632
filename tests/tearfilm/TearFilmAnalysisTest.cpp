// The tear-film analysis in a closed loop: films of the simulated eye with known break-up spots,
// written by simcapture --video, give back their onsets, where they broke and the final blink;
// a recording that cannot be analysed says why.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <cmath>

#include "capture/sim/SimulatedEye.h"
#include "tearfilm/TearFilm.h"
#include "tearfilm/TearRecording.h"

using namespace norvix::lagrima;

namespace {

QString binary(const char* name) { return qEnvironmentVariable("NORVIX_BIN_DIR") + u'/' + QLatin1String(name); }

// The sectors a spot breaks: all those its patch reaches, at its onset (the patch grows to its
// radius within a fraction of a second); the earliest spot wins.
std::vector<double> truthOf(const norvix::sim::Target& t, double untilS) {
    std::vector<double> truth(kBands * kGroups, NAN);
    for (const auto& s : t.tearFilm.spots) {
        if (s.onsetS > untilS) continue;
        const double reach = s.radiusMm;
        for (double dx = -reach; dx <= reach; dx += 0.02)
            for (double dy = -reach; dy <= reach; dy += 0.02) {
                const int k = dx * dx + dy * dy <= reach * reach ? sectorOf(s.xMm + dx, s.yMm + dy) : -1;
                if (k >= 0 && !(truth[size_t(k)] <= s.onsetS)) truth[size_t(k)] = s.onsetS;
            }
    }
    return truth;
}

// Neighbours: the same sector, or the next band or group (groups wrap round).
bool near(int a, int b) {
    const int ba = a / kGroups, bb = b / kGroups, ga = a % kGroups, gb = b % kGroups;
    const int dg = std::min((ga - gb + kGroups) % kGroups, (gb - ga + kGroups) % kGroups);
    return std::abs(ba - bb) + dg <= 1;
}

bool nearAny(int k, const std::vector<double>& map) {
    for (int j = 0; j < int(map.size()); ++j)
        if (map[size_t(j)] >= 0 && near(k, j)) return true;  // NaN: whole; kNotAnalysedS: unseen
    return false;
}

}  // namespace

TEST(TearFilmAnalysis, SectorsOfPointsOnTheCornea) {
    struct Case { double x, y; int sector; };
    const Case cases[] = {{1.5, 0, 0},  {0, 1.5, 2},       {-1.5, 0, 4},  {0, -1.5, 6}, {2.5, 2.5, 17},
                          {0.5, 0, -1}, {4.99, 0, 24},     {5.0, 0, -1},  {1.2, -0.3, 0}, {-3.5, -0.5, 20}, {-4.2, -0.5, 28},
                          {0, 0, -1},   {NAN, 1, -1}};
    for (const Case& c : cases) EXPECT_EQ(sectorOf(c.x, c.y), c.sector) << c.x << ", " << c.y;
}

TEST(TearFilmAnalysis, SimulatedFilmsGiveBackOnsetsSectorsAndBlink) {
    struct Case { const char* description; int fps; double seconds; };
    const Case cases[] = {
        {"cornea olho deriva 0.05 sacadas 0.03 2 lagrima ruptura 1.0 -1.5 3.6 ruptura -2.0 0.5 5.5 piscar 7", 30, 8},
        {"cornea olho deriva 0.08 sacadas 0.05 2 semente 4 lagrima ruptura 2.9 2.0 4.2 0.6 ruptura -1.2 -2.6 3.3 "
         "piscar 6.2", 25, 8},
        {"cornea olho deriva 0.06 sacadas 0.04 1 semente 9 lagrima rupturas 3 piscar 7.5", 25, 8},
        {"cornea olho deriva 0.05 sacadas 0.03 2 distancia 0 0.2 0.3 lagrima", 30, 5},
    };
    QTemporaryDir dir;
    // The films are written side by side: simcapture renders each frame afresh.
    std::vector<std::unique_ptr<QProcess>> writers;
    for (size_t i = 0; i < std::size(cases); ++i) {
        writers.push_back(std::make_unique<QProcess>());
        writers.back()->start(binary("simcapture"), {QStringLiteral("--video"), QString::number(cases[i].fps),
                                                     QString::number(cases[i].seconds), QString::fromUtf8(cases[i].description),
                                                     dir.filePath(QStringLiteral("%1.lag").arg(i))});
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.description);
        ASSERT_TRUE(writers[i]->waitForFinished(600000));
        ASSERT_EQ(writers[i]->exitCode(), 0) << writers[i]->readAllStandardError().toStdString();
        norvix::sim::Target target;
        QString error;
        ASSERT_TRUE(norvix::sim::parseTarget(QString::fromUtf8(c.description), &target, &error));
        TearFilmResult r;
        ASSERT_TRUE(analyseRecording(dir.filePath(QStringLiteral("%1.lag").arg(i)), &r, &error)) << error.toStdString();
        EXPECT_EQ(r.fps, c.fps);
        const double blink = target.tearFilm.blinkS;
        if (blink > 0 && blink < c.seconds) {
            EXPECT_NEAR(r.blinkS, blink, 0.1);
            EXPECT_NEAR(r.recordedS, blink, 0.1);
        } else {
            EXPECT_TRUE(std::isnan(r.blinkS));
            EXPECT_NEAR(r.recordedS, c.seconds, 0.1);
        }
        // Spots breaking in the last few tenths of the test have no time to show.
        const std::vector<double> truth = truthOf(target, r.recordedS - 0.3);
        double first = NAN, sum = 0;
        int broken = 0;
        for (double t : truth)
            if (!std::isnan(t)) {
                first = std::isnan(first) ? t : std::min(first, t);
                sum += t;
                ++broken;
            }
        if (!broken) {
            EXPECT_FALSE(r.broke()) << r.firstS;
            EXPECT_EQ(r.brokenPercentAtEnd(), 0);
            continue;
        }
        EXPECT_NEAR(r.firstS, first, 0.3);
        EXPECT_NEAR(r.averageS, sum / broken, 0.5);
        EXPECT_GT(r.brokenPercentAtEnd(), 0);
        for (int k = 0; k < kBands * kGroups; ++k) {
            if (r.breakS[size_t(k)] >= 0) {
                EXPECT_TRUE(nearAny(k, truth)) << "rompeu o setor " << k;
            }
            if (!std::isnan(truth[size_t(k)])) {
                EXPECT_TRUE(nearAny(k, r.breakS)) << "não rompeu perto do setor " << k;
            }
        }
    }
    // The command prints the stored form of each, or its line; a missing recording is said.
    QProcess command;
    command.start(binary("analisa-lagrima"), {QStringLiteral("--json"), dir.filePath(QStringLiteral("0.lag")), dir.filePath(QStringLiteral("x.lag"))});
    ASSERT_TRUE(command.waitForFinished(60000));
    EXPECT_EQ(command.exitCode(), 1);
    norvix::lagrima::TearFilmResult stored;
    QString why;
    const QByteArray json = command.readAllStandardOutput().trimmed();
    EXPECT_TRUE(norvix::lagrima::fromJson(json, &stored, &why) && std::fabs(stored.firstS - 3) < 1) << json.toStdString();
    command.start(binary("analisa-lagrima"), {dir.filePath(QStringLiteral("3.lag"))});
    ASSERT_TRUE(command.waitForFinished(60000));
    EXPECT_EQ(command.exitCode(), 0);
    EXPECT_TRUE(command.readAllStandardOutput().contains(": sem ruptura; 5,0 s de registro, sem piscada ao fim; Inconclusivo: registro de 5,0 s sem ruptura (mínimo 10 s)"));
}

TEST(TearFilmAnalysis, RecordingsThatCannotBeAnalysedSayWhy) {
    QTemporaryDir dir;
    norvix::sim::Target eye;
    QString error;
    ASSERT_TRUE(norvix::sim::parseTarget(QStringLiteral("cornea olho"), &eye, &error));
    norvix::sim::Renderer renderer;
    QImage rings = renderer.render(eye).convertToFormat(QImage::Format_Grayscale8);
    QImage dark = rings;
    for (int y = 0; y < dark.height(); ++y)
        for (int x = 0; x < dark.width(); ++x) dark.scanLine(y)[x] = uchar(dark.scanLine(y)[x] / 5);
    QImage blank(640, 480, QImage::Format_Grayscale8);
    blank.fill(125);
    struct Case { const char* name; QImage frame; double seconds; const char* message; };
    const Case cases[] = {{"sem-aneis", blank, 4, "Nenhum anel"},
                          {"escura", dark, 4, "escura demais"},
                          {"curta", rings, 2, "curta demais"}};
    for (const Case& c : cases) {
        const QString path = dir.filePath(QLatin1String(c.name));
        RecordingWriter writer;
        ASSERT_TRUE(writer.open(path, 640, 480, 25, &error));
        for (int n = 0; n < int(c.seconds * 25); ++n) ASSERT_TRUE(writer.append(c.frame, n * 40, &error));
        ASSERT_TRUE(writer.finish(&error));
        TearFilmResult r;
        error.clear();
        EXPECT_FALSE(analyseRecording(path, &r, &error)) << c.name;
        EXPECT_TRUE(error.contains(QLatin1String(c.message))) << c.name << ": " << error.toStdString();
    }
    // Frames that are no picture at all; a reading cancelled by its caller fails without a word.
    TearFilmAnalyser none(30);
    none.addFrame(QImage(), 0);
    none.addFrame(QImage(8, 8, QImage::Format_Grayscale8), 40);
    TearFilmResult r;
    EXPECT_FALSE(none.finish(&r, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("não tem quadros"))) << error.toStdString();
    EXPECT_FALSE(analyseRecording(dir.filePath(QStringLiteral("curta")), &r, &error, [](int done, int) { return done < 10; }));
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    QProcess command;
    command.start(binary("analisa-lagrima"), {QStringLiteral("--formato")});
    ASSERT_TRUE(command.waitForFinished(60000));
    EXPECT_EQ(command.exitCode(), 2);
}
