#include "LiveAssist.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cmath>

#include "capture/sim/InstrumentModel.h"

namespace norvix::captura {
namespace {

constexpr size_t kMaxSamples = 3000;
constexpr qint64 kBlinkMs = 1000;                              // rings lost within this of being seen: a blink

qint64 steadyMs() {
    static QElapsedTimer clock;
    static std::once_flag started;
    std::call_once(started, [] { clock.start(); });
    return clock.elapsed();
}

}  // namespace

// ---- focus ---------------------------------------------------------------------------------

void FocusTracker::add(double scaleMm, double contrast) {
    // The eye's curvature, and so the scale at focus, holds for the whole capture.
    if (scaleMm <= 0 || contrast <= 0) return;
    if (samples_.size() >= kMaxSamples) samples_.pop_front();
    samples_.push_back({scaleMm, std::log(contrast)});
    fit();
}

namespace {

// Least squares of y = a + b x + c x^2 over the samples whose x lies in [from, to] (x: the
// scale relative to `ref`, in mm of distance). False with fewer than `least` samples either
// side of `middle`.
bool fitParabola(const std::deque<FocusTracker::Sample>& samples, double ref, double from, double to, double middle,
                 size_t least, double* vertex, double* curvature) {
    double m[3][4] = {};
    size_t below = 0, above = 0;
    for (const FocusTracker::Sample& s : samples) {
        const double x = (s.scale / ref - 1) / FocusTracker::kScalePerMm;
        if (x < from || x > to) continue;
        (x < middle ? below : above) += 1;
        const double row[3] = {1, x, x * x};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) m[i][j] += row[i] * row[j];
            m[i][3] += row[i] * s.logContrast;
        }
    }
    if (below < least || above < least) return false;
    // Gaussian elimination with partial pivoting on the 3 x 3 normal equations.
    for (int c = 0; c < 3; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 3; ++r)
            if (std::fabs(m[r][c]) > std::fabs(m[pivot][c])) pivot = r;
        if (std::fabs(m[pivot][c]) < 1e-12) return false;
        std::swap(m[c], m[pivot]);
        for (int r = 0; r < 3; ++r) {
            if (r == c) continue;
            const double f = m[r][c] / m[c][c];
            for (int k = c; k < 4; ++k) m[r][k] -= f * m[c][k];
        }
    }
    const double b = m[1][3] / m[1][1], c = m[2][3] / m[2][2];
    if (c >= 0) return false;  // no peak
    *vertex = -b / (2 * c);
    *curvature = c;
    return true;
}

}  // namespace

void FocusTracker::fit() {
    // The rings' contrast peaks at focus and falls alike on both sides (its logarithm a parabola
    // in the distance); the frames' noise on it is a small fraction of what half a millimetre
    // of defocus takes. The peak is known once the frames reach well past it on both sides: a
    // first fit over all of them, then one over the frames within kWindowMm of its peak, where
    // the curve is closest to a parabola.
    known_ = false;
    if (samples_.size() < 2 * kLeastSide) return;
    double lo = 1e300, hi = -1e300, ref = 0;
    for (const Sample& s : samples_) {
        lo = std::min(lo, s.scale);
        hi = std::max(hi, s.scale);
        ref += s.scale;
    }
    ref /= double(samples_.size());
    const double loMm = (lo / ref - 1) / kScalePerMm, hiMm = (hi / ref - 1) / kScalePerMm;
    double peak = 0, curvature = 0;
    if (!fitParabola(samples_, ref, loMm, hiMm, (loMm + hiMm) / 2, 1, &peak, &curvature)) return;
    for (int pass = 0; pass < 2; ++pass)
        if (!fitParabola(samples_, ref, peak - kWindowMm, peak + kWindowMm, peak, kLeastSide, &peak, &curvature))
            return;
    // Frames seen well past the peak on both sides, and a curve that falls by what defocus does.
    if (peak - loMm < kBeyondMm || hiMm - peak < kBeyondMm || curvature > -kLeastCurvature) return;
    focusScale_ = ref * (1 + kScalePerMm * (peak - kPeakNearerMm));
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

void LiveAssistant::offer(const QImage& frame) { offerStamped(frame, -1); }

void LiveAssistant::offerStamped(const QImage& frame, qint64 stampUs) {
    if (frame.isNull()) return;
    {
        std::lock_guard<std::mutex> hold(lock_);
        waiting_ = frame;  // shares the pixels; the device hands over a new image per frame
        waitingUs_ = stampUs;
    }
    wake_.notify_one();
}

void LiveAssistant::run() {
    for (;;) {
        QImage frame;
        qint64 frameUs = -1;
        {
            std::unique_lock<std::mutex> hold(lock_);
            wake_.wait(hold, [this] { return stopping_ || !waiting_.isNull(); });
            if (stopping_) return;
            frame = std::move(waiting_);
            waiting_ = QImage();
            frameUs = waitingUs_;
        }
        const sim::FrameAssessment a = assessor_.assess(frame);
        const qint64 at = steadyMs();
        // The tracker and the signal belong to the object's thread; a status still queued when
        // the object goes is dropped with it.
        QMetaObject::invokeMethod(
            this, [this, a, at, frameUs] { deliver(a, at, frameUs); }, Qt::QueuedConnection);
    }
}

LiveStatus LiveJudge::judge(const sim::FrameAssessment& a, qint64 atMs) {
    if (a.rings) {
        ringsSeenAt_ = atMs;
        // The scale is a median over the meridians whose rings were all found: with few of
        // them (the rings washed out far off focus, a lid) it is another mix of meridians,
        // which on an astigmatic eye is another scale.
        if (a.coverage >= sim::FrameAssessor::kFullCoverage) focus_.add(a.ringScaleMm, a.ringContrast);
    }
    LiveStatus s = verdict(a);
    s.blink = !a.rings && ringsSeenAt_ >= 0 && atMs - ringsSeenAt_ <= kBlinkMs;
    return s;
}

LiveStatus LiveJudge::judgeStill(const sim::FrameAssessment& a) const {
    LiveStatus s = verdict(a);
    s.still = true;
    return s;
}

LiveStatus LiveJudge::verdict(const sim::FrameAssessment& a) const {
    LiveStatus s;
    s.frame = a;
    s.distanceKnown = a.rings && focus_.known();
    s.distanceMm = s.distanceKnown ? focus_.distanceMm(a.ringScaleMm) : 0;
    s.inFocus = s.distanceKnown ? std::fabs(s.distanceMm) <= kFocusToleranceMm
                                : a.rings && a.blurMm <= sim::FrameAssessor::kSharpMm;
    // Sharp rings alone leave the eye anywhere within 0.3 mm (an eye) to 0.8 mm (a polished
    // sphere) of focus: only a known distance lets the frame be taken by itself.
    s.good = s.distanceKnown && s.inFocus && a.offsetMm() <= sim::FrameAssessor::kCentredMm &&
             a.coverage >= sim::FrameAssessor::kFullCoverage;
    return s;
}

LiveStatus LiveAssistant::judgeStill(const QImage& frame) const { return judge_.judgeStill(assessor_.assess(frame)); }

void LiveAssistant::deliver(const sim::FrameAssessment& a, qint64 atMs, qint64 frameUs) {
    ++assessed_;
    LiveStatus status = judge_.judge(a, atMs);
    status.frameUs = frameUs;
    emit assessed(status);
}

}  // namespace norvix::captura
