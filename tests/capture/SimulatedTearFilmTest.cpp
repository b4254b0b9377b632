// The simulated tear film: its words, its timing (lids opening, the final blink), where and
// when a break-up shows in the rings, and simcapture --video's recording of it.
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

#include "capture/sim/InstrumentModel.h"
#include "capture/sim/SimulatedEye.h"
#include "tearfilm/TearRecording.h"

namespace sim = norvix::sim;

namespace {

sim::Target parsed(const char* text) {
    sim::Target t;
    QString error;
    EXPECT_TRUE(sim::parseTarget(QString::fromUtf8(text), &t, &error)) << text << ": " << error.toStdString();
    return t;
}

// The frame (at 30 fps) showing `filmS` seconds of film of the first test.
uint32_t frameAt(double filmS) { return uint32_t(std::lround((filmS + sim::kTearOpenS) * 30)); }

constexpr double kPitch = sim::InstrumentModel::mmPerPixel();

// Mean |difference| of the green level of two frames over the pixels whose corneal point (the
// apex at the fixation `fx`, `fy`) lies between rMin and rMax mm of (x, y).
double meanDiff(const QImage& a, const QImage& b, double x, double y, double rMin, double rMax, double fx, double fy) {
    double sum = 0, n = 0;
    for (int py = 0; py < a.height(); ++py)
        for (int px = 0; px < a.width(); ++px) {
            const double xe = (px + 0.5 - a.width() / 2.0) * kPitch - fx, ye = -(py + 0.5 - a.height() / 2.0) * kPitch - fy;
            const double r = std::hypot(xe - x, ye - y);
            if (r >= rMin && r <= rMax) sum += std::abs(qGreen(a.pixel(px, py)) - qGreen(b.pixel(px, py))), ++n;
        }
    return n ? sum / n : 0;
}

}  // namespace

TEST(SimulatedTearFilm, DescriptionWords) {
    struct Case { const char* text; int spots; double blinkS; const char* says; } cases[] = {
        {"cornea olho lagrima ruptura 1.0 -1.5 6.0 ruptura -2.0 0.5 8.5 piscar 11.5", 2, 11.5, ""},
        {"cornea piscar 9 lagrima ruptura 0 0 4 1.2 0.5 2", 1, 9, ""},  // any order
        {"ceratocone lágrima", 0, 0, ""},
        {"cornea tearfilm breakups 3 seed 4 blink 14,5", 3, 14.5, ""},
        {"cornea lagrima rupturas 2 ruptura 4 3 0 semente 8", 3, 0, ""},
        {"cornea lagrima ruptura 4 4 6", 0, 0, "5 mm"},
        {"cornea lagrima ruptura 1 1 -2", 0, 0, "Início da ruptura"},
        {"cornea lagrima ruptura 1 1", 0, 0, "ruptura pede"},
        {"cornea lagrima ruptura 1 1 3 5", 0, 0, "Raio da ruptura"},
        {"cornea lagrima ruptura 1 1 3 0.8 1.5", 0, 0, "Profundidade"},
        {"cornea lagrima piscar 0", 0, 0, "piscada final"},
        {"cornea lagrima piscar 5 piscar 6", 0, 0, "Só uma"},
        {"cornea lagrima rupturas 2.5", 0, 0, "sorteadas"},
        {"cornea lagrima rupturas 30", 0, 0, "sorteadas"},
        {"cornea ruptura 1 1 3", 0, 0, "falta \"lagrima\""},
        {"cornea lagrima 3", 0, 0, "não leva números"},
        {"esfera 7.8 lagrima", 0, 0, "só valem para um olho"},
    };
    for (const Case& c : cases) {
        sim::Target t = parsed("esfera 8");
        const sim::Target before = t;
        QString error;
        if (!*c.says) {
            t = parsed(c.text);
            EXPECT_TRUE(t.tearFilm.on && t.moves() && !t.motion.active()) << c.text;
            EXPECT_TRUE(int(t.tearFilm.spots.size()) == c.spots && t.tearFilm.blinkS == c.blinkS) << c.text;
        } else {
            EXPECT_FALSE(sim::parseTarget(QString::fromUtf8(c.text), &t, &error)) << c.text;
            EXPECT_TRUE(error.contains(QString::fromUtf8(c.says)) && t == before) << c.text << ": " << error.toStdString();
        }
    }
    const sim::Target::TearFilm::Spot s = parsed("cornea lagrima ruptura 0 0 4 1.2 0.5 2").tearFilm.spots[0];
    EXPECT_TRUE(s.onsetS == 4 && s.radiusMm == 1.2 && s.depth == 0.5 && s.growthMmPerS == 2);
    // Drawn spots: from the seed, within 4.5 mm, breaking 3 to 15 s after the blink.
    const sim::Target a = parsed("cornea lagrima rupturas 12 semente 5");
    EXPECT_TRUE(a == parsed("cornea semente 5 lagrima rupturas 12") && a != parsed("cornea lagrima rupturas 12 semente 6"));
    for (const auto& spot : a.tearFilm.spots)
        EXPECT_TRUE(std::hypot(spot.xMm, spot.yMm) <= 4.52 && spot.onsetS >= 3 && spot.onsetS <= 15);
}

