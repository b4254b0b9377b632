// The capture window driven through fake video and serial layers, as the operator uses it.
#include <QLabel>
#include <QSlider>
#include <QTemporaryDir>
#include <QToolButton>
#include <QScreen>
#include <gtest/gtest.h>

#include "CaptureFakes.h"
#include "capture/UBProcImg.h"
#include "capture/UVGrabber_Tavro.h"
#include "capture/UfrmCapturar.h"
#include "platform/ui/FileDialogSeam.h"
#include "platform/ui/MessageSeam.h"

using namespace captest;
using State = TfrmCapturar::State;

namespace {

class CaptureWindow : public ::testing::Test {
protected:
    FakeCatalogue catalogue;
    std::unique_ptr<FakeSerial> serial = std::make_unique<FakeSerial>();
    norvix::RecordingMessageSeam messages;
    norvix::ScriptedFileDialogSeam files;
    CaptureSettings settings{100, 40, 0, QStringLiteral("COM1"), false};
    std::unique_ptr<TfrmCapturar> w;

    void open(quint8 mode) {
        w = std::make_unique<TfrmCapturar>(nullptr, settings);
        w->setMode(mode);
        w->show();
        QApplication::processEvents();
    }
    void TearDown() override {
        w.reset();
        releaseFrameHolder();
    }
    template <typename T = QWidget>
    T* child(const char* name) {
        T* c = w->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    QToolButton* btn(const char* name) { return child<QToolButton>(name); }
    void key(Qt::Key k) { QTest::keyClick(w.get(), k); }
    FakeVideoDevice& device() { return *catalogue.last; }
    // Freezes with frame n and waits for the take-over.
    void freezeWith(int n) {
        key(Qt::Key_Space);
        ASSERT_EQ(w->state(), State::Requested);
        device().push(testFrame(n));
        ASSERT_TRUE(waitFor([&] { return w->state() == State::Frozen; }));
    }
    bool covered(const char* tag) {
        QWidget* label = child(tag);
        QWidget* mask = child("pnlCamLateral");
        // The part of the tag inside the camera panel (which clips its children).
        const QRect r = QRect(label->mapTo(child("pnlCentral"), QPoint(0, 0)), label->size())
                            .intersected(child("pnlCamCentral")->geometry());
        return mask->geometry().contains(r);
    }
};

TEST_F(CaptureWindow, ShowSequenceSetsUpPortCameraAndTrackbarsInOrder) {
    open(2);
    FakeComPort* port = FakeComPort::last;
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(port->opened);
    EXPECT_EQ(port->baudRate(), 19200);
    EXPECT_EQ(port->port(), QStringLiteral("COM1"));
    EXPECT_TRUE(port->watchesCts());
    EXPECT_EQ(port->flowControl(), TComPort::FlowControl::None);
    EXPECT_TRUE(port->rtsOn());

    EXPECT_EQ(device().selectedStandard, 0);                 // NTSC M
    EXPECT_EQ(device().selectedSize, QSize(640, 480));
    EXPECT_TRUE(device().started);
    EXPECT_EQ(w->camera()->video()->shapes().size(), 8);
    EXPECT_EQ(w->camera()->video()->geometry(), QRect(0, 19, 640, 480));

    // Saturation 0, then the stored brightness and contrast.
    ASSERT_GE(device().writes.size(), 3u);
    EXPECT_EQ(device().writes[0], std::make_pair(int(PropSaturacao), 0));
    EXPECT_EQ(device().writes[1], std::make_pair(int(PropBrilho), 100));
    EXPECT_EQ(device().writes[2], std::make_pair(int(PropContraste), 40));

    auto* trBrilho = child<QSlider>("trBrilho");
    auto* trContraste = child<QSlider>("trContraste");
    EXPECT_EQ(trBrilho->maximum(), 255);
    EXPECT_EQ(trContraste->maximum(), 127);
    EXPECT_EQ(trBrilho->value(), 100);
    EXPECT_EQ(trContraste->value(), 40);
    EXPECT_EQ(trBrilho->toolTip(), QStringLiteral("Brilho: 100"));
    EXPECT_EQ(trContraste->toolTip(), QStringLiteral("Contraste: 40"));
    EXPECT_EQ(w->ctsCount(), 0);
    EXPECT_TRUE(messages.messages.empty());

    EXPECT_FALSE(btn("spbSalvarImagem")->isVisible());
    EXPECT_TRUE(btn("spbCapturar")->isEnabled());
    EXPECT_FALSE(btn("spbDescongelar")->isEnabled());
    EXPECT_FALSE(btn("spbOK")->isEnabled());
    EXPECT_FALSE(child("imgCentral")->isVisible());
    EXPECT_TRUE(w->camera()->video()->isVisible());
    EXPECT_EQ(w->state(), State::Live);
}

TEST_F(CaptureWindow, LayoutFitsTheScreenAndMasksTheOtherEye) {
    open(1);
    const QRect screen = w->screen()->geometry();
    EXPECT_EQ(w->geometry(), screen);
    QWidget* central = child("pnlCentral");
    EXPECT_EQ(central->size(), QSize(800, 600));
    const auto R = [](double x) { return int(roundHalfEven(x)); };
    EXPECT_EQ(central->pos(), QPoint(R(screen.width() / 2.0) - 400, R(screen.height() / 2.0) + 36 - 300));
    EXPECT_EQ(child("pnlCamCentral")->x(), 49);
    EXPECT_EQ(child("pnlCamLateral")->geometry(), QRect(49, 1, 62, 500));
    EXPECT_TRUE(covered("lblOS"));
    EXPECT_FALSE(covered("lblOD"));
    EXPECT_FALSE(child("trBrilho")->isVisible());
    EXPECT_FALSE(child("lblContraste")->isVisible());

    w.reset();
    open(0);
    EXPECT_EQ(child("pnlCamCentral")->x(), 111);
    EXPECT_EQ(child("pnlCamLateral")->x(), 689);
    EXPECT_TRUE(covered("lblOD"));
    EXPECT_FALSE(covered("lblOS"));

    w.reset();
    open(2);  // calibration: design places, both tags and the trackbars visible
    EXPECT_EQ(child("pnlCamCentral")->x(), 80);
    EXPECT_EQ(child("pnlCamLateral")->geometry(), QRect(16, 1, 62, 500));
    EXPECT_FALSE(covered("lblOS"));
    EXPECT_FALSE(covered("lblOD"));
    EXPECT_TRUE(child("trBrilho")->isVisible());
    EXPECT_TRUE(child("lblBrilho")->isVisible());
}

TEST_F(CaptureWindow, FreezeKeysToggleBetweenLiveAndFrozen) {
    open(1);
    for (Qt::Key k : {Qt::Key_Space, Qt::Key_F5, Qt::Key_F6, Qt::Key_F7, Qt::Key_F8}) {
        key(k);
        ASSERT_EQ(w->state(), State::Requested) << k;
        EXPECT_FALSE(btn("spbCapturar")->isEnabled());
        EXPECT_TRUE(btn("spbDescongelar")->isEnabled());
        EXPECT_TRUE(btn("spbOK")->isEnabled());
        device().push(testFrame(int(k) & 0xff));
        ASSERT_TRUE(waitFor([&] { return w->state() == State::Frozen; })) << k;
        EXPECT_TRUE(child("imgCentral")->isVisible());
        EXPECT_FALSE(w->camera()->video()->isVisible());
        EXPECT_EQ(frameHolder()->GetBitmap(), testFrame(int(k) & 0xff));

        key(k);
        EXPECT_EQ(w->state(), State::Live) << k;
        EXPECT_TRUE(w->camera()->video()->isVisible());
        EXPECT_FALSE(child("imgCentral")->isVisible());
        EXPECT_FALSE(btn("spbOK")->isEnabled());
        EXPECT_FALSE(frameHolder()->HasFrame());
    }
}

TEST_F(CaptureWindow, EnterActsOnlyWhileOkIsEnabledAndEscapeCancels) {
    open(1);
    key(Qt::Key_Return);
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->accepted());
    freezeWith(3);
    key(Qt::Key_Return);
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(w->accepted());
    EXPECT_EQ(w->result(), QDialog::Accepted);

