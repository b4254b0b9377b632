// The tear-film analysis of a 30 s film at 30 frames a second of a moving simulated eye: time per
// frame against the frame's own conversion to grey (the least any analysis does with it) and
// its JPEG decoding (what reading a recording costs), and the memory the whole analysis takes.
#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <numeric>
#include <cstdio>
#include <vector>

#include "capture/sim/SimulatedEye.h"
#include "tearfilm/TearFilm.h"

using namespace norvix;

namespace {

// Kilobytes of the process's resident memory now, or at its peak.
long statusKb(const char* key) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key)) return line.mid(int(qstrlen(key))).trimmed().split(' ').first().toLong();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    constexpr double kFps = 30, kSeconds = 30;
    sim::Target target;
    QString error;
    if (!sim::parseTarget(QStringLiteral("cornea olho deriva 0.05 sacadas 0.03 2 lagrima rupturas 4 semente 2 piscar 29.9"),
                          &target, &error))
        return 1;
    sim::Renderer renderer;
    renderer.setFrameRate(kFps);
    QImage frame;
    renderer.liveFrame(target, 0, &frame);  // the trace of the first frame, before any figure
    const long before = statusKb("VmRSS:");
    lagrima::TearFilmAnalyser analyser(kFps);
    std::vector<double> analyse, convert, decode;
    QElapsedTimer timer;
    const int frames = int(kFps * kSeconds);
    for (int n = 0; n < frames; ++n) {
        renderer.liveFrame(target, uint32_t(n), &frame);
        timer.start();
        const QImage grey = frame.convertToFormat(QImage::Format_Grayscale8);
        convert.push_back(timer.nsecsElapsed() / 1e6);
        if (n % 30 == 0) {  // decoding a recorded frame, now and then
            QByteArray jpeg;
            QBuffer buffer(&jpeg);
            buffer.open(QIODevice::WriteOnly);
            grey.save(&buffer, "JPG", 90);
            timer.start();
            const QImage back = QImage::fromData(jpeg, "JPG");
            decode.push_back(timer.nsecsElapsed() / 1e6);
        }
        timer.start();
        analyser.addFrame(grey, qRound64(n * 1000.0 / kFps));
        analyse.push_back(timer.nsecsElapsed() / 1e6);
    }
    lagrima::TearFilmResult result;
    const bool ok = analyser.finish(&result, &error);
    const long peak = statusKb("VmHWM:");
    auto mean = [](const std::vector<double>& v) { return std::accumulate(v.begin(), v.end(), 0.0) / double(v.size()); };
    // With BENCH_TEARFILM_FRAMES set, the slow frames are named (on a busy machine, most are
    // the scheduler's, not the analysis's).
    if (qEnvironmentVariableIsSet("BENCH_TEARFILM_FRAMES"))
        for (size_t i = 0; i < analyse.size(); ++i)
            if (analyse[i] > 6) std::printf("quadro %zu: %.2f ms\n", i, analyse[i]);
    std::sort(analyse.begin(), analyse.end());
    std::printf("analise de %d quadros 640x480: media %.2f ms, p95 %.2f ms, maximo %.2f ms por quadro (limite 15 ms)\n",
                frames, mean(analyse), analyse[size_t(0.95 * analyse.size())], analyse.back());
    std::printf("  contra a conversao para cinza %.2f ms (%.1fx) e a decodificacao JPEG %.2f ms (%.1fx)\n", mean(convert),
                mean(analyse) / mean(convert), mean(decode), mean(analyse) / mean(decode));
    std::printf("memoria: %.1f MB antes, pico %.1f MB (%.1f MB a mais; limite 200 MB)\n", before / 1024.0, peak / 1024.0,
                (peak - before) / 1024.0);
    if (!ok) {
        std::printf("analise falhou: %s\n", error.toUtf8().constData());
        return 1;
    }
    std::printf("primeira ruptura %.2f s, media %.2f s, %.1f s de registro, area rompida %.1f %%\n", result.firstS,
                result.averageS, result.recordedS, result.brokenPercentAtEnd());
    return 0;
}
