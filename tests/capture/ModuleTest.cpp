// The capture call as the host makes it: the window driven through the static library with
// fake layers, the settings file read and written around it, the BMP in the host's stream;
// and Grabmod.so itself loaded by path.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "CaptureFakes.h"
#include "capture/Bitmap32.h"
#include "capture/CaptureCall.h"
#include "capture/CaptureSettings.h"
#include "capture/UBProcImg.h"
#include "capture/UVGrabber_Tavro.h"
#include "capture/UfrmCapturar.h"
#include "platform/ui/MessageSeam.h"

using namespace captest;

namespace {

quint32 u32(const QByteArray& b, int at) {
    quint32 v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | quint8(b[at + i]);
    return v;
}
quint16 u16(const QByteArray& b, int at) { return quint16(quint8(b[at]) | (quint8(b[at + 1]) << 8)); }

TEST(CaptureBitmap, LayoutIsThe32BitBottomUpBmp) {
    QImage img(640, 480, QImage::Format_RGB32);
    img.fill(qRgb(1, 2, 3));
    img.setPixel(0, 479, qRgb(10, 20, 30));  // bottom-left: the first pixel stored
    img.setPixel(639, 0, qRgb(40, 50, 60));  // top-right: the last
    const QByteArray b = encodeBmp32(img);
    ASSERT_EQ(b.size(), 1228854);
    EXPECT_EQ(b.left(2), "BM");
    EXPECT_EQ(u32(b, 2), 1228854u);
    EXPECT_EQ(u32(b, 6), 0u);
    EXPECT_EQ(u32(b, 10), 54u);
    EXPECT_EQ(u32(b, 14), 40u);
    EXPECT_EQ(u32(b, 18), 640u);
    EXPECT_EQ(u32(b, 22), 480u);
    EXPECT_EQ(u16(b, 26), 1);
    EXPECT_EQ(u16(b, 28), 32);
    EXPECT_EQ(u32(b, 30), 0u);
    EXPECT_EQ(u32(b, 34), 640u * 480u * 4u);
    for (int at : {38, 42, 46, 50}) EXPECT_EQ(u32(b, at), 0u);
    EXPECT_EQ(b.mid(54, 4), QByteArray("\x1e\x14\x0a\x00", 4));        // blue, green, red, reserved
    EXPECT_EQ(b.right(4), QByteArray("\x3c\x32\x28\x00", 4));
    EXPECT_EQ(b.mid(58, 4), QByteArray("\x03\x02\x01\x00", 4));
}

TEST(CaptureInfo, WritesExactlyTheBoardLine) {
    MemoryStream s;
    writeInfo(&s.stream);
    EXPECT_EQ(s.data, QByteArray("Euresys Picolo Jr. 4\r\n"));
    EXPECT_EQ(s.data.size(), 22);
    EXPECT_EQ(s.pos, 22);
    writeInfo(nullptr);  // no stream: nothing to do, no crash
}

class CaptureCall : public ::testing::Test {
protected:
    QTemporaryDir root;
    QString ini;
    FakeCatalogue catalogue;
    std::unique_ptr<FakeSerial> serial = std::make_unique<FakeSerial>();
    norvix::RecordingMessageSeam messages;
    MemoryStream image;

