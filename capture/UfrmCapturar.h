#pragma once
// The full-screen capture window: live picture with aiming marks, freezing a still frame by
// key, button or foot switch, saving it, and in calibration mode the brightness and contrast
// trackbars whose values may become the new defaults.
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <memory>

#include <QElapsedTimer>

#include "CaptureSettings.h"
#include "LiveAssist.h"
#include "TComPort.h"

class QFrame;
class QLabel;
class QSlider;
class QToolButton;

namespace norvix::captura {

class AssistOverlay;
class TVGrabber_Tavro;

class TfrmCapturar : public QDialog {
    Q_OBJECT
public:
    enum class State { Live, Requested, Frozen };

    // settings: the module's record, read on show and updated by the calibration question.
    TfrmCapturar(QWidget* owner, CaptureSettings& settings);
    ~TfrmCapturar() override;  // closes the serial port and releases the camera

    void setMode(quint8 mode) { mode_ = mode; }
    void setTitle(const QString& text);
    quint8 mode() const { return mode_; }
    bool accepted() const { return accepted_; }
    // The operator confirmed new brightness and contrast defaults in the closing question.
    bool newDefaultsConfirmed() const { return newDefaultsConfirmed_; }
    State state() const { return state_; }
    int ctsCount() const { return ctsCount_; }
    TVGrabber_Tavro* camera() const { return camera_.get(); }
    TComPort* port() const { return port_; }
    // The live assistance: the worker that assesses the frames and what it shows.
    LiveAssistant* assistant() const { return assistant_.get(); }
    AssistOverlay* assistOverlay() const { return overlay_; }
    // "Capturar" armed the automatic capture, which has not taken its frame yet.
    bool autoCaptureArmed() const { return autoCapture_.armed(); }

    // How long OK and saving wait for a requested still frame that has not arrived yet.
    static constexpr int kStillFrameWaitMs = 2000;

    void Freeze();
    void ShowCameraControls();
    void HideCameraControls();
    void ArrangeForEye(quint8 mode);
    void FitToScreen();
    void ComPortCTSChange(bool level);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void FormShow();
    void openSerialPort();
    void spbCapturarClick();
    void spbDescongelarClick();
    void spbSalvarImagemClick();
    void spbOKClick();
    void spbCancelarClick();
    void tmrSyncTimer();
    void trBrilhoChange(int position);
    void trContrasteChange(int position);
    void takeOverStillFrame();
    bool awaitStillFrame();
    void saveHeldFrame();
    void cameraFailed(const QString& reason);
    void FormClose();
    void startAssistance();
    void statusAssessed(const LiveStatus& status);
    void disarmAutoCapture();
    // Esc or the close button over a frame the automatic capture took: whether the operator
    // lets it go.
    bool confirmDiscardAutoFrame();
    // The foot switch and the freeze keys: take a frame, or let a frozen one go.
    void takeKey();

    CaptureSettings& settings_;
    quint8 mode_ = 0;
    bool accepted_ = false;
    bool newDefaultsConfirmed_ = false;
    bool shown_ = false;
    bool showing_ = false;
    bool closing_ = false;
    bool syncOverdue_ = false;  // tmrSync fired before the frame had arrived
    bool autoFrozen_ = false;   // the frame requested or shown was taken by the automatic capture
    int ctsCount_ = 0;
    State state_ = State::Live;
    std::unique_ptr<TVGrabber_Tavro> camera_;
    QPointer<TComPort> port_;
    std::unique_ptr<LiveAssistant> assistant_;
    AssistOverlay* overlay_ = nullptr;
    AutoCapture autoCapture_{0};
    QElapsedTimer clock_;

    QFrame* pnlNomeModulo = nullptr;
    QLabel* lblNomeModulo = nullptr;
    QFrame* pnlLogo = nullptr;
    QLabel* imgLogo = nullptr;
    QFrame* pnlCentral = nullptr;
    QFrame* pnlCamCentral = nullptr;
    QLabel* lblCameraCentral = nullptr;
    QLabel* lblOS = nullptr;
    QLabel* lblOD = nullptr;
    QLabel* imgCentral = nullptr;
    QFrame* pnlCamLateral = nullptr;
    QLabel* lblBrilho = nullptr;
    QSlider* trBrilho = nullptr;
    QLabel* lblContraste = nullptr;
    QSlider* trContraste = nullptr;
    QFrame* pnlBtns = nullptr;
    QToolButton* spbCapturar = nullptr;
    QToolButton* spbDescongelar = nullptr;
    QToolButton* spbSalvarImagem = nullptr;
    QToolButton* spbOK = nullptr;
    QToolButton* spbCancelar = nullptr;
    QTimer tmrSync;
};

}  // namespace norvix::captura
