// Time per image of ProcessaImagem on a simulated eye at each capture size and time per small
// map of Visualizar, and time per live frame of the simulated instrument, each against a plain
// pass over the frame's pixels (of the same size) measured in the same run.
#include <dlfcn.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <cstdio>
#include <memory>

#include "capture/sim/Bmp32.h"
#include "capture/sim/SimulatedEye.h"
#include "modules/ModuleContract.h"
#include "outside/core/ModuleIo.h"

using norvix::outside::ByteStream;

namespace {

struct Exam {
    TMatrizAngAnel m{}, d{};
    TMatrizAng meridians{};
    TPupila pupil{};
    double cx = 0, cy = 0, confidence = 0;
};

template <typename F>
double millisecondsPerRun(int runs, F f) {
    f();  // warm up
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < runs; ++i) f();
    return double(t.nsecsElapsed()) / 1e6 / runs;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString bin = QCoreApplication::applicationDirPath();
    void* processing = dlopen(QDir(bin).filePath(QStringLiteral("Processamento.so")).toUtf8().constData(), RTLD_NOW | RTLD_LOCAL);
    void* axial = dlopen(QDir(bin).filePath(QStringLiteral("Halden.so")).toUtf8().constData(), RTLD_NOW | RTLD_LOCAL);
    if (!processing || !axial) {
        std::fprintf(stderr, "bench_outside: módulos não encontrados em %s\n", qPrintable(bin));
        return 1;
    }
    auto processaImagem = reinterpret_cast<TProcessaImagem>(dlsym(processing, "ProcessaImagem"));
    auto visualizar = reinterpret_cast<TVisualizar>(dlsym(axial, "Visualizar"));

    TInfosQV infos{};
    infos.NumAneis = 32;
    infos.TipoCone = "4";
    auto exam = std::make_unique<Exam>();
    volatile double sink = 0;
    double baseline640 = 0;
    // 640 x 480 last: its exam feeds the small map below.
    for (const QSize size : {QSize(320, 240), QSize(720, 480), QSize(640, 480)}) {
        norvix::sim::Renderer sized(4, size.width(), size.height());
        QImage frame;
        sized.liveFrame(norvix::sim::Target(), 1, &frame);
        const QByteArray bmp = norvix::sim::encodeBmp32(frame);
        // Baseline: decode the bitmap and add up its grey levels once.
        const double baseline = millisecondsPerRun(30, [&] {
            QImage img;
            img.loadFromData(bmp, "BMP");
            double s = 0;
            for (int y = 0; y < img.height(); ++y) {
                const QRgb* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
                for (int x = 0; x < img.width(); ++x) s += qGray(line[x]);
            }
            sink = s;
        });
        int ok = 0;
        const double process = millisecondsPerRun(30, [&] {
            ByteStream s(bmp);
            ok = processaImagem(nullptr, s.stream(), &exam->cx, &exam->cy, &exam->m, &exam->meridians, &exam->d,
                                &exam->pupil, &exam->confidence, &infos, nullptr);
        });
        if (ok != 1) {
            std::fprintf(stderr, "bench_outside: ProcessaImagem não mediu o olho simulado de %d x %d\n", size.width(),
                         size.height());
            return 1;
        }
        if (size == QSize(640, 480)) baseline640 = baseline;
        std::printf("ProcessaImagem %d x %d: %.2f ms por imagem = %.1f x a linha de base do mesmo tamanho (%.2f ms)"
                    " (meta: < 50 ms)\n",
                    size.width(), size.height(), process, process / baseline, baseline);
    }
    const double baseline = baseline640;
    const double small = millisecondsPerRun(30, [&] {
        ByteStream picture;
        TResultadoMapa r{};
        visualizar(nullptr, picture.stream(), nullptr, nullptr, exam->cx, exam->cy, &exam->m, &exam->meridians,
                   &exam->d, &exam->pupil, &r, nullptr, &infos);
    });
    norvix::sim::Renderer renderer(4);
    QImage live;
    uint32_t n = 2;
    const double liveMs = millisecondsPerRun(60, [&] { renderer.liveFrame(norvix::sim::Target(), n++, &live); });
    std::printf("Linha de base 640 x 480 (decodificar o BMP e somar os pixels): %.2f ms\n", baseline);
    std::printf("Visualizar (mapa pequeno): %.2f ms por mapa = %.1f x a linha de base\n", small, small / baseline);
    std::printf("Renderer::liveFrame (quadro com ruído): %.2f ms por quadro = %.2f x a linha de base; "
                "a 30 quadros/s ocupa %.0f%% de um núcleo\n",
                liveMs, liveMs / baseline, liveMs * 30 / 10);
    (void)sink;
    return 0;
}