    void SetUp() override {
        qputenv("NORVIX_ROOT", root.path().toLocal8Bit());
        QDir(root.path()).mkpath(QStringLiteral("Orvent"));
        ini = root.filePath(QStringLiteral("Orvent/Orvent.ini"));
        writeIni("[CAMERA]\r\nBRILHO=100\r\nCONTRASTE=40\r\nCAMERACENTRAL=0\r\n[SERIAL]\r\nCOM=COM1\r\n"
                 "[OPCOES]\r\nSalvarImagemCaptura=0\r\nAUTOPCAPTURA=0\r\nTINCREMENTO=2\r\nDELAYAUTOPCAPTURA=500\r\nTIPOCALIBRADOR=1\r\n");
        captureSettings() = CaptureSettings{};
    }
    void TearDown() override { qunsetenv("NORVIX_ROOT"); }
    void writeIni(const QByteArray& text) {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
    QByteArray iniBytes() {
        QFile f(ini);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // Runs script against the capture window once it is up, then Digitalizar's result.
    uint8_t capture(uint8_t mode, std::function<void(TfrmCapturar*)> script) {
        QTimer poll;
        bool ran = false;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* w = qobject_cast<TfrmCapturar*>(QApplication::activeModalWidget());
            if (ran || !w || !w->isVisible()) return;
            ran = true;
            poll.stop();
            script(w);
        });
        poll.start(10);
        const uint8_t r = digitalizar(nullptr, &image.stream, mode);
        EXPECT_TRUE(ran);
        return r;
    }
    static void freeze(TfrmCapturar* w, FakeCatalogue& c, int n) {
        QTest::keyClick(w, Qt::Key_Space);
        c.last->push(testFrame(n));
        ASSERT_TRUE(waitFor([&] { return w->state() == TfrmCapturar::State::Frozen; }));
    }
};

TEST_F(CaptureCall, CancelReturnsZeroAndLeavesTheStreamEmpty) {
    const uint8_t r = capture(1, [&](TfrmCapturar* w) {
        freeze(w, catalogue, 1);
        QTest::keyClick(w, Qt::Key_Escape);
    });
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(image.data.isEmpty());
    EXPECT_EQ(image.pos, 0);
}

TEST_F(CaptureCall, OkWritesTheFrameAsBmpAtPositionZero) {
    const uint8_t r = capture(0, [&](TfrmCapturar* w) {
        freeze(w, catalogue, 5);
        QTest::keyClick(w, Qt::Key_Return);
    });
    EXPECT_EQ(r, 1);
    ASSERT_EQ(image.data.size(), 1228854);
    EXPECT_TRUE(image.data.startsWith("BM"));
    EXPECT_EQ(image.pos, 0);
    EXPECT_EQ(image.data, encodeBmp32(testFrame(5)));
    EXPECT_EQ(captureSettings().brilho, 100);
    EXPECT_EQ(captureSettings().com, QStringLiteral("COM1"));
    EXPECT_EQ(catalogue.openedIndex, 0);
}

TEST_F(CaptureCall, OkWithoutAFrameReturnsZeroWithAMessage) {
    const uint8_t r2 = capture(1, [&](TfrmCapturar* w) {
        QTest::keyClick(w, Qt::Key_Space);  // requested, but the frame never comes
        QTest::keyClick(w, Qt::Key_Return);
    });
    EXPECT_EQ(r2, 0);
    EXPECT_TRUE(image.data.isEmpty());
    EXPECT_TRUE(messages.texts().last().startsWith(QStringLiteral("Nenhuma imagem foi recebida")));
}

TEST_F(CaptureCall, EyeModesNeverWriteTheSettings) {
    const QByteArray before = iniBytes();
    for (uint8_t mode : {uint8_t(0), uint8_t(1)}) {
        capture(mode, [&](TfrmCapturar* w) {
            w->findChild<QSlider*>(QStringLiteral("trBrilho"))->setValue(30);
            w->findChild<QSlider*>(QStringLiteral("trContraste"))->setValue(20);
            freeze(w, catalogue, 2);
            QTest::keyClick(w, Qt::Key_Return);
        });
    }
    EXPECT_EQ(iniBytes(), before);
}

TEST_F(CaptureCall, CalibrationWritesConfirmedValuesOnly) {
    const QByteArray before = iniBytes();
    messages.answers = {norvix::MsgAnswer::Cancel, norvix::MsgAnswer::Ok};
    capture(2, [&](TfrmCapturar* w) {
        w->findChild<QSlider*>(QStringLiteral("trBrilho"))->setValue(150);
        QTest::keyClick(w, Qt::Key_Escape);
    });
    EXPECT_EQ(iniBytes(), before);

    messages.answers = {norvix::MsgAnswer::Ok, norvix::MsgAnswer::Ok};
    const uint8_t r = capture(2, [&](TfrmCapturar* w) {
        w->findChild<QSlider*>(QStringLiteral("trBrilho"))->setValue(150);
        w->findChild<QSlider*>(QStringLiteral("trContraste"))->setValue(70);
        freeze(w, catalogue, 3);
        QTest::keyClick(w, Qt::Key_Return);
    });
    EXPECT_EQ(r, 1);
    const QByteArray after = iniBytes();
    EXPECT_TRUE(after.contains("BRILHO=150")) << after.constData();
    EXPECT_TRUE(after.contains("CONTRASTE=70")) << after.constData();
    EXPECT_TRUE(after.contains("COM=COM1"));
}

// A failure after the window has run (the host's stream takes nothing, and even the message
// boxes fail) ends the call with 0 and leaves nothing of the capture behind: no window, no
// camera, no serial port, no frame, and no exception out of the module.
TEST_F(CaptureCall, FailureAfterTheWindowReleasesEverything) {
    struct FailingBoxes : norvix::MessageSeam {
        norvix::MessageSeam* previous = norvix::messageSeam();
        FailingBoxes() { norvix::setMessageSeam(this); }
        ~FailingBoxes() override { norvix::setMessageSeam(previous); }
        norvix::MsgAnswer show(QWidget*, const norvix::ShownMessage&) override { throw std::bad_alloc(); }
    } boxes;
    image.stream.write = [](void*, const void*, int64_t) -> int64_t { return 0; };
    QPointer<TfrmCapturar> window;
    uint8_t r = 1;
    EXPECT_NO_THROW(r = capture(1, [&](TfrmCapturar* w) {
                        window = w;
                        freeze(w, catalogue, 4);
                        ASSERT_TRUE(catalogue.last->started);
                        ASSERT_NE(FakeComPort::last, nullptr);
                        QTest::keyClick(w, Qt::Key_Return);
                    }));
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(FakeVideoDevice::alive, 0);
    EXPECT_EQ(FakeComPort::last, nullptr);
    EXPECT_EQ(frameHolder(), nullptr);
}

// The host ends the program just as the frame that OK waits for arrives: the window then
// closes as if accepted, but the call hands nothing back.
TEST_F(CaptureCall, HostEndingWhileOkWaitsForTheFrameHandsNothingBack) {
    uint8_t r = 9;
    QTimer::singleShot(0, [&] {
        r = capture(1, [&](TfrmCapturar* w) {
            QTest::keyClick(w, Qt::Key_Space);
            QObject::connect(w->camera(), &TVGrabber::frameCaptured, w, [] { QCoreApplication::exit(0); });
            QTimer::singleShot(50, w, [&] { catalogue.last->push(testFrame(8)); });
            QTest::keyClick(w, Qt::Key_Return);  // waits for the frame
        });
    });
    QCoreApplication::exec();
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(image.data.isEmpty());
    EXPECT_TRUE(messages.messages.empty());
}

// A board whose brightness runs from -64 to 64: the stored value, the trackbar and the
// device keep the sign from the settings file to the device and back to the file.
TEST_F(CaptureCall, NegativeBrightnessRoundTrips) {
    writeIni("[CAMERA]\r\nBRILHO=-20\r\nCONTRASTE=40\r\nCAMERACENTRAL=0\r\n[SERIAL]\r\nCOM=COM1\r\n"
             "[OPCOES]\r\nAUTOPCAPTURA=0\r\nTINCREMENTO=2\r\nDELAYAUTOPCAPTURA=500\r\nTIPOCALIBRADOR=1\r\n");
    catalogue.configure = [](FakeVideoDevice& d) {
        d.ranges[PropBrilho] = {-64, 64, 1};
        d.values[PropBrilho] = 0;
    };
    messages.answers = {norvix::MsgAnswer::Ok, norvix::MsgAnswer::Ok};
    capture(2, [&](TfrmCapturar* w) {
        auto* tr = w->findChild<QSlider*>(QStringLiteral("trBrilho"));
        EXPECT_EQ(tr->minimum(), -64);
        EXPECT_EQ(tr->maximum(), 64);
        EXPECT_EQ(tr->value(), -20);
        EXPECT_EQ(catalogue.last->values[PropBrilho], -20);
        tr->setValue(-35);
        QTest::keyClick(w, Qt::Key_Escape);  // the calibration question comes on every close
    });
    EXPECT_TRUE(iniBytes().contains("BRILHO=-35\r\n")) << iniBytes().constData();

    capture(2, [&](TfrmCapturar* w) {
        EXPECT_EQ(w->findChild<QSlider*>(QStringLiteral("trBrilho"))->value(), -35);
        EXPECT_EQ(catalogue.last->values[PropBrilho], -35);
        QTest::keyClick(w, Qt::Key_Escape);
    });
}

TEST_F(CaptureCall, MissingSettingsFileKeepsTheRecordAndNeverWritesIt) {
    QFile::remove(ini);
    captureSettings() = CaptureSettings{90, 30, 0, QStringLiteral("COM2"), false};
    messages.answers = {norvix::MsgAnswer::Ok};
    capture(2, [&](TfrmCapturar* w) {
        EXPECT_EQ(w->findChild<QSlider*>(QStringLiteral("trBrilho"))->value(), 90);
        QTest::keyClick(w, Qt::Key_Escape);
    });
    EXPECT_EQ(captureSettings().brilho, 90);
    EXPECT_EQ(captureSettings().com, QStringLiteral("COM2"));
    EXPECT_FALSE(QFile::exists(ini));
}

TEST_F(CaptureCall, AbortedLoadKeepsTheRecordAndTheFile) {
    writeIni("[CAMERA]\r\nBRILHO=10\r\nCONTRASTE=5\r\n[OPCOES]\r\nTINCREMENTO=abc\r\n");
    const QByteArray before = iniBytes();
    captureSettings() = CaptureSettings{90, 30, 0, QStringLiteral("COM2"), false};
    capture(2, [&](TfrmCapturar* w) { QTest::keyClick(w, Qt::Key_Escape); });
    EXPECT_EQ(captureSettings().brilho, 90);
    EXPECT_EQ(captureSettings().contraste, 30);
    EXPECT_EQ(iniBytes(), before);
}

TEST_F(CaptureCall, UnreadableBrightnessKeepsItsOldValueOnly) {
    writeIni("[CAMERA]\r\nBRILHO=muito\r\nCONTRASTE=5\r\n[SERIAL]\r\nCOM=COM4\r\n[OPCOES]\r\nAUTOPCAPTURA=0\r\nTINCREMENTO=2\r\n"
             "DELAYAUTOPCAPTURA=500\r\nTIPOCALIBRADOR=1\r\n");
    captureSettings() = CaptureSettings{90, 30, 0, QStringLiteral("COM2"), false};
    capture(1, [&](TfrmCapturar* w) { QTest::keyClick(w, Qt::Key_Escape); });
    EXPECT_EQ(captureSettings().brilho, 90);
    EXPECT_EQ(captureSettings().contraste, 5);
    EXPECT_EQ(captureSettings().com, QStringLiteral("COM4"));
}

// The window closed (as by the window manager) while the show sequence still waits on its
// serial message: the call must end, not hang in a modal loop whose window has already closed.
TEST_F(CaptureCall, ClosingDuringTheShowSequenceEndsTheCall) {
    struct EscOnSerialMessage : norvix::MessageSeam {
        norvix::MessageSeam* previous = norvix::messageSeam();
        EscOnSerialMessage() { norvix::setMessageSeam(this); }
        ~EscOnSerialMessage() override { norvix::setMessageSeam(previous); }
        norvix::MsgAnswer show(QWidget*, const norvix::ShownMessage& m) override {
            if (!m.text.contains("serial")) return norvix::MsgAnswer::Ok;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* window = qobject_cast<TfrmCapturar*>(w)) window->reject();
            return norvix::MsgAnswer::Ok;
        }
    } seam;
    serial.reset();
    serial = std::make_unique<FakeSerial>(true);
    EXPECT_EQ(digitalizar(nullptr, &image.stream, 1), 0);
    EXPECT_TRUE(image.data.isEmpty());
}