TEST(SimulatedTearFilm, LidsOpenAtTheStartAndCloseAtTheFinalBlinkThenTheTestRepeats) {
    const sim::Target t = parsed("cornea olho lagrima ruptura 1 -1 2 piscar 5");
    EXPECT_TRUE(sim::motionAt(t, 0).closed() && sim::motionAt(t, 3).lidClosure > 0);  // the first blink ending
    int firstClosed = -1;
    for (uint32_t n = 0; n < 400 && firstClosed < 0; ++n) {
        const double film = sim::tearFilmSeconds(t, n);
        const sim::MotionState m = sim::motionAt(t, n);
        EXPECT_NEAR(film, n / 30.0 - sim::kTearOpenS, 1e-9) << n;
        const bool open = film >= 0 && film <= 5, closing = film > 5 && film < 5 + sim::kTearCloseS;
        EXPECT_TRUE(open ? m.lidClosure == 0 : !closing || (m.lidClosure > 0 && !m.closed())) << film;
        if (film >= 5 && m.closed()) firstClosed = int(n);
    }
    EXPECT_NEAR(sim::tearFilmSeconds(t, uint32_t(firstClosed)), 5 + sim::kTearCloseS, 1.0 / 30 + 1e-9);
    // After a moment closed the next test begins: the same film again.
    const double cycle = sim::kTearOpenS + 5 + sim::kTearCloseS + sim::kTearClosedS;
    const uint32_t later = uint32_t(std::lround((cycle + sim::kTearOpenS + 3) * 30));
    EXPECT_NEAR(sim::tearFilmSeconds(t, later), later / 30.0 - cycle - sim::kTearOpenS, 1e-9);
    EXPECT_EQ(sim::motionAt(t, later).lidClosure, 0);
    // Without the final blink the eye stays open and the patch reaches its full size.
    const sim::Target open = parsed("cornea olho lagrima ruptura 1 -1 2");
    const sim::TearFilmState::Patch late = sim::tearFilmAt(open, 600).patches[0];
    EXPECT_TRUE(sim::motionAt(open, 30 * 600).lidClosure == 0 && std::abs(late.radiusMm - 0.8) < 1e-6 && late.depth > 0.999);
    EXPECT_TRUE(!sim::tearFilmAt(open, 1.99).patches[0].broken() && sim::tearFilmAt(open, 1.0).buildUp == 0);
}

