// The tear-film recording window over the simulated instrument: frames handed over one at a
// time (each judged before the next, so the blinks fall where the simulated eye puts them),
// and once at the camera's own pace.
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "CaptureFakes.h"
#include "capture/SimulatedCamera.h"
#include "capture/UfrmGravarLagrima.h"
#include "platform/ui/MessageSeam.h"
#include "tearfilm/TearRecording.h"

using namespace captest;
using End = TearClip::End;

namespace {

// The simulated instrument's frames, one per step, stamped with the simulated eye's time.
class SteppedCamera : public FakeVideoDevice {
public:
    explicit SteppedCamera(const QString& target) {
        QString error;
        EXPECT_TRUE(norvix::sim::parseTarget(target, &target_, &error)) << error.toStdString();
        camera_ = std::make_unique<SimulatedCamera>(target_);
    }
    double framesPerSecond() const override { return SimulatedCamera::kFramesPerSecond; }
    void step() {
        QImage frame;
        camera_->renderFrame(n, &frame);
        deliver(frame, qint64(n) * 1000000 / SimulatedCamera::kFramesPerSecond);
        ++n;
    }
    norvix::sim::MotionState truth(qint64 us) const {
        return camera_->truth(quint32((us * SimulatedCamera::kFramesPerSecond + 500000) / 1000000));
    }
    double lid(qint64 us) const { return truth(us).lidClosure; }
    quint32 n = 0;

private:
    norvix::sim::Target target_;
    std::unique_ptr<SimulatedCamera> camera_;
};

class SteppedCatalogue : public FakeCatalogue {
public:
    QString target;
    SteppedCamera* camera = nullptr;
    std::unique_ptr<VideoDevice> open(int, QString*) override {
        auto d = std::make_unique<SteppedCamera>(target);
        camera = d.get();
        return d;
    }
};

enum class Act { None, Start, StartThenStop, StartThenCancel };

struct Case {
    const char* what;
    const char* target;
    int maxSeconds;
    Act act;
    int frames;  // handed over before the last key
    End end;
    bool kept;
    double filmS = 0;  // a simulated tear film: when its final blink comes
};

TEST(TearRecordingWindow, StartsStopsAndKeepsAsTheOperatorAndTheEyeDo) {
    const Case cases[] = {
        {"a blink starts it, the next one stops it", "cornea olho piscadas 20 semente 3", 30, Act::None, 420, End::Blink, true},
        {"a tear film from the lids' opening to its final blink", "cornea olho lagrima ruptura 1.0 -1.5 3.0 piscar 5",
         30, Act::None, 200, End::Blink, true, 5.0},
        {"the time limit stops it", "cornea olho", 4, Act::Start, 200, End::Time, true},
        {"Parar stops it", "cornea olho", 30, Act::StartThenStop, 100, End::Operator, true},
        {"Esc while recording writes nothing", "cornea olho", 30, Act::StartThenCancel, 60, End::None, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("lagrima.nvx"));
        SteppedCatalogue catalogue;
        catalogue.target = QString::fromLatin1(c.target);
        norvix::RecordingMessageSeam messages;
        CaptureSettings settings{128, 64, 0, QStringLiteral("COM1"), false};
        TfrmGravarLagrima w(nullptr, settings, path, c.maxSeconds, 1);
        ASSERT_TRUE(w.startCamera());
        w.show();
        SteppedCamera& camera = *catalogue.camera;
        if (c.act != Act::None) QTest::keyClick(&w, Qt::Key_Return);
        for (int i = 0; i < c.frames && w.state() != TfrmGravarLagrima::State::Done; ++i) {
            camera.step();
            ASSERT_TRUE(waitFor([&] { return w.statusesSeen() == int(camera.n); }, 5000)) << camera.n;
        }
        if (c.act == Act::StartThenStop) QTest::keyClick(&w, Qt::Key_Space);
        if (c.act == Act::StartThenCancel) QTest::keyClick(&w, Qt::Key_Escape);
        EXPECT_EQ(w.endedBy(), c.end);
        if (c.end == End::Blink) {
            // From the lids' opening to the first frame whose rings the closing lids hide.
            const qint64 period = 1000000 / 30;
            EXPECT_GT(camera.lid(w.firstFrameUs() - period), 0) << w.firstFrameUs();
            EXPECT_GT(camera.lid(w.lastFrameUs()), 0) << w.lastFrameUs();
            for (qint64 us = w.firstFrameUs() + 3 * period; us < w.lastFrameUs() - 3 * period; us += period)
                ASSERT_EQ(camera.lid(us), 0) << us;
            if (c.filmS > 0) {
                EXPECT_LT(camera.truth(w.firstFrameUs()).filmS, 0) << "as the lids open";
                EXPECT_GE(camera.truth(w.lastFrameUs()).filmS, c.filmS);
                EXPECT_NEAR(w.recordedMs() / 1000.0, c.filmS + 0.15, 0.15);
            }
        }
        if (c.end == End::Time) {
            EXPECT_EQ(w.framesRecorded(), c.maxSeconds * 30);
        }
        if (c.kept) {
            ASSERT_TRUE(w.findChild<QPushButton*>(QStringLiteral("btnUsar"))->isEnabled()) << w.summary().toStdString();
            // Esc on a recording that could be kept asks first; "Não" keeps the window and the recording.
            messages.answers = {norvix::MsgAnswer::No};
            QTest::keyClick(&w, Qt::Key_Escape);
            ASSERT_TRUE(w.isVisible() && messages.texts().value(0).startsWith("Descartar a gravação de "));
            messages.messages.clear();
            QTest::keyClick(&w, Qt::Key_Return);
            ASSERT_TRUE(w.kept());
            norvix::lagrima::RecordingReader reader;
            QString error;
            ASSERT_TRUE(reader.open(path, &error)) << error.toStdString();
            EXPECT_EQ(reader.info().frames, w.framesRecorded());
            EXPECT_EQ(reader.info().fps, 30);
            QImage grey;
            qint64 ms = -1;
            ASSERT_TRUE(reader.frame(reader.info().frames - 1, &grey, &ms, &error));
            // Every frame of the camera is there: the last one's time is the count at 30 a second.
            EXPECT_NEAR(ms, (reader.info().frames - 1) * 1000.0 / 30, 1);
            EXPECT_EQ(w.framesLost(), 0);
        } else {
            EXPECT_FALSE(w.isVisible());
            EXPECT_FALSE(w.kept());
        }
        EXPECT_TRUE(messages.texts().isEmpty()) << messages.texts().join(' ').toStdString();
        w.close();
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), c.kept ? 1 : 0);
    }
}

