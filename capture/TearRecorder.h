#pragma once
// The tear-film recording behind its window: which live frames go into the recording (from
// the end of a blink, or the operator's start, to the time limit, the next blink or the
// operator's stop), and the writing of those frames on a worker thread, so that encoding never
// holds up the live picture.
#include <QImage>
#include <QString>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "LiveAssist.h"

namespace norvix::lagrima {
class RecordingWriter;
}

namespace norvix::captura {

struct StampedFrame {
    QImage image;
    qint64 us = 0;  // the device's stamp
};

// Frames and the live judgement of some of them (LiveStatus::frameUs) in, the frames of the
// recording out, in order. A frame waits until a status at or after it is in, so that a
// recording stopped by a blink ends with the first frame whose rings had vanished.
class TearClip {
public:
    enum class Phase { Waiting, Recording, Ended };
    enum class End { None, Time, Blink, Operator };

    // Rings lost within this of being seen are a blink (the live judgement's measure).
    static constexpr qint64 kBlinkUs = 1000000;
    // Frames kept before the start, so that the lids' opening is in the recording.
    static constexpr qint64 kPreRollUs = 500000;
    // Frames held for a judgement that is late (the worker fell behind) go on unjudged.
    static constexpr size_t kMostHeld = 15;

    explicit TearClip(qint64 maxUs) : maxUs_(maxUs) {}

    std::vector<StampedFrame> frame(const QImage& image, qint64 us);
    std::vector<StampedFrame> status(const LiveStatus& s);
    // The operator: start with the next frame; stop now.
    void start();
    std::vector<StampedFrame> stop();

    Phase phase() const { return phase_; }
    End end() const { return end_; }
    qint64 startUs() const { return startUs_; }
    // The newest frame's time since the start (the running clock).
    qint64 elapsedUs() const { return phase_ == Phase::Waiting ? 0 : newestUs_ - startUs_; }

private:
    void begin(qint64 afterUs);
    std::vector<StampedFrame> release(qint64 upToUs);
    std::vector<StampedFrame> finish(End why, qint64 upToUs);

    qint64 maxUs_;
    Phase phase_ = Phase::Waiting;
    End end_ = End::None;
    std::deque<StampedFrame> held_;
    bool startAsked_ = false;
    bool armed_ = false;          // the rings vanished a moment after being seen: a blink
    qint64 lastRingsUs_ = -1;
    qint64 closedUs_ = -1;        // the last frame judged without rings
    bool ringsInRecording_ = false;
    qint64 startUs_ = 0, newestUs_ = 0;
};

// Writes a recording's frames on a worker thread through a bounded queue. A frame that finds
// the queue full is dropped and counted (the camera outran the disk); nothing is at the path
// until finish succeeds.
class RecordingQueue {
public:
    // 2 s of frames at 30 a second, kept grey (300 kB each at 640 x 480).
    static constexpr size_t kCapacity = 60;

    RecordingQueue();
    ~RecordingQueue();  // an unfinished recording is discarded
    RecordingQueue(const RecordingQueue&) = delete;
    RecordingQueue& operator=(const RecordingQueue&) = delete;

    bool open(const QString& path, int width, int height, double fps, QString* error);
    bool isOpen() const { return open_; }
    // ms: since the recording started, never decreasing.
    void push(const QImage& frame, qint64 ms);
    // Waits until every queued frame is written, then closes the file into place.
    bool finish(QString* error);
    // Why writing stopped; empty while it goes well.
    QString failure() const;
    int written() const;
    int dropped() const;

private:
    void run();

    std::unique_ptr<lagrima::RecordingWriter> writer_;
    bool open_ = false;
    mutable std::mutex lock_;
    std::condition_variable wake_, idle_;
    std::deque<std::pair<QImage, qint64>> queue_;
    bool busy_ = false, stopping_ = false;
    int written_ = 0, dropped_ = 0;
    QString failure_;
    std::thread worker_;
};

}  // namespace norvix::captura
