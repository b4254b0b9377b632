#include "SimulatedCamera.h"

#include <algorithm>
#include <chrono>

namespace norvix::captura {
namespace {

constexpr int kStandardNtscM = 0;
constexpr int kStandardPalM = 7;

const ControlRange kBrilhoRange{0, 255, 1};
const ControlRange kContrasteRange{0, 127, 1};
const ControlRange kSaturacaoRange{0, 127, 1};

}  // namespace

QString SimulatedCamera::deviceName() { return QStringLiteral("Instrumento simulado"); }

SimulatedCamera::SimulatedCamera() : SimulatedCamera(sim::targetFromEnvironment()) {}

SimulatedCamera::SimulatedCamera(const sim::Target& target) : target_(target) {}

SimulatedCamera::~SimulatedCamera() { stop(); }

QList<int> SimulatedCamera::supportedStandards() const { return {kStandardNtscM, kStandardPalM}; }

void SimulatedCamera::selectStandard(int standardIndex) {
    if (standardIndex == kStandardNtscM || standardIndex == kStandardPalM) standard_ = standardIndex;
}

QList<QSize> SimulatedCamera::frameSizes() const { return {QSize(320, 240), QSize(640, 480), QSize(720, 480)}; }

void SimulatedCamera::selectFrameSize(QSize size) {
    size_ = frameSizes().contains(size) ? size : QSize(640, 480);
}

std::optional<ControlRange> SimulatedCamera::controlRange(int property) const {
    switch (property) {
    case PropBrilho: return kBrilhoRange;
    case PropContraste: return kContrasteRange;
    case PropSaturacao: return kSaturacaoRange;
    default: return std::nullopt;
    }
}

std::optional<int> SimulatedCamera::controlValue(int property) const {
    switch (property) {
    case PropBrilho: return brilho_.load();
    case PropContraste: return contraste_.load();
    case PropSaturacao: return saturacao_.load();
    default: return std::nullopt;
    }
}

bool SimulatedCamera::setControlValue(int property, int value) {
    const auto range = controlRange(property);
    if (!range) return false;
    value = std::clamp(value, range->minimum, range->maximum);
    if (property == PropBrilho) brilho_ = value;
    else if (property == PropContraste) contraste_ = value;
    else saturacao_ = value;
    return true;
}

void SimulatedCamera::renderFrame(quint32 frameNumber, QImage* out) {
    if (!renderer_) {
        renderer_ = std::make_unique<sim::Renderer>(4, size_.width(), size_.height());
        renderer_->setCancelFlag(&cancelRender_);
        renderer_->setFrameRate(kFramesPerSecond);
    }
    renderer_->liveFrame(target_, frameNumber, &raw_);
    if (raw_.isNull()) {
        *out = QImage();
        return;
    }

    // The board's amplifier: brightness shifts, contrast scales around mid-grey (64 = 1x),
    // saturation blends with the grey level (64 = unchanged, 0 = grey).
    const int b = brilho_ - 128, c = contraste_, s = saturacao_;
    std::array<quint8, 256> lut;
    for (int v = 0; v < 256; ++v) lut[v] = quint8(std::clamp((v - 128) * c / 64 + 128 + b, 0, 255));

    if (out->size() != raw_.size() || out->format() != QImage::Format_RGB32)
        *out = QImage(raw_.size(), QImage::Format_RGB32);
    const int w = raw_.width(), h = raw_.height();
    for (int y = 0; y < h; ++y) {
        const auto* src = reinterpret_cast<const quint32*>(raw_.constScanLine(y));
        auto* dst = reinterpret_cast<quint32*>(out->scanLine(y));
        for (int x = 0; x < w; ++x) {
            const quint32 p = src[x];
            int r = (p >> 16) & 0xff, g = (p >> 8) & 0xff, bl = p & 0xff;
            if (s != 64) {
                const int grey = (r * 77 + g * 150 + bl * 29) >> 8;
                r = std::clamp(grey + (r - grey) * s / 64, 0, 255);
                g = std::clamp(grey + (g - grey) * s / 64, 0, 255);
                bl = std::clamp(grey + (bl - grey) * s / 64, 0, 255);
            }
            dst[x] = 0xff000000u | (quint32(lut[r]) << 16) | (quint32(lut[g]) << 8) | lut[bl];
        }
    }
}

bool SimulatedCamera::start(QString*) {
    if (worker_.joinable()) return true;
    {
        std::lock_guard lock(wakeLock_);
        stopping_ = false;
    }
    cancelRender_ = false;
    worker_ = std::thread([this] { run(); });
    return true;
}

void SimulatedCamera::run() {
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::microseconds(1000000 / kFramesPerSecond);
    auto next = Clock::now();
    quint32 n = 0;
    while (true) {
        QImage frame;
        renderFrame(n, &frame);
        if (!frame.isNull()) deliver(std::move(frame), qint64(n) * 1000000 / kFramesPerSecond);
        ++n;
        next += period;
        if (next < Clock::now()) next = Clock::now();  // fell behind: do not burst
        std::unique_lock lock(wakeLock_);
        if (wake_.wait_until(lock, next, [this] { return stopping_; })) return;
    }
}

void SimulatedCamera::stop() {
    {
        std::lock_guard lock(wakeLock_);
        stopping_ = true;
    }
    cancelRender_ = true;
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
}

}  // namespace norvix::captura