    w.reset();
    open(0);
    freezeWith(2);
    key(Qt::Key_Escape);
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->accepted());
}

TEST_F(CaptureWindow, TwoQuickSpacePressesStayLive) {
    open(1);
    key(Qt::Key_Space);
    key(Qt::Key_Space);
    EXPECT_EQ(w->state(), State::Live);
    device().push(testFrame(9));  // the frame of the abandoned request arrives late
    QTest::qWait(150);
    EXPECT_EQ(w->state(), State::Live);
    EXPECT_FALSE(child("imgCentral")->isVisible());
    EXPECT_FALSE(frameHolder()->HasFrame());

    // The next freeze takes a fresh frame, not the late one.
    key(Qt::Key_Space);
    QTest::qWait(100);
    EXPECT_EQ(w->state(), State::Requested);
    device().push(testFrame(10));
    ASSERT_TRUE(waitFor([&] { return w->state() == State::Frozen; }));
    EXPECT_EQ(frameHolder()->GetBitmap(), testFrame(10));
}

TEST_F(CaptureWindow, LateFrameIsTakenOverWhenItArrives) {
    open(1);
    key(Qt::Key_Space);
    QTest::qWait(150);  // tmrSync has fired without a frame
    EXPECT_EQ(w->state(), State::Requested);
    device().push(testFrame(4));
    ASSERT_TRUE(waitFor([&] { return w->state() == State::Frozen; }, 500));
    EXPECT_EQ(frameHolder()->GetBitmap(), testFrame(4));
}

