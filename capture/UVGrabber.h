#pragma once
// The camera wrapper: one device with a fixed standard and frame size inside a panel, its
// brightness, contrast and saturation kept within the device's ranges, and one still frame
// held at a time.
#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>

#include "TVideoGrabber.h"

class QWidget;

namespace norvix::captura {

// Ordered search in a copy of list sorted without regard to case: the position of text, or
// the position where it would be inserted.
int orderedSearchPosition(const QStringList& list, const QString& text);

// x to the nearest whole number, halves to the even neighbour.
long long roundHalfEven(double x);

class TVGrabber : public QObject {
    Q_OBJECT
public:
    TVGrabber(QWidget* parent, quint16 width, quint16 height, quint16 top, quint16 left, quint8 device,
              int zoom, const QString& standard);
    ~TVGrabber() override;

    virtual void DrawOverlay() = 0;

    bool StartPreview();
    void ReadRanges();

    void SetBrilho(double value);
    void SetContraste(double value);
    void SetSaturacao(double value);
    // The device's current value, signed: boards commonly centre brightness on 0 (-64..64).
    int GetBrilho() const;
    int GetContraste() const;

    int BrilhoMax() const { return brilhoMax_; }
    int BrilhoMin() const { return brilhoMin_; }
    int BrilhoStep() const { return brilhoStep_; }
    int ContrasteMax() const { return contrasteMax_; }
    int ContrasteMin() const { return contrasteMin_; }
    int ContrasteStep() const { return contrasteStep_; }
    int SaturacaoMax() const { return saturacaoMax_; }
    int SaturacaoMin() const { return saturacaoMin_; }

    void CaptureFrame();
    void FrameCaptured(const QImage& frame, FrameDestination destination, const QString& fileName, bool success);
    const QImage& GetFrame() const { return frame_; }
    bool HasFrame() const { return !frame_.isNull(); }
    void ReleaseFrame() { frame_ = QImage(); }
    void ShowVideo();
    void HideVideo();
    bool IsRunning() const { return running_; }

    TVideoGrabber* video() const { return video_; }
    // Why the live picture is not running (device missing, start failed, device lost).
    QString failure() const { return failure_; }

signals:
    void frameCaptured();            // a still frame is now held
    void cameraFailed(const QString& reason);  // the live picture stopped during the call

protected:
    TVideoGrabber* video_ = nullptr;  // owned by the parent panel
    QWidget* parent_;
    quint16 width_, height_, top_, left_;
    quint8 device_;

private:
    void setChecked(int property, double value, int min, int max, const QString& what, const QString& target,
                    bool fallbackIsHalf);

    QImage frame_;
    bool running_ = false;
    QString failure_;
    int brilhoMax_ = 0, brilhoMin_ = 0, brilhoStep_ = 0;
    int contrasteMax_ = 0, contrasteMin_ = 0, contrasteStep_ = 0;
    int saturacaoMax_ = 0, saturacaoMin_ = 0, saturacaoStep_ = 0;
};

}  // namespace norvix::captura
