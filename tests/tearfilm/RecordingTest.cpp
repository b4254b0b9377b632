// The tear-film recording file: frames and times come back, a damaged or foreign file is refused
// with a reason, and an abandoned recording leaves nothing behind.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>

#include "tearfilm/TearRecording.h"

using namespace norvix::lagrima;

namespace {

// Rings with a frame-dependent phase: JPEG-friendly, and each frame tells itself apart.
QImage rings(int w, int h, int n) {
    QImage img(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y) {
        uchar* row = img.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const double r = std::hypot(x - w / 2.0, y - h / 2.0);
            row[x] = uchar(128 + 100 * std::sin(r / 4.0 + n));
        }
    }
    return img;
}

double meanDifference(const QImage& a, const QImage& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) sum += std::abs(a.constScanLine(y)[x] - b.constScanLine(y)[x]);
    return sum / (a.width() * a.height());
}

bool write(const QString& path, int w, int h, const std::vector<qint64>& times) {
    RecordingWriter writer;
    QString error;
    if (!writer.open(path, w, h, 30, &error)) return false;
    for (size_t i = 0; i < times.size(); ++i)
        if (!writer.append(rings(w, h, int(i)), times[i], &error)) return false;
    return writer.finish(&error);
}

}  // namespace

TEST(TearRecording, RoundTripKeepsFramesTimesAndSizes) {
    QTemporaryDir dir;
    struct Case { int w, h; std::vector<qint64> times; };
    const Case cases[] = {{640, 480, {0, 33, 67, 100}}, {97, 31, {0, 0, 5000}}, {16, 16, {}}, {320, 240, {12}}};
    for (const Case& c : cases) {
        const QString path = dir.filePath(QStringLiteral("r%1.lag").arg(c.w));
        ASSERT_TRUE(write(path, c.w, c.h, c.times)) << c.w;
        RecordingReader reader;
        QString error;
        ASSERT_TRUE(reader.open(path, &error)) << error.toStdString();
        EXPECT_EQ(reader.info().width, c.w);
        EXPECT_EQ(reader.info().height, c.h);
        EXPECT_DOUBLE_EQ(reader.info().fps, 30);
        ASSERT_EQ(reader.info().frames, int(c.times.size()));
        for (int i = int(c.times.size()) - 1; i >= 0; --i) {  // any order: the index reaches each
            QImage grey;
            qint64 ms = -1;
            ASSERT_TRUE(reader.frame(i, &grey, &ms, &error)) << error.toStdString();
            EXPECT_EQ(grey.format(), QImage::Format_Grayscale8);
            EXPECT_EQ(grey.size(), QSize(c.w, c.h));
            EXPECT_EQ(ms, c.times[size_t(i)]);
            EXPECT_LT(meanDifference(grey, rings(c.w, c.h, i)), 2.0) << i;
            if (i > 0) {
                EXPECT_GT(meanDifference(grey, rings(c.w, c.h, i - 1)), 20.0) << i;
            }
        }
        QImage grey;
        EXPECT_FALSE(reader.frame(int(c.times.size()), &grey, nullptr, &error));
    }
}

TEST(TearRecording, RefusesDamagedForeignAndEmptyFiles) {
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("boa.lag"));
    ASSERT_TRUE(write(good, 64, 48, {0, 40, 80}));
    QFile f(good);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QByteArray flipped = bytes;
    flipped[bytes.size() - 44] = char(flipped[bytes.size() - 44] ^ 0x55);  // the last frame's offset
    struct Case { const char* name; QByteArray content; const char* reason; };
    const Case cases[] = {
        {"vazia", QByteArray(), "não é uma gravação de filme lacrimal"},
        {"alheia", QByteArray("BM6\x00\x00\x00 um bitmap qualquer, longo o bastante"), "não é uma gravação de filme lacrimal"},
        {"cortada", bytes.left(bytes.size() - 10), "gravação truncada"},
        {"metade", bytes.left(bytes.size() / 2), "gravação truncada"},
        {"cabecalho", bytes.left(20), "gravação truncada"},
        {"indice", flipped, "índice da gravação inválido"},
    };
    for (const Case& c : cases) {
        const QString path = dir.filePath(QString::fromUtf8(c.name));
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(c.content);
        out.close();
        RecordingReader reader;
        QString error;
        EXPECT_FALSE(reader.open(path, &error)) << c.name;
        EXPECT_TRUE(error.contains(QString::fromUtf8(c.reason))) << c.name << ": " << error.toStdString();
        EXPECT_EQ(reader.info().frames, 0) << c.name;
    }
    RecordingReader reader;
    QString error;
    EXPECT_FALSE(reader.open(dir.filePath(QStringLiteral("nenhuma.lag")), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(TearRecording, AbandonedOrRefusedWritesLeaveNothing) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("abandonada.lag"));
    {
        RecordingWriter writer;
        QString error;
        ASSERT_TRUE(writer.open(path, 64, 48, 30, &error));
        ASSERT_TRUE(writer.append(rings(64, 48, 0), 0, &error));
        EXPECT_FALSE(QFile::exists(path));
        EXPECT_FALSE(writer.append(rings(32, 48, 1), 33, &error));  // wrong size
        EXPECT_FALSE(error.isEmpty());
        EXPECT_FALSE(writer.append(rings(64, 48, 1), -5, &error));  // time going back
        EXPECT_EQ(writer.frames(), 1);
    }
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
    RecordingWriter writer;
    QString error;
    EXPECT_FALSE(writer.open(path, 0, 48, 30, &error));
    EXPECT_FALSE(writer.open(path, 64, 48, 0, &error));
    EXPECT_FALSE(writer.open(dir.filePath(QStringLiteral("sem/pasta.lag")), 64, 48, 30, &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(TearRecording, DecodesAVgaFrameInAboutAMillisecond) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vga.lag"));
    ASSERT_TRUE(write(path, 640, 480, {0, 33, 67, 100, 133, 167, 200, 233}));
    RecordingReader reader;
    QString error;
    ASSERT_TRUE(reader.open(path, &error));
    QImage grey;
    QElapsedTimer clock;
    clock.start();
    const int rounds = 40;
    for (int k = 0; k < rounds; ++k) ASSERT_TRUE(reader.frame(k % 8, &grey, nullptr, &error));
    const double ms = double(clock.nsecsElapsed()) / 1e6 / rounds;
    std::printf("decodificação de um quadro 640x480: %.2f ms\n", ms);
    EXPECT_LT(ms, 10.0);  // generous under sanitizers and loaded machines; ~1-2 ms plain
}
