#pragma once
// The simulated instrument as the last capture device: the Placido rings reflected by the
// target of NORVIX_SIM_TARGET (read when the device opens, so each capture window sees the
// current target), 640 x 480 at about 30 frames a second, with board-like brightness,
// contrast and saturation controls that really change the picture. A moving target moves with
// the frame number: frame n shows sim::motionAt(target, n, kFramesPerSecond) and is stamped
// n / kFramesPerSecond s, the simulated eye's own time, even when rendering falls behind.
#include <QSize>
#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "VideoDevice.h"
#include "capture/sim/SimulatedEye.h"

namespace norvix::captura {

class SimulatedCamera : public VideoDevice {
    Q_OBJECT
public:
    static QString deviceName();
    static constexpr int kFramesPerSecond = 30;

    SimulatedCamera();
    explicit SimulatedCamera(const sim::Target& target);
    ~SimulatedCamera() override;

    QList<int> supportedStandards() const override;
    void selectStandard(int standardIndex) override;
    QList<QSize> frameSizes() const override;
    void selectFrameSize(QSize size) override;
    bool start(QString* error) override;
    void stop() override;
    std::optional<ControlRange> controlRange(int property) const override;
    std::optional<int> controlValue(int property) const override;
    bool setControlValue(int property, int value) override;
    double framesPerSecond() const override { return kFramesPerSecond; }

    int selectedStandard() const { return standard_; }
    QSize frameSize() const { return size_; }

    // One frame as the device delivers it (noise, then the controls); the worker's step.
    void renderFrame(quint32 frameNumber, QImage* out);

    const sim::Target& target() const { return target_; }
    // What the eye really did in frame `frameNumber` (the delivered frames count from 0 at start).
    sim::MotionState truth(quint32 frameNumber) const { return sim::motionAt(target_, frameNumber, kFramesPerSecond); }

private:
    void run();

    sim::Target target_;
    int standard_ = 0;
    QSize size_{640, 480};
    std::unique_ptr<sim::Renderer> renderer_;
    QImage raw_;
    std::atomic<int> brilho_{128}, contraste_{64}, saturacao_{64};
    std::thread worker_;
    std::mutex wakeLock_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::atomic<bool> cancelRender_{false};  // set by stop: a frame being traced is given up
};

}  // namespace norvix::captura