// Grabmod.so as the host loads it, with its own copies of the seams: driven from outside by
// answering whatever windows it shows, over the simulated instrument.
// The orthokeratology call: four windows in a row, each numbered, the frames written only once
// all four are accepted.
class CaptureOrtoCall : public CaptureCall {
protected:
    MemoryStream streams[4];
    ModuleStream* group[4] = {&streams[0].stream, &streams[1].stream, &streams[2].stream, &streams[3].stream};
    QStringList titles;

    // script(window, index) runs once on each capture window as it comes up.
    uint8_t captureFour(std::function<void(TfrmCapturar*, int)> script, ModuleStream** images, uint8_t eye = 1) {
        QTimer poll;
        QPointer<TfrmCapturar> last;
        int shown = 0;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* w = qobject_cast<TfrmCapturar*>(QApplication::activeModalWidget());
            if (!w || !w->isVisible() || w == last) return;
            last = w;
            titles << w->findChild<QLabel*>(QStringLiteral("lblNomeModulo"))->text();
            script(w, shown++);
        });
        poll.start(10);
        return digitalizarOrto(nullptr, images, eye);
    }
};

TEST_F(CaptureOrtoCall, FourNumberedCapturesWithARetakeReachTheFourStreams) {
    const uint8_t r = captureFour(
        [&](TfrmCapturar* w, int i) {
            freeze(w, catalogue, 10 + i);
            if (i == 1) {  // the operator retakes the second capture
                w->findChild<QToolButton*>(QStringLiteral("spbDescongelar"))->click();
                freeze(w, catalogue, 42);
            }
            QTest::keyClick(w, Qt::Key_Return);
        },
        group);
    ASSERT_EQ(r, 1);
    EXPECT_EQ(titles, QStringList({"Ortoceratologia - Captura 1 de 4 ", "Ortoceratologia - Captura 2 de 4 ",
                                   "Ortoceratologia - Captura 3 de 4 ", "Ortoceratologia - Captura 4 de 4 "}));
    const int frames[4] = {10, 42, 12, 13};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(streams[c].data, encodeBmp32(testFrame(frames[c]))) << "capture " << c + 1;
        EXPECT_EQ(streams[c].pos, 0);
    }
}

