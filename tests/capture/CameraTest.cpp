// The camera wrapper over a fake device: the ordered search of standards and sizes, the range
// checks and their messages, the aiming marks, and the video layer's selection rules.
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

#include "CaptureFakes.h"
#include "capture/UVGrabber_Tavro.h"
#include "capture/V4l2Device.h"
#include "platform/ui/MessageSeam.h"

using namespace captest;

namespace {

TEST(CaptureOrderedSearch, PicksTheSizeAndStandardPositions) {
    EXPECT_EQ(orderedSearchPosition({"default", "320x240", "640x480", "720x480"}, "640x480"), 1);
    EXPECT_EQ(orderedSearchPosition({"NTSC M", "PAL M"}, "NTSC"), 0);
    EXPECT_EQ(orderedSearchPosition({"pal m", "ntsc m"}, "NTSC M"), 0);  // case does not matter
    EXPECT_EQ(orderedSearchPosition({"PAL B", "PAL M"}, "NTSC"), 0);
    EXPECT_EQ(orderedSearchPosition({}, "640x480"), 0);
}

TEST(CaptureRounding, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(roundHalfEven(127.5), 128);
    EXPECT_EQ(roundHalfEven(126.5), 126);
    EXPECT_EQ(roundHalfEven(63.5), 64);
    EXPECT_EQ(roundHalfEven(-1.5), -2);
    EXPECT_EQ(roundHalfEven(1073741823.5), 1073741824);
}

class CaptureCamera : public ::testing::Test {
protected:
    FakeCatalogue catalogue;
    norvix::RecordingMessageSeam messages;
    QWidget panel;
    std::unique_ptr<TVGrabber_Tavro> camera;

