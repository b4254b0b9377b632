// The live assistance of the capture: what a frame tells of the eye, the working distance learnt
// from a focus sweep, the automatic capture's timing, and the capture window arming, disarming
// and freezing by itself on frames of the simulated instrument.
#include <QElapsedTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include "CaptureFakes.h"
#include "capture/AssistOverlay.h"
#include "capture/LiveAssist.h"
#include "capture/UBProcImg.h"
#include "capture/UfrmCapturar.h"
#include "capture/sim/SimulatedEye.h"
#include "platform/ui/MessageSeam.h"

using namespace captest;
using norvix::sim::FrameAssessor;

namespace {

norvix::sim::Target target(const char* description) {
    norvix::sim::Target t;
    QString error;
    EXPECT_TRUE(norvix::sim::parseTarget(QString::fromLatin1(description), &t, &error)) << description;
    return t;
}

QImage frameOf(norvix::sim::Renderer& r, const norvix::sim::Target& t, uint32_t n = 1) {
    QImage image;
    r.liveFrame(t, n, &image);
    return image;
}

TEST(FrameAssessment, WhatAFrameTells) {
    struct Case {
        const char* target;
        bool rings, good;
        double offsetX, offsetY;  // mm, expected within 0.03
    };
    const Case cases[] = {
        {"esfera 7.80", true, true, 0, 0},
        {"esfera 6.80", true, true, 0, 0},
        {"esfera 9.10", true, true, 0, 0},
        {"torica 7.50 8.20 30", true, true, 0, 0},
        {"cornea olho", true, false, 0.20, -0.15},       // the typical capture is off axis
        {"cornea fixacao 0.10 0.05", true, true, 0.10, 0.05},
        {"cornea palpebras 2.0 2.0", true, false, 0, 0},  // lids over most rings
        {"esfera 7.80 distancia 1.0", true, false, 0, 0},  // 1 mm off focus: blurred
    };
    norvix::sim::Renderer renderer(4);
    const FrameAssessor assessor(4);
    for (const Case& c : cases) {
        const norvix::sim::FrameAssessment a = assessor.assess(frameOf(renderer, target(c.target)));
        EXPECT_EQ(a.rings, c.rings) << c.target;
        EXPECT_EQ(FrameAssessor::good(a), c.good) << c.target;
        EXPECT_NEAR(a.offsetXMm, c.offsetX, 0.03) << c.target;
        EXPECT_NEAR(a.offsetYMm, c.offsetY, 0.03) << c.target;
        EXPECT_EQ(a.quality, c.good ? 100 : a.quality) << c.target;
    }
    // Nothing to see: a black frame, and a frame of an eye with its lids closed.
    QImage black(640, 480, QImage::Format_RGB32);
    black.fill(Qt::black);
    EXPECT_FALSE(assessor.assess(black).rings);
    const norvix::sim::Target blinking = target("cornea olho piscadas 30 400");
    for (uint32_t n = 0; n < 60; ++n)
        if (norvix::sim::motionAt(blinking, n).closed()) {
            EXPECT_FALSE(assessor.assess(frameOf(renderer, blinking, n)).rings) << n;
            break;
        }
}

// A sweep through focus, as the operator brings the instrument in and out: the distance is
// unknown until both sides have been seen, then told within a few hundredths of a millimetre.
TEST(FocusTracker, LearnsTheFocusFromASweep) {
    norvix::sim::Renderer renderer(4);
    const FrameAssessor assessor(4);
    for (const char* base : {"esfera 6.50", "esfera 7.00", "esfera 7.80", "esfera 8.60", "torica 7.60 8.20 0"}) {
        norvix::sim::Target t = target(base);
        auto at = [&](double dz) {
            t.motion.distanceMm = dz;
            t.motion.seed = 1;
            return assessor.assess(frameOf(renderer, t, uint32_t(std::lround(dz * 1000 + 2000))));
        };
        norvix::captura::FocusTracker tracker;
        for (double dz = -1.0; dz <= 0.0; dz += 0.05) {
            const auto a = at(dz);
            tracker.add(a.ringScaleMm, a.ringContrast);
        }
        EXPECT_FALSE(tracker.known()) << base << ": one side only";
        for (double dz = 0.0; dz <= 1.0; dz += 0.05) {
            const auto a = at(dz);
            tracker.add(a.ringScaleMm, a.ringContrast);
        }
        ASSERT_TRUE(tracker.known()) << base;
        // Within the focus tolerance, steep or flat.
        for (double dz : {-0.3, -0.05, 0.0, 0.04, 0.2}) {
            EXPECT_NEAR(tracker.distanceMm(at(dz).ringScaleMm), dz, norvix::captura::kFocusToleranceMm)
                << base << " at " << dz;
        }
    }
}

TEST(AutoCapture, FreezesOnceGoodForTheDelayAndGivesUpAfterTheLimit) {
    using Step = norvix::captura::AutoCapture::Step;
    struct Feed {
        bool good;
        qint64 at;
        Step expected;
    };
    struct Case {
        const char* what;
        std::vector<Feed> feeds;
    };
    const qint64 limit = norvix::captura::AutoCapture::kLimitMs;
    const std::vector<Case> cases = {
        {"good for the delay", {{true, 100, Step::Wait}, {true, 399, Step::Wait}, {true, 400, Step::Freeze}}},
        {"a bad frame starts the delay again",
         {{true, 100, Step::Wait}, {false, 300, Step::Wait}, {true, 350, Step::Wait}, {true, 500, Step::Wait},
          {true, 650, Step::Freeze}}},
        {"never good", {{false, 100, Step::Wait}, {false, limit - 1, Step::Wait}, {false, limit, Step::GiveUp}}},
        {"disarmed after freezing", {{true, 0, Step::Wait}, {true, 300, Step::Freeze}, {true, 900, Step::Wait}}},
    };
    for (const Case& c : cases) {
        norvix::captura::AutoCapture autoCapture(300);
        autoCapture.arm(0);
        for (const Feed& f : c.feeds) EXPECT_EQ(autoCapture.feed(f.good, f.at), f.expected) << c.what << " at " << f.at;
    }
}

// What the operator is told: the side to move the instrument follows the distance's sign (the
// eye too near: "Afaste"), and the blur alone never claims a side.
TEST(AssistOverlay, TellsWhichWayToMove) {
    struct Case {
        const char* what;
        bool rings, blink, known;
        double distance, blur, offsetX;
        const char* centring;
        const char* focus;
    };
    const Case cases[] = {
        {"too near", true, false, true, 0.30, 0.0, 0.0, "Centrado", "Afaste"},
        {"too far", true, false, true, -0.30, 0.0, 0.0, "Centrado", "Aproxime"},
        {"in the band", true, false, true, 0.02, 0.0, 0.0, "Centrado", "Foco"},
        {"sharp, distance unknown", true, false, false, 0, 0.002, 0.0, "Centrado", "Aproxime e afaste para achar o foco"},
        {"blurred, distance unknown", true, false, false, 0, 0.016, 0.0, "Centrado", "Desfocado: aproxime ou afaste"},
        {"off axis", true, false, true, 0.0, 0.0, 0.24, "Descentrado 0,24 mm", "Foco"},
        {"blink", false, true, false, 0, 0, 0, "Piscada", ""},
    };
    QWidget parent;
    norvix::captura::AssistOverlay overlay(&parent);
    for (const Case& c : cases) {
        norvix::captura::LiveStatus st;
        st.frame.rings = c.rings;
        st.frame.blurMm = c.blur;
        st.frame.offsetXMm = c.offsetX;
        st.blink = c.blink;
        st.distanceKnown = c.known;
        st.distanceMm = c.distance;
        st.inFocus = c.known ? std::fabs(c.distance) <= norvix::captura::kFocusToleranceMm : c.blur <= FrameAssessor::kSharpMm;
        overlay.setStatus(st);
        EXPECT_EQ(overlay.centringText(), QString::fromUtf8(c.centring)) << c.what;
        EXPECT_EQ(overlay.focusText(), QString::fromUtf8(c.focus)) << c.what;
    }
}

// One judgement for the live picture and the frame taken: an eye held still exactly in focus
// reads in focus without a sweep (an eye's own picture, "desfoco 0.015" in the standard eye, is
// not a polished sphere's), one a millimetre off or blurred past its own does not, and the frame
// taken says what it is without telling anyone to move.
TEST(LiveJudge, AStillEyeIsJudgedByItsFocusLiveAndTaken) {
    const std::pair<const char*, bool> cases[] = {  // target, in focus
        {"cornea olho fixacao 0 0", true}, {"cornea olho", true}, {"ceratocone olho", true},
        {"cornea desfoco 0.015", true}, {"esfera 7.80", true}, {"cornea olho distancia 1.0", false},
        {"cornea olho distancia 0.7", false}, {"esfera 7.80 distancia 1.0", false}, {"cornea desfoco 0.02", false}};
    norvix::sim::Renderer renderer(4);
    const FrameAssessor assessor(4);
    QWidget parent;
    norvix::captura::AssistOverlay overlay(&parent);
    for (const auto& [text, inFocus] : cases) {
        norvix::captura::LiveJudge judge;
        norvix::sim::FrameAssessment a;
        for (uint32_t n = 1; n <= 3; ++n) {
            a = assessor.assess(frameOf(renderer, target(text), n));
            overlay.setStatus(judge.judge(a, 40 * n));
            EXPECT_EQ(overlay.status().inFocus, inFocus) << text << " frame " << n;
        }
        EXPECT_EQ(overlay.focusText(), inFocus ? "Aproxime e afaste para achar o foco" : "Desfocado: aproxime ou afaste");
        overlay.setStatus(judge.judgeStill(a));
        EXPECT_EQ(overlay.focusText(), inFocus ? "Foco" : "Desfocado") << text;
        // In focus, the blur takes nothing off the quality: only the centring and the lids do.
        if (inFocus) { EXPECT_EQ(a.quality, FrameAssessor::quality(a.offsetMm(), 0, a.coverage)) << text; }
    }
}

// The window with the automatic capture on: "Capturar" arms it, Esc disarms it (and only the
// next Esc cancels), and armed again it freezes by itself once a sweep has found the focus and
// the eye has held still in it; the frame it took goes only when the operator says so.
TEST(CaptureWindowAssistance, ArmsDisarmsAndFreezesByItself) {
    FakeCatalogue catalogue;
    auto serial = std::make_unique<FakeSerial>();
    norvix::RecordingMessageSeam messages;
    CaptureSettings settings{100, 40, 0, QStringLiteral("COM1"), false, true, 100};
    auto w = std::make_unique<TfrmCapturar>(nullptr, settings);
    w->setMode(1);
    w->show();
    QApplication::processEvents();
    ASSERT_NE(w->assistOverlay(), nullptr);
    auto* capturar = w->findChild<QToolButton*>(QStringLiteral("spbCapturar"));
    auto* descongelar = w->findChild<QToolButton*>(QStringLiteral("spbDescongelar"));

    QTest::keyClick(w.get(), Qt::Key_Space);
    EXPECT_TRUE(w->autoCaptureArmed());
    EXPECT_EQ(w->state(), TfrmCapturar::State::Live);
    EXPECT_TRUE(capturar->isEnabled() && descongelar->isEnabled());
    QTest::keyClick(w.get(), Qt::Key_Escape);
    EXPECT_FALSE(w->autoCaptureArmed());
    EXPECT_TRUE(w->isVisible()) << "the first Esc only disarms";
    EXPECT_FALSE(descongelar->isEnabled());

    // A sweep from 1 mm far to 1 mm near, then back to focus and held there.
    norvix::sim::Renderer renderer(4);
    norvix::sim::Target t = target("esfera 7.80");
    std::vector<double> path;
    for (double dz = -1.0; dz <= 1.0; dz += 0.05) path.push_back(dz);
    for (double dz = 1.0; dz >= 0.0; dz -= 0.05) path.push_back(dz);
    path.push_back(0.0);
    std::vector<QImage> frames;
    for (size_t i = 0; i < path.size(); ++i) {
        t.motion.distanceMm = path[i];
        frames.push_back(frameOf(renderer, t, uint32_t(i)));
    }
    QTest::keyClick(w.get(), Qt::Key_Space);
    ASSERT_TRUE(w->autoCaptureArmed());
    QElapsedTimer clock;
    clock.start();
    size_t next = 0;
    // Each frame pushed once the last has been assessed, as a live picture at its own pace.
    while (w->state() == TfrmCapturar::State::Live && clock.elapsed() < 8000) {
        const int seen = w->assistant()->framesAssessed();
        catalogue.last->push(frames[std::min(next, frames.size() - 1)]);
        ++next;
        waitFor([&] { return w->assistant()->framesAssessed() > seen; }, 500);
        QTest::qWait(20);
    }
    ASSERT_EQ(w->state(), TfrmCapturar::State::Requested) << "the eye was never right";
    catalogue.last->push(frames.back());  // the still frame asked for
    ASSERT_TRUE(waitFor([&] { return w->state() == TfrmCapturar::State::Frozen; }));
    EXPECT_GE(next, path.size() - 1) << "not before the eye came back to focus";
    EXPECT_FALSE(w->autoCaptureArmed());
    EXPECT_TRUE(messages.texts().isEmpty()) << messages.texts().join(QStringLiteral(" | ")).toStdString();
    // The frame taken because it was right is shown as right, with nothing to move for.
    const norvix::captura::AssistOverlay* overlay = w->assistOverlay();
    EXPECT_TRUE(overlay->status().still && overlay->status().good);
    EXPECT_EQ(overlay->focusText(), "Foco");

    // Esc now (meant to disarm, a moment late) or the window's close button asks before the
    // frame goes; "Não" keeps it.
    const QString question = QStringLiteral("A imagem foi capturada automaticamente. Deseja descartá-la e cancelar a captura?");
    messages.answers = {norvix::MsgAnswer::No, norvix::MsgAnswer::No};
    QTest::keyClick(w.get(), Qt::Key_Escape);
    EXPECT_EQ(messages.texts(), QStringList(question));
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->state(), TfrmCapturar::State::Frozen);
    w->close();
    EXPECT_EQ(messages.texts(), QStringList({question, question}));
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->state(), TfrmCapturar::State::Frozen);
    // The foot switch pressed now was meant to take this frame: it keeps it, unasked, as the
    // operator's own; the next press lets it go as after any freeze, and Esc then just cancels.
    const auto pedal = [&](TfrmCapturar::State after) {
        const int changes = w->ctsCount();
        FakeComPort::last->changeCts(true);
        FakeComPort::last->changeCts(false);
        ASSERT_TRUE(waitFor([&] { return w->ctsCount() == changes + 2; }));
        EXPECT_EQ(w->state(), after);
    };
    pedal(TfrmCapturar::State::Frozen);
    pedal(TfrmCapturar::State::Live);
    QTest::keyClick(w.get(), Qt::Key_Escape);
    EXPECT_EQ(messages.texts().size(), 2);
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->accepted());
    w.reset();
    releaseFrameHolder();
}

}  // namespace