TEST_F(CaptureOrtoCall, CancellingTheThirdCaptureLeavesAllFourStreamsEmpty) {
    const uint8_t r = captureFour(
        [&](TfrmCapturar* w, int i) {
            freeze(w, catalogue, i + 1);
            QTest::keyClick(w, i == 2 ? Qt::Key_Escape : Qt::Key_Return);
        },
        group);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(titles.size(), 3);
    for (const MemoryStream& s : streams) EXPECT_TRUE(s.data.isEmpty());
}

TEST_F(CaptureOrtoCall, MissingStreamsOrAnInvalidEyeOpenNoWindow) {
    ModuleStream* partial[4] = {group[0], group[1], nullptr, group[3]};
    auto never = [&](TfrmCapturar* w, int) { ADD_FAILURE() << "window opened"; w->reject(); };
    EXPECT_EQ(captureFour(never, nullptr), 0);
    EXPECT_EQ(captureFour(never, partial), 0);
    EXPECT_EQ(captureFour(never, group, 2), 0);
    for (const MemoryStream& s : streams) EXPECT_TRUE(s.data.isEmpty());
}

TEST(CaptureModuleLibrary, OrthokeratologyModuleExportsOnlyItsTwoEntryPoints) {
    const QByteArray path = qgetenv("NORVIX_BIN_DIR") + "/GrabmodOrto.so";
    void* lib = ::dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << ::dlerror();
    auto digitalizarFn = reinterpret_cast<TDigitalizarOrto>(::dlsym(lib, "Digitalizar"));
    auto infoFn = reinterpret_cast<TInfo>(::dlsym(lib, "Info"));
    ASSERT_NE(digitalizarFn, nullptr);
    ASSERT_NE(infoFn, nullptr);
    EXPECT_EQ(::dlsym(lib, "_ZN6norvix7captura15digitalizarOrtoEP7QWidgetPP12ModuleStreamh"), nullptr);
    MemoryStream info;
    infoFn(&info.stream);
    EXPECT_EQ(info.data, QByteArray("Euresys Picolo Jr. 4\r\n"));
    QWidget host;
    EXPECT_EQ(digitalizarFn(&host, nullptr, nullptr, 1, "Digitalizando Imagem do Olho"), 0);
    EXPECT_EQ(::dlclose(lib), 0);
}

