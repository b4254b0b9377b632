#pragma once
// The tear-film recording window: the live picture, the recording started by the end of a
// blink (or "Iniciar") and stopped by the time limit, the next blink or "Parar", a running
// clock while it records, and the operator's choice of keeping it or recording again.
#include <QDialog>
#include <memory>

#include "CaptureSettings.h"
#include "TearRecorder.h"

class QFrame;
class QLabel;
class QPushButton;

namespace norvix::captura {

class TVGrabber_Tavro;

class TfrmGravarLagrima : public QDialog {
    Q_OBJECT
public:
    enum class State { Waiting, Recording, Done };
    // Shortest recording offered for use: the analysis needs a few seconds after the blink.
    static constexpr qint64 kShortestMs = 3000;

    // eye: 0 left, 1 right. Nothing is written at path unless the operator keeps a recording.
    TfrmGravarLagrima(QWidget* owner, const CaptureSettings& settings, const QString& path, int maxSeconds, int eye);
    ~TfrmGravarLagrima() override;  // releases the camera; an unkept recording is discarded

    // Opens the camera and starts the live picture; false with why in failure().
    bool startCamera();
    QString failure() const { return failure_; }
    // The recording is at the path.
    bool kept() const { return kept_; }
    // Writing failed or the camera stopped (the operator has been told).
    bool failed() const { return failed_; }

    State state() const { return state_; }
    TearClip::End endedBy() const { return clip_ ? clip_->end() : TearClip::End::None; }
    // Frames in the recording, and those the camera gave that it lacks (the live picture or
    // the disk fell behind).
    int framesRecorded() const;
    int framesLost() const;
    qint64 recordedMs() const;
    // The device stamps of the recording's first and last frames; -1 before any.
    qint64 firstFrameUs() const { return firstUs_; }
    qint64 lastFrameUs() const { return lastUs_; }
    QString summary() const;
    int statusesSeen() const { return statuses_; }
    int framesSeen() const { return framesSeen_; }
    TVGrabber_Tavro* camera() const { return camera_.get(); }

    // "00:07,3"
    static QString clockText(qint64 ms);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void done(int result) override;
    // A finished recording the operator could keep is not thrown away by Esc, Cancelar or the
    // close button without asking.
    void reject() override;

private:
    void buildControls();
    void newTake();
    void onFrame(const QImage& frame, qint64 stampUs);
    void onStatus(const LiveStatus& status);
    void write(std::vector<StampedFrame> frames);
    void afterClip();
    void showState();
    void iniciar();
    void parar();
    void usar();
    void fail(const QString& text);

    const CaptureSettings& settings_;
    QString path_;
    qint64 maxUs_;
    int eye_;
    QString failure_;
    bool kept_ = false, failed_ = false, closing_ = false;
    State state_ = State::Waiting;
    std::unique_ptr<TVGrabber_Tavro> camera_;
    std::unique_ptr<LiveAssistant> assistant_;
    std::unique_ptr<TearClip> clip_;
    std::unique_ptr<RecordingQueue> queue_;
    double fps_ = 0;
    qint64 firstUs_ = -1, lastUs_ = -1;
    int frames_ = 0, gaps_ = 0, statuses_ = 0, framesSeen_ = 0;

    QLabel* lblTitulo = nullptr;
    QLabel* lblInstrucao = nullptr;
    QFrame* pnlVideo = nullptr;
    QLabel* lblRelogio = nullptr;
    QLabel* lblSituacao = nullptr;
    QPushButton* btnIniciar = nullptr;
    QPushButton* btnParar = nullptr;
    QPushButton* btnUsar = nullptr;
    QPushButton* btnRegravar = nullptr;
    QPushButton* btnCancelar = nullptr;
};

}  // namespace norvix::captura
