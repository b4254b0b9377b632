// A moving frame of the simulated eye with a tear film, against the same eye moving without
// one, measured in the same run; and the encoding of a tear-film recording's frame.
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>

#include "capture/sim/SimulatedEye.h"
#include "tearfilm/TearRecording.h"

namespace sim = norvix::sim;

namespace {

sim::Target target(const char* text) {
    sim::Target t;
    QString error;
    if (!sim::parseTarget(QString::fromUtf8(text), &t, &error)) std::fprintf(stderr, "%s\n", qPrintable(error));
    return t;
}

// CPU time of this thread: the machine may be busy with other work.
double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Mean CPU ms per frame over frames first..first+count-1 (the renderer's trace made beforehand).
double msPerFrame(sim::Renderer& r, const sim::Target& t, uint32_t first, uint32_t count) {
    QImage frame;
    r.liveFrame(t, first, &frame);
    const double start = cpuMs();
    for (uint32_t n = first; n < first + count; ++n) r.liveFrame(t, n, &frame);
    return (cpuMs() - start) / count;
}

}  // namespace

int main() {
    const sim::Target moving = target("cornea olho deriva 0.1 sacadas 0.05 2");
    const sim::Target film = target("cornea olho deriva 0.1 sacadas 0.05 2 lagrima rupturas 8 semente 3 piscar 20");
    sim::Renderer r;
    const double base = msPerFrame(r, moving, 100, 120);
    msPerFrame(r, film, 0, 1);  // its trace: the eye at rest is the same, the lids are new
    // Build-up (the first 0.8 s), settled with no break yet, and with all eight spots broken.
    const double buildUp = msPerFrame(r, film, 7, 24);
    const double settled = msPerFrame(r, film, 40, 20);
    const double spots = msPerFrame(r, film, 500, 120);
    std::printf("quadro em movimento, 640x480, com ruído: %.2f ms sem filme lacrimal; com filme: %.2f ms logo após a "
                "piscada (+%.2f), %.2f ms estável (+%.2f), %.2f ms com 8 rupturas (+%.2f)\n",
                base, buildUp, buildUp - base, settled, settled - base, spots, spots - base);
    QTemporaryDir dir;
    norvix::lagrima::RecordingWriter writer;
    QString error;
    writer.open(dir.filePath(QStringLiteral("b.lag")), 640, 480, 30, &error);
    QImage frame;
    r.liveFrame(film, 500, &frame);
    const double start = cpuMs();
    for (int i = 0; i < 60; ++i) writer.append(frame, i * 33, &error);
    std::printf("gravação: %.2f ms por quadro (cinza, JPEG 90)\n", (cpuMs() - start) / 60);
    return 0;
}