TEST(CaptureModuleLibrary, ExportsInfoAndCapturesTheSimulatedEye) {
    const QByteArray path = qgetenv("NORVIX_BIN_DIR") + "/Grabmod.so";
    void* lib = ::dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << ::dlerror();
    auto digitalizarFn = reinterpret_cast<TDigitalizar>(::dlsym(lib, "Digitalizar"));
    auto infoFn = reinterpret_cast<TInfo>(::dlsym(lib, "Info"));
    ASSERT_NE(digitalizarFn, nullptr);
    ASSERT_NE(infoFn, nullptr);
    EXPECT_EQ(::dlsym(lib, "_ZN6norvix7captura11digitalizarEP7QWidgetP12ModuleStreamh"), nullptr);

    MemoryStream info;
    infoFn(&info.stream);
    EXPECT_EQ(info.data, QByteArray("Euresys Picolo Jr. 4\r\n"));

    QTemporaryDir root;  // the port does not exist, so the serial message comes
    QDir(root.path()).mkpath(QStringLiteral("Orvent"));
    QFile ini(root.filePath(QStringLiteral("Orvent/Orvent.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    // The simulated instrument is the last device, after any capture board of this machine.
    const QByteArray simIndex = QByteArray::number(videoDevices().deviceNames().size() - 1);
    ini.write("[CAMERA]\r\nBRILHO=128\r\nCONTRASTE=64\r\nCAMERACENTRAL=" + simIndex +
              "\r\n[SERIAL]\r\nCOM=/dev/nao-existe\r\n[OPCOES]\r\nAUTOPCAPTURA=0\r\nTINCREMENTO=2\r\nDELAYAUTOPCAPTURA=500\r\n"
              "TIPOCALIBRADOR=1\r\n");
    ini.close();
    qputenv("NORVIX_ROOT", root.path().toLocal8Bit());
    qputenv("NORVIX_SIM_TARGET", "esfera 7.80");
    // Answer its message boxes; in the window freeze the simulated picture, then accept it.
    QTimer driver;
    int step = 0;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                box->accept();
                return;
            }
        }
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible() || w->objectName() != QLatin1String("frmCapturar")) continue;
            // A question shown by the window drops input queued before it, so each key is pressed
            // again until its effect is seen: frozen (Capturar disabled), then accepted.
            auto* capturar = w->findChild<QWidget*>(QStringLiteral("spbCapturar"));
            if (step == 0) QTest::keyClick(w, Qt::Key_Escape);  // first call: cancel
            else if (capturar && capturar->isEnabled()) QTest::keyClick(w, Qt::Key_Space), step = 1;
            else if (++step >= 6) QTest::keyClick(w, Qt::Key_Return);
            return;
        }
    });
    driver.start(100);
    MemoryStream image;
    QWidget host;
    EXPECT_EQ(digitalizarFn(&host, &image.stream, nullptr, 1, "Digitalizando Imagem do Olho"), 0);
    EXPECT_TRUE(image.data.isEmpty());

    step = 1;
    EXPECT_EQ(digitalizarFn(&host, &image.stream, nullptr, 1, "Digitalizando Imagem do Olho"), 1);
    driver.stop();
    ASSERT_EQ(image.data.size(), 1228854);
    EXPECT_EQ(image.pos, 0);
    const QImage frame = QImage::fromData(image.data, "BMP");
    ASSERT_EQ(frame.size(), QSize(640, 480));
    int bright = 0, dark = 0;  // the rings: light and dark bands across the middle row
    for (int x = 330; x < 500; ++x) {
        const int level = qGreen(frame.pixel(x, 240));
        bright += level > 150;
        dark += level < 60;
    }
    EXPECT_GT(bright, 20);
    EXPECT_GT(dark, 20);
    qunsetenv("NORVIX_SIM_TARGET");
    qunsetenv("NORVIX_ROOT");
    EXPECT_EQ(::dlclose(lib), 0);
}

