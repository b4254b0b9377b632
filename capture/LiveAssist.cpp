#include "LiveAssist.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cmath>

#include "capture/sim/InstrumentModel.h"

namespace norvix::captura {
namespace {

constexpr size_t kMaxSamples = 3000;
constexpr double kClearBlurMm = sim::FrameAssessor::kSharpMm;  // blur that is surely not noise
// Beyond about a tenth of the ring period the third harmonic sinks into the noise and the blur
// reads low; the period grows with the ring scale (a flat cornea spreads its rings).
constexpr double kReliableBlurPerScale = 0.0069;
double reliableBlurMm(double scaleMm) { return kReliableBlurPerScale * scaleMm; }
constexpr qint64 kBlinkMs = 1000;                              // rings lost within this of being seen: a blink

qint64 steadyMs() {
    static QElapsedTimer clock;
    static std::once_flag started;
    std::call_once(started, [] { clock.start(); });
    return clock.elapsed();
}

}  // namespace

// ---- focus ---------------------------------------------------------------------------------

void FocusTracker::add(double scaleMm, double blurMm) {
    // Only clearly blurred frames tell where the focus is; the eye's curvature, and so the
    // scale at focus, holds for the whole capture.
    if (scaleMm <= 0 || blurMm < kClearBlurMm || blurMm > reliableBlurMm(scaleMm)) return;
    if (samples_.size() >= kMaxSamples) samples_.pop_front();
    samples_.push_back({scaleMm, blurMm});
    fit();
}

// Where the ring scale meets the blur level on one arm of the blur curve: a straight line
// through the arm's samples. False without enough samples, or on a line of the wrong slope.
static bool armCrossing(const std::vector<std::pair<double, double>>& arm, bool rising, double level, double* at) {
    if (arm.size() < 3) return false;
    double ms = 0, mb = 0;
    for (const auto& [scale, blur] : arm) {
        ms += scale;
        mb += blur;
    }
    ms /= double(arm.size());
    mb /= double(arm.size());
    double sxy = 0, sxx = 0;
    for (const auto& [scale, blur] : arm) {
        sxy += (scale - ms) * (blur - mb);
        sxx += (scale - ms) * (scale - ms);
    }
    if (sxx <= 0) return false;
    const double slope = sxy / sxx;
    if (rising ? slope <= 0 : slope >= 0) return false;
    *at = ms + (level - mb) / slope;
    return true;
}

void FocusTracker::fit() {
    // The blur grows on both sides of the focal plane alike, and is measurable only some way
    // off it: the focus is halfway between the scales at which the two arms reach one level.
    // The arms are told apart by the widest gap between the clearly blurred frames' scales.
    std::vector<std::pair<double, double>> clear;
    for (const Sample& s : samples_) clear.push_back({s.scale, s.blur});
    known_ = false;
    if (clear.size() < 6) return;
    std::sort(clear.begin(), clear.end());
    size_t split = 0;
    double gap = 0;
    for (size_t i = 1; i < clear.size(); ++i)
        if (clear[i].first - clear[i - 1].first > gap) {
            gap = clear[i].first - clear[i - 1].first;
            split = i;
        }
    // The arms start some 0.4 mm either side of focus: a gap much narrower is within one arm.
    if (gap < kScalePerMm * clear[split].first * 0.5) return;
    const std::vector<std::pair<double, double>> farther(clear.begin(), clear.begin() + std::ptrdiff_t(split));
    const std::vector<std::pair<double, double>> nearer(clear.begin() + std::ptrdiff_t(split), clear.end());
    // Halfway up the arms' reliable part. (On a steep cornea the far arm climbs more slowly,
    // which leaves the focus a few hundredths of a millimetre too far; lower down the arms are
    // too noisy to do better.)
    const double level = (kClearBlurMm + reliableBlurMm((clear[split - 1].first + clear[split].first) / 2)) / 2;
    double left = 0, right = 0;
    if (!armCrossing(farther, false, level, &left) || !armCrossing(nearer, true, level, &right) || right <= left)
        return;
    focusScale_ = (left + right) / 2;
    known_ = true;
}

double FocusTracker::distanceMm(double scaleMm) const {
    if (!known_ || focusScale_ <= 0) return 0;
    return (scaleMm / focusScale_ - 1) / kScalePerMm;
}

// ---- automatic capture -----------------------------------------------------------------------

void AutoCapture::arm(qint64 nowMs) {
    armed_ = true;
    armedAt_ = nowMs;
    goodSince_ = -1;
}

AutoCapture::Step AutoCapture::feed(bool good, qint64 nowMs) {
    if (!armed_) return Step::Wait;
    if (!good) {
        goodSince_ = -1;
    } else {
        if (goodSince_ < 0) goodSince_ = nowMs;
        if (nowMs - goodSince_ >= delayMs_) {
            armed_ = false;
            return Step::Freeze;
        }
    }
    if (nowMs - armedAt_ >= kLimitMs) {
        armed_ = false;
        return Step::GiveUp;
    }
    return Step::Wait;
}

// ---- the worker ------------------------------------------------------------------------------

LiveAssistant::LiveAssistant(int coneType, QObject* parent)
    : QObject(parent), assessor_(coneType), worker_([this] { run(); }) {}

LiveAssistant::~LiveAssistant() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void LiveAssistant::offer(const QImage& frame) {
    if (frame.isNull()) return;
    {
        std::lock_guard<std::mutex> hold(lock_);
        waiting_ = frame;  // shares the pixels; the device hands over a new image per frame
    }
    wake_.notify_one();
}

void LiveAssistant::run() {
    for (;;) {
        QImage frame;
        {
            std::unique_lock<std::mutex> hold(lock_);
            wake_.wait(hold, [this] { return stopping_ || !waiting_.isNull(); });
            if (stopping_) return;
            frame = std::move(waiting_);
            waiting_ = QImage();
        }
        const sim::FrameAssessment a = assessor_.assess(frame);
        const qint64 at = steadyMs();
        // The tracker and the signal belong to the object's thread; a status still queued when
        // the object goes is dropped with it.
        QMetaObject::invokeMethod(
            this, [this, a, at] { deliver(a, at); }, Qt::QueuedConnection);
    }
}

LiveStatus LiveJudge::judge(const sim::FrameAssessment& a, qint64 atMs) {
    LiveStatus s;
    s.frame = a;
    if (a.rings) {
        ringsSeenAt_ = atMs;
        // The scale is a median over the meridians whose rings were all found: with few of
        // them (the rings washed out far off focus, a lid) it is another mix of meridians,
        // which on an astigmatic eye is another scale.
        if (a.coverage >= sim::FrameAssessor::kFullCoverage) focus_.add(a.ringScaleMm, a.blurMm);
    }
    s.blink = !a.rings && ringsSeenAt_ >= 0 && atMs - ringsSeenAt_ <= kBlinkMs;
    s.distanceKnown = a.rings && focus_.known();
    s.distanceMm = s.distanceKnown ? focus_.distanceMm(a.ringScaleMm) : 0;
    s.inFocus = s.distanceKnown ? std::fabs(s.distanceMm) <= kFocusToleranceMm
                                : a.rings && a.blurMm <= sim::FrameAssessor::kSharpMm;
    // Sharp rings alone leave the eye anywhere within 0.4 mm of focus (0.3 D): only a known
    // distance lets the frame be taken by itself.
    s.good = s.distanceKnown && s.inFocus && a.offsetMm() <= sim::FrameAssessor::kCentredMm &&
             a.coverage >= sim::FrameAssessor::kFullCoverage;
    return s;
}

void LiveAssistant::deliver(const sim::FrameAssessment& a, qint64 atMs) {
    ++assessed_;
    emit assessed(judge_.judge(a, atMs));
}

}  // namespace norvix::captura
