#pragma once
// A tear-film recording: the rings' video after a blink, as the capture stores it. One file of
// grey JPEG frames, each with its time, and an index at its end, so that a reader reaches any
// frame without decoding the ones before it and a 30 s recording stays a few tens of MB.
#include <QImage>
#include <QString>
#include <QtGlobal>
#include <memory>

namespace norvix::lagrima {

struct RecordingInfo {
    int width = 0, height = 0;
    double fps = 0;      // the camera's nominal rate
    int frames = 0;
};

class RecordingWriter {
public:
    RecordingWriter();
    ~RecordingWriter();  // an unfinished recording is discarded: nothing appears at its path
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    // Nothing is at path until finish succeeds (written aside, then renamed).
    bool open(const QString& path, int width, int height, double fps, QString* error);
    // Any format of the given size; kept as 8-bit grey. ms: time since the recording started,
    // never decreasing.
    bool append(const QImage& frame, qint64 ms, QString* error);
    bool finish(QString* error);
    int frames() const;

private:
    struct State;
    std::unique_ptr<State> d_;
};

class RecordingReader {
public:
    RecordingReader();
    ~RecordingReader();
    RecordingReader(const RecordingReader&) = delete;
    RecordingReader& operator=(const RecordingReader&) = delete;

    // Fails with a Portuguese message on a missing, truncated or foreign file.
    bool open(const QString& path, QString* error);
    RecordingInfo info() const;
    // Frame i (0 <= i < info().frames) as QImage::Format_Grayscale8, and its time in ms.
    bool frame(int i, QImage* grey, qint64* ms, QString* error) const;

private:
    struct State;
    std::unique_ptr<State> d_;
};

}  // namespace norvix::lagrima
