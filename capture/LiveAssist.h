#pragma once
// Live assistance of the capture: each live frame assessed on a worker thread (centring, focus,
// rings in view, blinks), the working distance learnt from the frames seen, and the automatic
// capture that freezes the frame once the eye has been right for a while.
#include <QImage>
#include <QObject>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "capture/sim/FrameAssessment.h"

namespace norvix::captura {

// Working distance taken as in focus: the keratometry moves 0.65 to 0.9 D per mm (more on steep
// corneas), and the learnt focus may itself be a few hundredths of a millimetre off, so within
// this the keratometry stays within 0.05 D.
constexpr double kFocusToleranceMm = 0.035;

// The working distance, from the frames of one capture. A ring pattern grows as the eye comes
// nearer (about 1.6 % per mm, whatever the cornea's curvature), and its contrast falls on either
// side of the focal plane; the contrast alone cannot tell nearer from farther. Once the eye has
// been seen on both sides of focus (the operator brings the instrument in and out, or the eye
// drifts), the ring scale at the contrast's peak is the focus, and every later frame's scale
// gives its distance, sign and size.
class FocusTracker {
public:
    // Relative growth of the ring scale per mm nearer.
    static constexpr double kScalePerMm = 0.016;

    // One frame with its rings in view: their scale and contrast (sim::FrameAssessment).
    void add(double scaleMm, double contrast);
    bool known() const { return known_; }
    // The distance error of a frame of that ring scale (mm; positive: nearer than the focal
    // plane); 0 while unknown.
    double distanceMm(double scaleMm) const;

    struct Sample {
        double scale, logContrast;
    };

private:
    void fit();

    // The peak is fitted over the frames within kWindowMm of it, at least kLeastSide each side;
    // it is known once frames were seen kBeyondMm past it both ways and the contrast falls by
    // at least kLeastCurvature (natural log per mm squared) as defocus makes it.
    static constexpr double kWindowMm = 0.8;
    static constexpr size_t kLeastSide = 4;
    static constexpr double kBeyondMm = 0.5;
    static constexpr double kLeastCurvature = 0.1;
    // The contrast peaks this much nearer than the focus: nearer, the rings' period is wider,
    // and the same blur takes less of their contrast (measured over spheres of 6.5 to 9.5 mm,
    // torics and aspherics alike).
    static constexpr double kPeakNearerMm = 0.027;

    std::deque<Sample> samples_;
    double focusScale_ = 0;
    bool known_ = false;
};

struct LiveStatus {
    sim::FrameAssessment frame;
    bool blink = false;  // the rings were seen a moment ago and are gone
    bool distanceKnown = false;
    double distanceMm = 0;  // positive: the eye is too near ("Afaste")
    bool inFocus = false;
    bool good = false;  // centred, in focus, the rings in view
    bool still = false;  // a frame taken: nothing to move for any more
    qint64 frameUs = -1;  // the judged frame's device stamp (µs) when it was offered with one
};

// What the assistance makes of each assessed frame in turn: a blink, the working distance learnt
// so far and whether the frame is good to take. The live worker and the accuracy bench share it;
// the frame taken is judged by the same rules, so the picture frozen because it was right is
// shown as right.
class LiveJudge {
public:
    LiveStatus judge(const sim::FrameAssessment& a, qint64 atMs);
    // A frame taken: judged by what the live frames taught, teaching nothing itself.
    LiveStatus judgeStill(const sim::FrameAssessment& a) const;

private:
    // Distance, focus and whether the frame is good, from the focus learnt so far.
    LiveStatus verdict(const sim::FrameAssessment& a) const;

    FocusTracker focus_;
    qint64 ringsSeenAt_ = -1;
};

// The automatic capture: armed by "Capturar", it asks for the frame once the status has been
// good for the delay, and gives up after the limit without a good moment.
class AutoCapture {
public:
    enum class Step { Wait, Freeze, GiveUp };
    static constexpr int kLimitMs = 10000;

    explicit AutoCapture(int delayMs) : delayMs_(delayMs < 0 ? 0 : delayMs) {}
    void arm(qint64 nowMs);
    void disarm() { armed_ = false; }
    bool armed() const { return armed_; }
    int delayMs() const { return delayMs_; }
    // One assessed frame; Freeze and GiveUp disarm.
    Step feed(bool good, qint64 nowMs);

private:
    int delayMs_;
    bool armed_ = false;
    qint64 armedAt_ = 0;
    qint64 goodSince_ = -1;
};

// Assesses live frames on a worker thread, one at a time: a frame offered while another is
// being assessed replaces any waiting one, so the assistance never falls behind the picture.
// Statuses arrive through `assessed` on the thread that made the object.
class LiveAssistant : public QObject {
    Q_OBJECT
public:
    explicit LiveAssistant(int coneType = 4, QObject* parent = nullptr);
    ~LiveAssistant() override;  // waits for the frame being assessed

    void offer(const QImage& frame);
    // The frame taken (frozen), judged at once on the calling thread, the object's own.
    LiveStatus judgeStill(const QImage& frame) const;
    // The same for a frame whose device stamp the status is to carry back.
    void offerStamped(const QImage& frame, qint64 stampUs);
    int framesAssessed() const { return assessed_; }

signals:
    void assessed(const norvix::captura::LiveStatus& status);

private:
    void run();
    void deliver(const sim::FrameAssessment& a, qint64 atMs, qint64 frameUs);

    sim::FrameAssessor assessor_;
    LiveJudge judge_;
    int assessed_ = 0;

    std::mutex lock_;
    std::condition_variable wake_;
    QImage waiting_;
    qint64 waitingUs_ = -1;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace norvix::captura
