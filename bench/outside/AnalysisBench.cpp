// Processor time of the analysis of one exam (surface from the rings, keratoconus indices, Zernike fit,
// and all that analisa-exame prints) on a simulated 32-ring eye, part by part, and the
// throughput of analisa-exame over the 34 example exams, start-up of the process included.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>
#include <memory>

#include "capture/sim/SimulatedEye.h"
#include "outside/math/CornealSurface.h"
#include "outside/math/CornealWavefront.h"
#include "outside/core/ExamAnalysis.h"
#include "outside/core/ExampleEyes.h"
#include "outside/math/KeratoconusIndices.h"
#include "outside/core/TopographyProcessor.h"

using namespace norvix::outside;

namespace {

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Processor time of this thread per run: on a machine others share, wall time would count
// their work too.
template <typename F>
double millisecondsPerRun(int runs, F f) {
    f();  // warm up
    const double start = threadCpuMs();
    for (int i = 0; i < runs; ++i) f();
    return (threadCpuMs() - start) / runs;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    norvix::sim::Renderer renderer(4);
    QImage frame;
    renderer.liveFrame(cornea(7.70, 7.90, 90, -0.26), 1, &frame);
    auto t = std::make_unique<Topography>();
    QString why;
    if (!TopographyProcessor(4, 32).process(frame, t.get(), &why)) {
        std::fprintf(stderr, "bench_analysis: o olho simulado não foi medido: %s\n", qPrintable(why));
        return 1;
    }
    volatile double sink = 0;
    const int runs = 20;
    const double surface = millisecondsPerRun(runs, [&] {
        CornealSurface s;
        s.build(&t->d, &t->m, &t->found, 32, &why);
        sink = s.zoneRadius();
    });
    const double indices = millisecondsPerRun(runs, [&] {
        CornealMap map;
        map.load(&t->d, &t->m, &t->found, 32, &why);
        sink = keratoconusIndices(map).sai;
    });
    CornealSurface built;
    built.build(&t->d, &t->m, &t->found, 32, &why);
    const double zernike = millisecondsPerRun(runs, [&] {
        CornealWavefront w;
        w.compute(built, 6.0, &why);
        sink = w.rmsTotalUm;
    });
    const double core = millisecondsPerRun(runs, [&] {
        CornealSurface s;
        s.build(&t->d, &t->m, &t->found, 32, &why);
        CornealMap map;
        map.load(&t->d, &t->m, &t->found, 32, &why);
        sink = keratoconusIndices(map).sai;
        CornealWavefront w;
        w.compute(s, 6.0, &why);
        sink = w.rmsTotalUm;
    });
    auto analysis = std::make_unique<ExamAnalysis>();
    const double all = millisecondsPerRun(runs, [&] {
        QStringList notes;
        analysis->analyse(*t, 6.0, &why, &notes);
        sink = analysis->conicQ;
    });
    std::printf("Superfície a partir dos anéis: %.2f ms\n", surface);
    std::printf("Mapa de curvatura + índices de ceratocone: %.2f ms\n", indices);
    std::printf("Zernike (pupila de 6 mm): %.2f ms\n", zernike);
    std::printf("Superfície + índices + Zernike, um exame de 32 anéis: %.2f ms (meta: até 20 ms)\n", core);
    std::printf("Tudo o que analisa-exame calcula (com esfera e cônica): %.2f ms\n", all);

    QTemporaryDir dir;
    const QString bin = QCoreApplication::applicationDirPath();
    const QString examples = dir.filePath(QStringLiteral("Exemplos"));
    QProcess make;
    make.start(QDir(bin).filePath(QStringLiteral("mkexemplos")), {examples});
    if (!make.waitForFinished(600000) || make.exitCode() != 0) {
        std::fprintf(stderr, "bench_analysis: mkexemplos falhou\n");
        return 1;
    }
    const int exams = int(QDir(examples).entryList({QStringLiteral("*a.txt")}, QDir::Files).size());
    QElapsedTimer clock;
    clock.start();
    const int passes = 3;
    for (int i = 0; i < passes; ++i) {
        QProcess tool;
        tool.start(QDir(bin).filePath(QStringLiteral("analisa-exame")), {examples});
        if (!tool.waitForFinished(600000) || tool.exitCode() != 0) {
            std::fprintf(stderr, "bench_analysis: analisa-exame falhou: %s\n", tool.readAllStandardError().constData());
            return 1;
        }
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9 / passes;
    std::printf("analisa-exame nos %d exames de exemplo (tempo decorrido, início do processo incluído): %.2f s, "
                "%.1f exames por segundo\n",
                exams, seconds, exams / seconds);
    return 0;
}