// The host ends the program (on a signal it calls QCoreApplication::exit from its own event
// loop) while Digitalizar's window is up: the call returns 0 at once, with the stream untouched
// and the camera, the serial port and their threads gone, no box left open and nothing of the
// library pending once the host unloads it.
class CaptureHostEnding : public ::testing::Test {
protected:
    QTemporaryDir root;
    Pty pty;

    static int threadCount() {
        return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
    }
    static QWidget* shown(const char* className) {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->inherits(className)) return w;
        return nullptr;
    }
    // Loads Grabmod.so and calls Digitalizar from the application's event loop, as the host
    // does, over the simulated instrument and the serial port com; ends the program once
    // endWhen holds and checks what the call leaves behind.
    void captureUntilHostEnds(const QString& com, const std::function<bool(int threadsBefore)>& endWhen) {
        QDir(root.path()).mkpath(QStringLiteral("Orvent"));
        QFile ini(root.filePath(QStringLiteral("Orvent/Orvent.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[CAMERA]\r\nBRILHO=128\r\nCONTRASTE=64\r\nCAMERACENTRAL=" +
                  QByteArray::number(videoDevices().deviceNames().size() - 1) + "\r\n[SERIAL]\r\nCOM=" +
                  com.toLocal8Bit() + "\r\n[OPCOES]\r\nAUTOPCAPTURA=0\r\nTINCREMENTO=2\r\nDELAYAUTOPCAPTURA=500\r\nTIPOCALIBRADOR=1\r\n");
        ini.close();
        qputenv("NORVIX_ROOT", root.path().toLocal8Bit());
        qputenv("NORVIX_SIM_TARGET", "esfera 7.80");
        void* lib = ::dlopen((qgetenv("NORVIX_BIN_DIR") + "/Grabmod.so").constData(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib, nullptr) << ::dlerror();
        auto digitalizarFn = reinterpret_cast<TDigitalizar>(::dlsym(lib, "Digitalizar"));
        const int threadsBefore = threadCount();

        QWidget host;
        MemoryStream image;
        uint8_t result = 9;
        QElapsedTimer clock;
        qint64 endedAt = -1, returnedAt = -1;
        QTimer driver;
        QObject::connect(&driver, &QTimer::timeout, [&] {
            if (endedAt >= 0 || !endWhen(threadsBefore)) return;
            endedAt = clock.elapsed();
            QCoreApplication::exit(0);
        });
        QTimer::singleShot(0, [&] {
            clock.start();
            driver.start(20);
            result = digitalizarFn(&host, &image.stream, nullptr, 1, "Digitalizando Imagem do Olho");
            returnedAt = clock.elapsed();
            driver.stop();
        });
        QCoreApplication::exec();
        qunsetenv("NORVIX_SIM_TARGET");
        qunsetenv("NORVIX_ROOT");

        ASSERT_GE(endedAt, 0) << "the window never came up";
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(image.data.isEmpty());
        EXPECT_LT(returnedAt - endedAt, 300) << "Digitalizar took " << returnedAt - endedAt << " ms to return";
        for (QWidget* w : QApplication::topLevelWidgets()) {
            EXPECT_FALSE(w->inherits("QMessageBox")) << "a message box was left";
            EXPECT_NE(w->objectName(), QStringLiteral("frmCapturar"));
        }
        for (const QString& target : openFileTargets()) {
            EXPECT_FALSE(target.startsWith(QLatin1String("/dev/video"))) << target.toStdString();
            EXPECT_NE(target, pty.slave);
        }
        EXPECT_EQ(threadCount(), threadsBefore);
        // Anything of the library still pending would run (and crash) after the unload.
        EXPECT_EQ(::dlclose(lib), 0);
        QTest::qWait(300);
    }
};

TEST_F(CaptureHostEnding, WhileTheLivePictureRuns) {
    ASSERT_FALSE(pty.slave.isEmpty());
    QElapsedTimer live;
    captureUntilHostEnds(pty.slave, [&](int threadsBefore) {
        QWidget* w = shown("QDialog");
        if (!w || w->objectName() != QLatin1String("frmCapturar") || QApplication::activeModalWidget() != w) return false;
        if (!live.isValid()) live.start();
        // The simulated picture runs and the foot switch is watched.
        return live.elapsed() > 600 && openFileTargets().contains(pty.slave) && threadCount() >= threadsBefore + 2;
    });
}

TEST_F(CaptureHostEnding, WhileAMessageBoxWaits) {
    // The port does not exist: its message comes while the window opens the camera.
    captureUntilHostEnds(QStringLiteral("/dev/nao-existe"), [](int) { return shown("QMessageBox") != nullptr; });
}

}  // namespace
