#include "TearRecorder.h"

#include <limits>

#include "tearfilm/TearRecording.h"

namespace norvix::captura {

namespace {
constexpr qint64 kAll = std::numeric_limits<qint64>::max();
}

// ---- which frames ----------------------------------------------------------------------------

std::vector<StampedFrame> TearClip::frame(const QImage& image, qint64 us) {
    if (phase_ == Phase::Ended || image.isNull()) return {};
    newestUs_ = us;
    if (phase_ == Phase::Waiting) {
        if (startAsked_) {
            startAsked_ = false;
            held_.clear();
            held_.push_back({image, us});
            phase_ = Phase::Recording;
            startUs_ = us;
            ringsInRecording_ = false;
            return {};
        }
        held_.push_back({image, us});
        while (held_.front().us < us - kPreRollUs) held_.pop_front();
        return {};
    }
    if (us - startUs_ >= maxUs_) return finish(End::Time, kAll);
    held_.push_back({image, us});
    std::vector<StampedFrame> out;
    while (held_.size() > kMostHeld) {
        out.push_back(std::move(held_.front()));
        held_.pop_front();
    }
    return out;
}

std::vector<StampedFrame> TearClip::status(const LiveStatus& s) {
    if (s.frameUs < 0 || phase_ == Phase::Ended) return {};
    if (phase_ == Phase::Waiting) {
        // The picture's first moment counts as the eye seen: a blink under way when the window
        // opens ends in a recording too.
        if (lastRingsUs_ < 0) lastRingsUs_ = s.frameUs;
        if (!s.frame.rings) {
            armed_ = s.frameUs - lastRingsUs_ <= kBlinkUs;
            closedUs_ = s.frameUs;
            return {};
        }
        lastRingsUs_ = s.frameUs;
        if (!armed_ || startAsked_) return {};
        begin(closedUs_);
    }
    if (s.frameUs < startUs_) return {};
    if (s.frame.rings) {
        ringsInRecording_ = true;
        return release(s.frameUs);
    }
    // Lids closing: the recording ends with the first frame they hide the rings in.
    if (ringsInRecording_) return finish(End::Blink, s.frameUs);
    return release(s.frameUs);
}

void TearClip::begin(qint64 afterUs) {
    // The frames since the last one judged closed show the lids opening.
    while (!held_.empty() && held_.front().us <= afterUs) held_.pop_front();
    phase_ = Phase::Recording;
    startUs_ = held_.empty() ? newestUs_ : held_.front().us;
    ringsInRecording_ = true;
    armed_ = false;
}

void TearClip::start() {
    if (phase_ == Phase::Waiting) startAsked_ = true;
}

std::vector<StampedFrame> TearClip::stop() {
    if (phase_ != Phase::Recording) return {};
    return finish(End::Operator, kAll);
}

std::vector<StampedFrame> TearClip::release(qint64 upToUs) {
    std::vector<StampedFrame> out;
    while (!held_.empty() && held_.front().us <= upToUs) {
        out.push_back(std::move(held_.front()));
        held_.pop_front();
    }
    return out;
}

std::vector<StampedFrame> TearClip::finish(End why, qint64 upToUs) {
    std::vector<StampedFrame> out = release(upToUs);
    held_.clear();
    phase_ = Phase::Ended;
    end_ = why;
    return out;
}

// ---- writing ---------------------------------------------------------------------------------

RecordingQueue::RecordingQueue() : writer_(std::make_unique<lagrima::RecordingWriter>()) {}

RecordingQueue::~RecordingQueue() {
    {
        std::lock_guard hold(lock_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
    writer_.reset();  // unfinished: its file is discarded
}

bool RecordingQueue::open(const QString& path, int width, int height, double fps, QString* error) {
    if (open_) return true;
    if (!writer_->open(path, width, height, fps, error)) return false;
    open_ = true;
    worker_ = std::thread([this] { run(); });
    return true;
}

void RecordingQueue::push(const QImage& frame, qint64 ms) {
    // Grey before queueing, as the file keeps it: a quarter of the memory of a colour frame.
    QImage grey = frame.format() == QImage::Format_Grayscale8 ? frame : frame.convertToFormat(QImage::Format_Grayscale8);
    {
        std::lock_guard hold(lock_);
        if (!open_ || !failure_.isEmpty()) return;
        if (queue_.size() >= kCapacity) {
            ++dropped_;
            return;
        }
        queue_.emplace_back(std::move(grey), ms);
    }
    wake_.notify_one();
}

void RecordingQueue::run() {
    for (;;) {
        std::pair<QImage, qint64> next;
        {
            std::unique_lock hold(lock_);
            busy_ = false;
            idle_.notify_all();
            wake_.wait(hold, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            next = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
        }
        QString error;
        const bool ok = writer_->append(next.first, next.second, &error);
        std::lock_guard hold(lock_);
        if (ok) {
            ++written_;
        } else {
            failure_ = error;
            queue_.clear();
        }
    }
}

bool RecordingQueue::finish(QString* error) {
    if (!open_) {
        if (error) *error = QStringLiteral("Nenhum quadro foi gravado.");
        return false;
    }
    {
        std::unique_lock hold(lock_);
        idle_.wait(hold, [this] { return queue_.empty() && !busy_; });
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
    if (!failure_.isEmpty()) {
        if (error) *error = failure_;
        return false;
    }
    return writer_->finish(error);
}

QString RecordingQueue::failure() const {
    std::lock_guard hold(lock_);
    return failure_;
}

int RecordingQueue::written() const {
    std::lock_guard hold(lock_);
    return written_;
}

int RecordingQueue::dropped() const {
    std::lock_guard hold(lock_);
    return dropped_;
}

}  // namespace norvix::captura