// At the camera's own pace the live picture, the judgement and the writing keep up with it.
TEST(TearRecordingWindow, KeepsUpWithTheSimulatedInstrument) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("lagrima.nvx"));
    qputenv("NORVIX_SIM_TARGET", "cornea olho");
    CaptureSettings settings{128, 64, int(videoDevices().deviceNames().size() - 1), QStringLiteral("COM1"), false};
    TfrmGravarLagrima w(nullptr, settings, path, 30, 0);
    ASSERT_TRUE(w.startCamera());
    w.show();
    ASSERT_TRUE(waitFor([&] { return w.framesSeen() > 5; }, 20000));
    QTest::keyClick(&w, Qt::Key_Space);
    ASSERT_TRUE(waitFor([&] { return w.state() == TfrmGravarLagrima::State::Recording; }));
    QTest::qWait(4000);
    QTest::keyClick(&w, Qt::Key_Space);
    ASSERT_EQ(w.state(), TfrmGravarLagrima::State::Done);
    QTest::keyClick(&w, Qt::Key_Return);
    ASSERT_TRUE(w.kept());
    qunsetenv("NORVIX_SIM_TARGET");
    norvix::lagrima::RecordingReader reader;
    QString error;
    ASSERT_TRUE(reader.open(path, &error)) << error.toStdString();
    const double seconds = w.recordedMs() / 1000.0;
    const double rate = reader.info().frames / seconds;
    std::printf("Gravação em tempo real: %d quadros em %.2f s (%.1f por segundo), %d perdidos\n",
                reader.info().frames, seconds, rate, w.framesLost());
    EXPECT_GE(rate, 25);
}

}  // namespace