TEST(SimulatedTearFilm, ABreakShowsInTheRingsWithinItsRadiusAfterItsOnsetOnly) {
    // The same eye with and without the spot; the spot at 1.5, -1.0 mm breaks 2 s after the blink.
    const sim::Target with = parsed("cornea olho lagrima ruptura 1.5 -1.0 2.0 piscar 8");
    const sim::Target without = parsed("cornea olho lagrima piscar 8");
    const double fx = with.fixationXMm, fy = with.fixationYMm;
    sim::Renderer r;
    // Changed plainly (by more than minDiff) within insideMm of the spot; 0: not at all.
    struct Case { double filmS, insideMm, minDiff; } cases[] = {{1.0, 0, 0}, {1.99, 0, 0}, {2.2, 0.2, 15}, {3.0, 0.5, 20}, {7.0, 0.6, 20}};
    double broken = 0;
    for (const Case& c : cases) {
        const uint32_t n = frameAt(c.filmS);
        const QImage a = r.render(with, n).copy(), b = r.render(without, n).copy();
        // Beyond the spot's full radius (and a few pixels of lens blur) nothing changes.
        EXPECT_EQ(meanDiff(a, b, 1.5, -1.0, 0.8 + 4 * kPitch, 100, fx, fy), 0) << c.filmS;
        broken = meanDiff(a, b, 1.5, -1.0, 0, std::max(c.insideMm, 0.1), fx, fy);
        EXPECT_TRUE(c.insideMm == 0 ? a == b : broken > c.minDiff) << c.filmS << ": " << broken;
    }
    // Right after the blink the whole film is uneven, a little: every ring moves, less than
    // where the film broke; once it settled, nothing changes until a break.
    const QImage early = r.render(without, frameAt(0.05)).copy(), settled = r.render(without, frameAt(1.5)).copy();
    const double uneven = meanDiff(early, settled, 0, 0, 1.0, 3.5, fx, fy);
    EXPECT_TRUE(uneven > 1 && uneven < 0.6 * broken) << uneven << " " << broken;
    EXPECT_EQ(r.render(without, frameAt(1.5)), r.render(without, frameAt(4.5)));
    // The same frame, alone or after another, moving and with sensor noise, is the same picture.
    const sim::Target moving = parsed("cornea olho lagrima rupturas 4 semente 3 deriva 0.1 sacadas 0.05 2 piscar 12");
    QImage fa, fb;
    r.liveFrame(moving, 331, &fa);
    r.liveFrame(moving, 330, &fa);
    sim::Renderer().liveFrame(moving, 330, &fb);
    EXPECT_EQ(fa, fb);
}

TEST(SimulatedTearFilm, SimcaptureVideoWritesTheRecordingUpToTheFinalBlink) {
    QTemporaryDir dir;
    const char* description = "cornea olho lagrima ruptura 1 -1 1.5 piscar 2.5";
    const sim::Target t = parsed(description);
    // frames -1: up to the first closed frame of the final blink; exit 1: not written, 2: wrong use.
    struct Case { QStringList args; int exit, frames; } cases[] = {
        {{"--video", "30", "10", description, dir.filePath("30.lag")}, 0, -1},
        {{"--video", "25", "1", description, dir.filePath("25.lag")}, 0, int(std::floor((1 + sim::kTearOpenS) * 25)) + 1},
        {{"--video", "60", "2,55", description, dir.filePath("60.lag")}, 0, 166},
        {{"--video", "10", "5", "cornea lagrima", dir.filePath("a.lag")}, 2, 0},
        {{"--video", "30", "0", "cornea lagrima", dir.filePath("b.lag")}, 2, 0},
        {{"--video", "30", "5", "cornea lagrima piscar", dir.filePath("c.lag")}, 2, 0},
        {{"--video", "30", "5", "--quadro", "3", "cornea lagrima", dir.filePath("d.lag")}, 2, 0},
        {{"--video", "30", "0.2", "cornea lagrima", dir.filePath("sem/pasta.lag")}, 1, 0},
    };
    for (const Case& c : cases) {
        QProcess p;
        p.start(qEnvironmentVariable("NORVIX_BIN_DIR") + QStringLiteral("/simcapture"), c.args);
        ASSERT_TRUE(p.waitForFinished(120000));
        // Silent on success; a reason on standard error otherwise.
        EXPECT_TRUE(p.exitCode() == c.exit && p.readAllStandardError().isEmpty() == (c.exit == 0) &&
                    p.readAllStandardOutput().isEmpty()) << c.args.join(' ').toStdString();
        norvix::lagrima::RecordingReader reader;
        QString error;
        EXPECT_EQ(reader.open(c.args.last(), &error), c.exit == 0) << error.toStdString();
        if (c.exit) continue;
        const double fps = c.args[1].toDouble();
        int frames = c.frames;
        for (uint32_t n = 0; frames < 0; ++n)
            if (sim::tearFilmSeconds(t, n, fps) >= 2.5 && sim::motionAt(t, n, fps).closed()) frames = int(n) + 1;
        ASSERT_TRUE(reader.info().fps == fps && reader.info().width == 640 && reader.info().frames == frames)
            << fps << ": " << reader.info().frames << " " << frames;
        QImage grey;
        qint64 ms = 0;
        ASSERT_TRUE(reader.frame(frames - 1, &grey, &ms, &error));
        EXPECT_EQ(ms, std::llround((frames - 1) * 1000.0 / fps));
    }
}
