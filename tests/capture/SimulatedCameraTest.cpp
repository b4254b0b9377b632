// The simulated instrument as a capture device: its lists, its controls, and rings that
// behave like reflections of the target.
#include <QFile>
#include <QTemporaryDir>
#include <QtMath>
#include <gtest/gtest.h>

#include "CaptureFakes.h"
#include "capture/SimulatedCamera.h"
#include "capture/TVideoGrabber.h"

using namespace captest;
namespace sim = norvix::sim;

namespace {

sim::Target sphere(double r) {
    sim::Target t;
    EXPECT_TRUE(sim::parseTarget(QStringLiteral("esfera %1").arg(r), &t, nullptr));
    return t;
}

// Bright rings crossed along a ray from the centre (the central reflex excluded), with the
// radius of the outermost one.
std::pair<int, double> ringsAlong(const QImage& img, double angleDeg) {
    const QPointF c(img.width() / 2.0, img.height() / 2.0);
    int rings = 0;
    bool inRing = false;
    double outer = 0;
    for (int r = 4; r < img.width(); ++r) {
        const int x = qRound(c.x() + r * qCos(qDegreesToRadians(angleDeg)));
        const int y = qRound(c.y() - r * qSin(qDegreesToRadians(angleDeg)));
        if (x < 0 || y < 0 || x >= img.width() || y >= img.height()) break;
        const bool bright = qGreen(img.pixel(x, y)) >= 128;
        if (bright && !inRing) ++rings, outer = r;
        inRing = bright;
    }
    return {rings, outer};
}

double meanLevel(const QImage& img) {
    double sum = 0;
    for (int y = 0; y < img.height(); y += 4)
        for (int x = 0; x < img.width(); x += 4) sum += qGreen(img.pixel(x, y));
    return sum / ((img.height() / 4) * (img.width() / 4));
}

TEST(CaptureSimulatedCamera, OffersTheBoardLikeListsThroughTheVideoLayer) {
    struct OneSim : VideoDeviceCatalogue {
        QStringList deviceNames() override { return {SimulatedCamera::deviceName()}; }
        std::unique_ptr<VideoDevice> open(int, QString*) override { return std::make_unique<SimulatedCamera>(sphere(7.8)); }
    } catalogue;
    setVideoDeviceCatalogue(&catalogue);
    QWidget panel;
    {
        TVideoGrabber video(&panel);
        video.setVideoDevice(0);
        EXPECT_EQ(video.videoStandards(), QStringList({"NTSC M", "PAL M"}));
        EXPECT_EQ(video.videoSizes(), QStringList({"default", "320x240", "640x480", "720x480"}));
        const ControlRange b = video.propertyRange(PropBrilho);
        EXPECT_EQ(b.minimum, 0);
        EXPECT_EQ(b.maximum, 255);
        EXPECT_EQ(b.step, 1);
        EXPECT_EQ(video.propertyRange(PropContraste).maximum, 127);
        EXPECT_EQ(video.propertyRange(2).maximum, 2147483647);  // no such control

        video.setVideoSize(2);
        ASSERT_TRUE(video.startPreview());
        ASSERT_TRUE(waitFor([&] { return !video.currentFrame().isNull(); }, 5000));
        EXPECT_EQ(video.currentFrame().size(), QSize(640, 480));
    }
    setVideoDeviceCatalogue(nullptr);
}

TEST(CaptureSimulatedCamera, DefaultDeviceListEndsWithTheSimulatedInstrument) {
    const QStringList names = videoDevices().deviceNames();
    ASSERT_FALSE(names.isEmpty());
    EXPECT_EQ(names.last(), SimulatedCamera::deviceName());
    QString error;
    EXPECT_NE(videoDevices().open(int(names.size() - 1), &error), nullptr);
    EXPECT_EQ(videoDevices().open(int(names.size()), &error), nullptr);
    EXPECT_FALSE(error.isEmpty());
}

TEST(CaptureSimulatedCamera, SphereShowsThirtyTwoClosedRingsGrowingWithItsRadius) {
    double previousOuter = 0;
    for (double radius : {7.0, 7.8, 8.6}) {
        SimulatedCamera camera(sphere(radius));
        QImage frame;
        camera.renderFrame(0, &frame);
        ASSERT_EQ(frame.size(), QSize(640, 480));
        double outer = 0;
        for (int a = 0; a < 360; a += 45) {
            const auto [rings, r] = ringsAlong(frame, a);
            if (radius == 7.8) {
                EXPECT_EQ(rings, 32) << "angle " << a;  // closed: in every direction
            }
            outer += r / 8;
        }
        EXPECT_GT(outer, previousOuter) << radius;
        previousOuter = outer;
    }
}

// A calibration presents its spheres in turn by rewriting the target file between captures:
// each opening of the device must see the file's current target.
TEST(CaptureSimulatedCamera, EachOpeningReadsTheTargetFileAgain) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("alvo.txt"));
    qputenv("NORVIX_SIM_TARGET", file.toLocal8Bit());
    double outer[2] = {0, 0};
    int i = 0;
    for (const char* target : {"esfera 7.0", "esfera 8.6"}) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(target);
        f.close();
        SimulatedCamera camera;
        QImage frame;
        camera.renderFrame(0, &frame);
        outer[i++] = ringsAlong(frame, 0).second;
    }
    qunsetenv("NORVIX_SIM_TARGET");
    EXPECT_GT(outer[1], outer[0] * 1.1);
}

TEST(CaptureSimulatedCamera, ControlsChangeThePicture) {
    SimulatedCamera camera(sphere(7.8));
    QImage base, brighter;
    camera.renderFrame(1, &base);
    camera.setControlValue(PropBrilho, 200);
    camera.renderFrame(1, &brighter);
    EXPECT_GT(meanLevel(brighter), meanLevel(base) + 40);
    camera.setControlValue(PropBrilho, 999);  // clamped to the range
    EXPECT_EQ(camera.controlValue(PropBrilho), 255);
    EXPECT_FALSE(camera.setControlValue(2, 1));
}

// A moving target moves with the frame number, as the renderer replays it at 30 frames a second.
TEST(CaptureSimulatedCamera, MovingTargetFollowsTheFrameNumber) {
    sim::Target t;
    ASSERT_TRUE(sim::parseTarget(QStringLiteral("cornea olho deriva 0.3 distancia 0.5"), &t, nullptr));
    SimulatedCamera camera(t);
    sim::Renderer renderer;
    QImage first, later, expected;
    camera.renderFrame(0, &first);
    camera.renderFrame(45, &later);
    renderer.liveFrame(t, 45, &expected);  // the controls at rest leave the picture as it is
    EXPECT_EQ(later, expected);
    EXPECT_NE(first, later);
    EXPECT_EQ(camera.truth(45).xMm, sim::motionAt(t, 45, 30).xMm);
}

}  // namespace