    void make(quint8 device = 0) {
        camera = std::make_unique<TVGrabber_Tavro>(&panel, 640, 480, 19, 0, device, 100, QStringLiteral("NTSC"));
    }
    FakeVideoDevice& device() { return *catalogue.last; }
};

TEST_F(CaptureCamera, ConstructionSelectsNtscAnd640x480AndStartsBeforeReadingRanges) {
    catalogue.configure = [](FakeVideoDevice& d) {
        d.sizes = {QSize(320, 240), QSize(640, 480), QSize(720, 480)};
        d.ranges[PropBrilho] = {-10, 300, 2};
    };
    make(3);
    EXPECT_EQ(catalogue.openedIndex, 3);
    EXPECT_EQ(camera->video()->videoSizes(),
              QStringList({"default", "320x240", "640x480", "720x480"}));
    EXPECT_EQ(camera->video()->videoSizeIndex(), 2);
    EXPECT_EQ(device().selectedSize, QSize(640, 480));
    EXPECT_EQ(device().selectedStandard, 0);
    EXPECT_TRUE(camera->IsRunning());
    EXPECT_EQ(camera->BrilhoMin(), -10);
    EXPECT_EQ(camera->BrilhoMax(), 300);
    EXPECT_EQ(camera->BrilhoStep(), 2);
    EXPECT_EQ(camera->ContrasteMax(), 127);
    EXPECT_EQ(camera->video()->geometry(), QRect(0, 19, 640, 480));
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(CaptureCamera, DeviceWithoutNtscOr640x480FollowsTheOrderedSearch) {
    catalogue.configure = [](FakeVideoDevice& d) {
        d.standards = {3, 7};  // PAL B, PAL M
        d.sizes = {QSize(320, 240), QSize(720, 576)};
    };
    make();
    EXPECT_EQ(device().selectedStandard, 3);              // position 0 of the device's list
    EXPECT_EQ(device().selectedSize, QSize(720, 576));    // position 1 + 1
}

TEST_F(CaptureCamera, OutOfRangeValuesFallBackWithTheirMessages) {
    make();
    camera->SetBrilho(300);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text,
              QStringLiteral("O valor do brilho deve estar entre 0 e 255! O valor 128 será definido para o brilho."));
    EXPECT_EQ(messages.messages[0].caption, QStringLiteral("Erro"));
    EXPECT_EQ(messages.messages[0].buttons, norvix::MsgButtons::OkCancel);
    EXPECT_EQ(device().values[PropBrilho], 128);

    camera->SetContraste(-1);
    ASSERT_EQ(messages.messages.size(), 2u);
    EXPECT_EQ(messages.messages[1].text, QStringLiteral("O valor do contraste deve estar entre 0 e 127! O valor 64 "
                                                        "será definido para o contraste."));
    EXPECT_EQ(device().values[PropContraste], 64);

    camera->SetSaturacao(128);
    ASSERT_EQ(messages.messages.size(), 3u);
    EXPECT_EQ(messages.messages[2].text, QStringLiteral("O valor da saturação deve estar entre 0 e 127! O valor 0 "
                                                        "será definido para a saturação."));
    EXPECT_EQ(device().values[PropSaturacao], 0);
}

TEST_F(CaptureCamera, InRangeValuesAreRoundedHalfToEvenAndSilent) {
    make();
    camera->SetSaturacao(0);
    camera->SetBrilho(100.5);
    EXPECT_EQ(device().values[PropBrilho], 100);
    camera->SetBrilho(101.5);
    EXPECT_EQ(device().values[PropBrilho], 102);
    camera->SetContraste(127);
    EXPECT_EQ(device().values[PropContraste], 127);
    EXPECT_EQ(device().values[PropSaturacao], 0);
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_EQ(camera->GetBrilho(), 102);
}

TEST_F(CaptureCamera, MissingControlReportsTheUnavailableValueAndIsLeftAlone) {
    catalogue.configure = [](FakeVideoDevice& d) { d.ranges.erase(PropSaturacao); };
    make();
    const ControlRange r = camera->video()->propertyRange(PropSaturacao);
    EXPECT_EQ(r.minimum, 2147483647);
    EXPECT_EQ(r.maximum, 2147483647);
    EXPECT_EQ(r.step, 2147483647);
    EXPECT_EQ(camera->video()->propertyValue(PropSaturacao), 2147483647);
    EXPECT_EQ(camera->SaturacaoMax(), 2147483647);
    const size_t writes = device().writes.size();
    camera->SetSaturacao(0);
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_EQ(device().writes.size(), writes);
}

TEST_F(CaptureCamera, AimingMarksHaveTheirPlaces) {
    const QList<QRect> r = TVGrabber_Tavro::overlayRects(640, 480);
    ASSERT_EQ(r.size(), 8);
    EXPECT_EQ(r[0], QRect(58, 0, 1, 480));
    EXPECT_EQ(r[1], QRect(582, 0, 1, 480));
    EXPECT_EQ(r[2], QRect(0, 240, 20, 1));
    EXPECT_EQ(r[3], QRect(620, 240, 20, 1));
    EXPECT_EQ(r[4], QRect(320, 228, 1, 10));  // y 228..237
    EXPECT_EQ(r[5], QRect(322, 240, 10, 1));  // x 322..331
    EXPECT_EQ(r[6], QRect(320, 242, 1, 10));  // y 242..251
    EXPECT_EQ(r[7], QRect(308, 240, 10, 1));  // x 308..317

    make();
    ASSERT_EQ(camera->video()->shapes().size(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(camera->video()->shapes()[i].rect, r[i]);
        EXPECT_EQ(camera->video()->shapes()[i].outline, QColor(255, 255, 0));
    }
    camera->DrawOverlay();  // a shape already listed is not added twice
    EXPECT_EQ(camera->video()->shapes().size(), 8);
}

TEST_F(CaptureCamera, StillFramesAreOwnCopies) {
    make();
    camera->CaptureFrame();
    QImage frame = testFrame(1);
    device().push(frame);
    ASSERT_TRUE(waitFor([&] { return camera->HasFrame(); }));
    EXPECT_EQ(camera->GetFrame(), testFrame(1));
    EXPECT_NE(camera->GetFrame().constBits(), frame.constBits());
}

class CaptureVideoLayer : public ::testing::Test {
protected:
    FakeCatalogue catalogue;
    QWidget panel;
    TVideoGrabber video{&panel};
};

TEST_F(CaptureVideoLayer, SizeIndexPastTheEndSelectsDefault) {
    video.setVideoDevice(0);
    ASSERT_EQ(video.videoSizes().size(), 4);
    video.setVideoSize(2);
    EXPECT_EQ(catalogue.last->selectedSize, QSize(640, 480));
    video.setVideoSize(4);
    EXPECT_EQ(video.videoSizeIndex(), 0);
    EXPECT_FALSE(catalogue.last->selectedSize.isValid());
    catalogue.last->selectedSize = QSize(1, 1);
    video.setVideoSize(-1);  // ignored
    EXPECT_EQ(catalogue.last->selectedSize, QSize(1, 1));
}

TEST_F(CaptureVideoLayer, StandardIndexOutsideTheListLeavesTheStandard) {
    video.setVideoDevice(0);
    EXPECT_EQ(video.videoStandards(), QStringList({"NTSC M", "PAL M"}));
    video.setVideoStandard(1);
    EXPECT_EQ(catalogue.last->selectedStandard, 7);
    video.setVideoStandard(2);
    video.setVideoStandard(-1);
    EXPECT_EQ(catalogue.last->selectedStandard, 7);
}

TEST_F(CaptureVideoLayer, NoDeviceMeansEmptyListsAndNoPreview) {
    catalogue.noDevice = true;
    video.setVideoDevice(5);
    EXPECT_TRUE(video.videoSizes().isEmpty());
    EXPECT_TRUE(video.videoStandards().isEmpty());
    EXPECT_FALSE(video.startPreview());
    EXPECT_EQ(video.propertyValue(PropBrilho), 2147483647);
    EXPECT_FALSE(video.lastError().isEmpty());
}

// A video node the module holds must not pass to a program the host starts meanwhile. (No
// board here: a plain file stands for the node, opened the way both video opens do.)
TEST(CaptureVideoNode, IsNotInheritedByChildProcesses) {
    QTemporaryDir dir;
    const QString node = QFileInfo(dir.filePath(QStringLiteral("video-no"))).absoluteFilePath();
    QFile f(node);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    const int fd = openVideoNode(node);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(openFileTargets().contains(node));
    QProcess child;
    child.start(QStringLiteral("ls"), {QStringLiteral("-l"), QStringLiteral("/proc/self/fd/")});
    ASSERT_TRUE(child.waitForFinished(10000));
    const QString seen = QString::fromLocal8Bit(child.readAllStandardOutput());
    EXPECT_TRUE(seen.contains(QLatin1String("->"))) << seen.toStdString();
    EXPECT_FALSE(seen.contains(node)) << seen.toStdString();
    ::close(fd);

    // A node that is no capture device is refused and not left open.
    V4l2Device device(node);
    QString error;
    EXPECT_FALSE(device.openDevice(&error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(openFileTargets().contains(node));
}

}  // namespace
