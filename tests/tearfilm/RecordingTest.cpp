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
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.scanLine(y)[x] = uchar(128 + 100 * std::sin(std::hypot(x - w / 2, y - h / 2) / 4.0 + n));
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
    bool ok = writer.open(path, w, h, 30, &error);
    for (size_t i = 0; ok && i < times.size(); ++i) ok = writer.append(rings(w, h, int(i)).convertToFormat(QImage::Format_RGB32), times[i], &error);
    return ok && writer.finish(&error);
}

}  // namespace

TEST(TearRecording, RoundTripKeepsFramesTimesAndSizesAndDecodesFast) {
    QTemporaryDir dir;
    struct Case { int w, h; std::vector<qint64> times; } cases[] = {
        {640, 480, {0, 33, 67, 100, 133, 167}}, {97, 31, {0, 0, 5000}}, {16, 16, {}}};
    for (const Case& c : cases) {
        const QString path = dir.filePath(QStringLiteral("r%1.lag").arg(c.w));
        ASSERT_TRUE(write(path, c.w, c.h, c.times)) << c.w;
        RecordingReader reader;
        QString error;
        ASSERT_TRUE(reader.open(path, &error)) << error.toStdString();
        ASSERT_TRUE(reader.info().width == c.w && reader.info().height == c.h && reader.info().fps == 30 &&
                    reader.info().frames == int(c.times.size()));
        std::vector<QImage> grey(c.times.size());
        std::vector<qint64> ms(c.times.size(), -1);
        QElapsedTimer clock;
        clock.start();
        for (int i = int(c.times.size()) - 1; i >= 0; --i)  // any order: the index reaches each
            ASSERT_TRUE(reader.frame(i, &grey[size_t(i)], &ms[size_t(i)], &error)) << error.toStdString();
        // About 1.5 ms a VGA frame here; generous for sanitizers and a busy machine.
        EXPECT_TRUE(c.w != 640 || clock.nsecsElapsed() / 1e6 / double(c.times.size()) < 15.0);
        EXPECT_EQ(ms, c.times);
        for (size_t i = 0; i < c.times.size(); ++i) {
            EXPECT_TRUE(grey[i].format() == QImage::Format_Grayscale8 && grey[i].size() == QSize(c.w, c.h));
            EXPECT_LT(meanDifference(grey[i], rings(c.w, c.h, int(i))), 2.0) << i;
        }
        QImage none;
        EXPECT_FALSE(reader.frame(int(c.times.size()), &none, nullptr, &error));
    }
}

TEST(TearRecording, RefusesDamagedForeignAndEmptyFiles) {
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("boa.lag"));
    ASSERT_TRUE(write(good, 64, 48, {0, 40, 80}));
    QFile f(good);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QByteArray moved = bytes;
    moved[bytes.size() - 44] = char(moved[bytes.size() - 44] ^ 0x55);  // the last frame's offset
    struct Case { const char* name; QByteArray content; const char* reason; } cases[] = {
        {"vazia", QByteArray(), "não é uma gravação de filme lacrimal"},
        {"alheia", QByteArray("BM6\x00\x00\x00 um bitmap qualquer, longo o bastante"), "não é uma gravação de filme lacrimal"},
        {"cortada", bytes.left(bytes.size() - 10), "gravação truncada"},
        {"metade", bytes.left(bytes.size() / 2), "gravação truncada"},
        {"cabecalho", bytes.left(20), "gravação truncada"},
        {"indice", moved, "índice da gravação inválido"},
        {"nenhuma", QByteArray(), "não foi possível abrir"},
    };
    for (const Case& c : cases) {
        const QString path = dir.filePath(QString::fromUtf8(c.name));
        QFile out(path);
        ASSERT_TRUE(QByteArray(c.name) == "nenhuma" || (out.open(QIODevice::WriteOnly) && out.write(c.content) >= 0));
        out.close();
        RecordingReader reader;
        QString error;
        EXPECT_FALSE(reader.open(path, &error) || reader.info().frames) << c.name;
        EXPECT_TRUE(error.contains(QString::fromUtf8(c.reason))) << c.name << ": " << error.toStdString();
    }
}

TEST(TearRecording, AbandonedOrRefusedWritesLeaveNothing) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("abandonada.lag"));
    QString error;
    {
        RecordingWriter writer;
        ASSERT_TRUE(writer.open(path, 64, 48, 30, &error));
        ASSERT_TRUE(writer.append(rings(64, 48, 0), 0, &error));
        EXPECT_FALSE(QFile::exists(path));
        EXPECT_FALSE(writer.append(rings(32, 48, 1), 33, &error));  // wrong size
        EXPECT_FALSE(writer.append(rings(64, 48, 1), -5, &error));  // time going back
        EXPECT_EQ(writer.frames(), 1);
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
    RecordingWriter writer;
    EXPECT_FALSE(writer.open(path, 0, 48, 30, &error) || writer.open(path, 64, 48, 0, &error));
    EXPECT_FALSE(writer.open(dir.filePath(QStringLiteral("sem/pasta.lag")), 64, 48, 30, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(writer.append(rings(64, 48, 0), 0, &error) || writer.finish(&error));
}