TEST_F(CaptureWindow, FootSwitchActsOnEverySecondChange) {
    open(1);
    FakeComPort* port = FakeComPort::last;
    port->changeCts(true);
    ASSERT_TRUE(waitFor([&] { return w->ctsCount() == 1; }));
    EXPECT_EQ(w->state(), State::Live);
    port->changeCts(false);
    ASSERT_TRUE(waitFor([&] { return w->ctsCount() == 2; }));
    EXPECT_EQ(w->state(), State::Requested);
    device().push(testFrame(5));
    ASSERT_TRUE(waitFor([&] { return w->state() == State::Frozen; }));
    port->changeCts(true);
    ASSERT_TRUE(waitFor([&] { return w->ctsCount() == 3; }));
    EXPECT_EQ(w->state(), State::Frozen);
    port->changeCts(false);
    ASSERT_TRUE(waitFor([&] { return w->ctsCount() == 4; }));
    EXPECT_EQ(w->state(), State::Live);
}

TEST_F(CaptureWindow, FootSwitchIsIgnoredWithoutARunningCamera) {
    catalogue.configure = [](FakeVideoDevice& d) { d.failStart = true; };
    open(1);
    ASSERT_FALSE(messages.messages.empty());
    EXPECT_TRUE(messages.messages[0].text.startsWith(QStringLiteral("Não foi possível iniciar a câmera")));
    FakeComPort::last->changeCts(true);
    FakeComPort::last->changeCts(false);
    QTest::qWait(50);
    EXPECT_EQ(w->ctsCount(), 0);
    key(Qt::Key_Space);
    EXPECT_EQ(w->state(), State::Live);
    key(Qt::Key_Escape);
    EXPECT_FALSE(w->isVisible());
}

TEST_F(CaptureWindow, MissingSerialPortIsReportedAndKeysStillWork) {
    serial.reset();
    serial = std::make_unique<FakeSerial>(true);
    open(1);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("Problemas na conexão com a serial"));
    EXPECT_EQ(messages.messages[0].icon, norvix::MsgIcon::None);
    EXPECT_EQ(messages.messages[0].buttons, norvix::MsgButtons::Ok);
    EXPECT_EQ(w->port(), nullptr);
    freezeWith(6);
    EXPECT_EQ(frameHolder()->GetBitmap(), testFrame(6));
}

TEST_F(CaptureWindow, OkBeforeTheFrameArrivedWaitsForIt) {
    open(1);
    key(Qt::Key_Space);
    QTimer::singleShot(200, [&] { device().push(testFrame(7)); });
    btn("spbOK")->click();
    EXPECT_TRUE(w->accepted());
    ASSERT_TRUE(frameHolder()->HasFrame());
    EXPECT_EQ(frameHolder()->GetBitmap(), testFrame(7));
}

TEST_F(CaptureWindow, SavingWhileLiveFreezesSavesAndReturnsToLive) {
    settings.salvarImagemCaptura = true;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("olho.png"));  // any extension: still a BMP
    files.answers.push_back(path);
    open(1);
    ASSERT_TRUE(btn("spbSalvarImagem")->isVisible());
    QTimer::singleShot(30, [&] { device().push(testFrame(8)); });
    btn("spbSalvarImagem")->click();
    ASSERT_EQ(files.requests.size(), 1u);
    EXPECT_EQ(files.requests[0].title, QStringLiteral("Salvar imagem da captura"));
    EXPECT_EQ(files.requests[0].proposedName, QStringLiteral("imagem.bmp"));
    EXPECT_EQ(w->state(), State::Live);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_EQ(bytes.size(), 1228854);
    EXPECT_TRUE(bytes.startsWith("BM"));
    EXPECT_TRUE(messages.messages.empty());

    // Cancelled dialog: back to live all the same, nothing written.
    btn("spbSalvarImagem")->click();
    EXPECT_EQ(w->state(), State::Live);
    EXPECT_EQ(files.requests.size(), 2u);
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(CaptureWindow, SavingWhileFrozenStaysFrozenAndReportsAFailedWrite) {
    settings.salvarImagemCaptura = true;
    QTemporaryDir dir;
    files.answers.push_back(dir.filePath(QStringLiteral("a.bmp")));
    files.answers.push_back(dir.filePath(QStringLiteral("sem/pasta/b.bmp")));
    open(1);
    freezeWith(11);
    btn("spbSalvarImagem")->click();
    EXPECT_EQ(w->state(), State::Frozen);
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("a.bmp"))));
    btn("spbSalvarImagem")->click();
    EXPECT_EQ(w->state(), State::Frozen);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].caption, QStringLiteral("Erro"));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("sem/pasta/b.bmp"))));
}

const QString kQuestion = QStringLiteral(
    "Os valores de brilho e contraste foram alterados.\rPressione OK para tornar padrão os novos valores ou "
    "Cancelar\rpara manter os valores anteriores.");

TEST_F(CaptureWindow, CalibrationCloseWithUnchangedTrackbarsAsksNothing) {
    open(2);
    btn("spbCancelar")->click();
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_FALSE(w->newDefaultsConfirmed());
}

TEST_F(CaptureWindow, CalibrationQuestionOkMakesTheTrackbarsTheNewDefaults) {
    open(2);
    child<QSlider>("trBrilho")->setValue(150);
    EXPECT_EQ(device().values[PropBrilho], 150);
    EXPECT_EQ(child<QSlider>("trBrilho")->toolTip(), QStringLiteral("Brilho: 150"));
    messages.answers = {norvix::MsgAnswer::Ok, norvix::MsgAnswer::Ok};
    btn("spbCancelar")->click();  // the question comes on every way of closing
    ASSERT_EQ(messages.messages.size(), 2u);
    EXPECT_EQ(messages.messages[0].text, kQuestion);
    EXPECT_EQ(messages.messages[0].caption, QStringLiteral("Aviso - Captura"));
    EXPECT_EQ(messages.messages[0].buttons, norvix::MsgButtons::OkCancel);
    EXPECT_TRUE(messages.messages[1].text.startsWith(
        QStringLiteral("Novos valores de brilho e contraste definidos com sucesso.\rCaso você esteja no meio de "
                       "processo de calibração,  por\rfavor")));
    EXPECT_EQ(settings.brilho, 150);
    EXPECT_EQ(settings.contraste, 40);
    EXPECT_TRUE(w->newDefaultsConfirmed());
}

TEST_F(CaptureWindow, CalibrationQuestionCancelKeepsTheRecord) {
    open(2);
    child<QSlider>("trContraste")->setValue(90);
    messages.answers = {norvix::MsgAnswer::Cancel};
    btn("spbCancelar")->click();
    ASSERT_EQ(messages.messages.size(), 2u);
    EXPECT_EQ(messages.messages[1].text,
              QStringLiteral("Os valores anteriores serão restaurados na próxima \rvez que o programa for iniciado."));
    EXPECT_EQ(messages.messages[1].buttons, norvix::MsgButtons::OkCancel);
    EXPECT_EQ(settings.contraste, 40);
    EXPECT_FALSE(w->newDefaultsConfirmed());
}

TEST_F(CaptureWindow, OnlyCalibrationModeAsks) {
    for (quint8 mode : {quint8(0), quint8(1), quint8(7)}) {
        open(mode);
        EXPECT_EQ(child("trBrilho")->isVisible(), mode == 7);  // other modes: laid out as calibration
        child<QSlider>("trBrilho")->setValue(10);
        btn("spbCancelar")->click();
        EXPECT_TRUE(messages.messages.empty()) << int(mode);
        EXPECT_EQ(settings.brilho, 100);
        w.reset();
    }
}

TEST_F(CaptureWindow, LostCameraIsReportedAndTheWindowStillCancels) {
    open(1);
    key(Qt::Key_Space);
    device().fail(QStringLiteral("desconectada"));
    ASSERT_TRUE(waitFor([&] { return !messages.messages.empty(); }));
    EXPECT_EQ(messages.messages[0].caption, QStringLiteral("Erro"));
    EXPECT_TRUE(messages.messages[0].text.contains(QStringLiteral("desconectada")));
    EXPECT_EQ(w->state(), State::Live);
    EXPECT_FALSE(w->camera()->IsRunning());
    key(Qt::Key_Escape);
    EXPECT_FALSE(w->isVisible());
}

TEST_F(CaptureWindow, WithoutADeviceTheTrackbarsKeepTheStoredValues) {
    catalogue.noDevice = true;
    open(2);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(child<QSlider>("trBrilho")->value(), 100);
    EXPECT_FALSE(child("trBrilho")->isEnabled());
    btn("spbCancelar")->click();
    EXPECT_EQ(messages.messages.size(), 1u);  // no calibration question
}

TEST_F(CaptureWindow, StillFrameNeverHoldsTheAimingMarks) {
    open(1);
    const QImage frame = testFrame(12);
    device().push(frame);
    QTest::qWait(20);
    // The displayed picture carries the yellow marks...
    const QImage shown = w->camera()->video()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown.pixel(58, 100), qRgb(255, 255, 0));
    EXPECT_EQ(shown.pixel(320, 230), qRgb(255, 255, 0));
    EXPECT_NE(shown.pixel(320, 240), qRgb(255, 255, 0));  // the gap at the centre
    // ...the still frame does not.
    freezeWith(12);
    EXPECT_EQ(frameHolder()->GetBitmap(), frame);
}

}  // namespace
