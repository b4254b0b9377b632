// The orthokeratology processing of four frames against four topography ProcessaImagem calls on
// the same frames, and each multi-map window from its call to its first paint with 8 exams
// against a plain dialog of 8 pictures shown to its first paint, all in the same run.
#include <dlfcn.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <functional>
#include <cstring>
#include <memory>
#include <vector>

#include "capture/sim/Bmp32.h"
#include "capture/sim/SimulatedEye.h"
#include "modules/ModuleContract.h"
#include "outside/core/ModuleIo.h"

using norvix::outside::ByteStream;
using norvix::outside::crlfLines;

namespace {

constexpr int kExams = 8;

// Processor time of the whole process (every thread) per run, in milliseconds.
template <typename F>
double cpuMillisecondsPerRun(int runs, F f) {
    f();
    const std::clock_t start = std::clock();
    for (int i = 0; i < runs; ++i) f();
    return 1000.0 * double(std::clock() - start) / CLOCKS_PER_SEC / runs;
}

template <typename F>
double millisecondsPerRun(int runs, F f) {
    f();  // warm up
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < runs; ++i) f();
    return double(t.nsecsElapsed()) / 1e6 / runs;
}

// Milliseconds from call() to the first paint of a window called `name`, which is then closed.
class FirstPaint : public QObject {
public:
    double run(const char* name, const std::function<void()>& call) {
        name_ = name;
        painted_ = -1;
        qApp->installEventFilter(this);
        timer_.start();
        call();
        qApp->removeEventFilter(this);
        return painted_;
    }

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (painted_ < 0 && e->type() == QEvent::Paint && o->isWidgetType()) {
            QWidget* w = static_cast<QWidget*>(o)->window();
            if (w->objectName() == QLatin1String(name_)) {
                painted_ = double(timer_.nsecsElapsed()) / 1e6;
                QTimer::singleShot(0, w, &QWidget::close);
            }
        }
        return false;
    }

private:
    const char* name_ = "";
    double painted_ = -1;
    QElapsedTimer timer_;
};

void* load(const QString& bin, const char* file) {
    void* h = dlopen(QDir(bin).filePath(QString::fromLatin1(file)).toUtf8().constData(), RTLD_NOW | RTLD_LOCAL);
    if (!h) std::fprintf(stderr, "bench_ortho: %s não carregou\n", file);
    return h;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString bin = QCoreApplication::applicationDirPath();
    void* topo = load(bin, "Processamento.so");
    void* orto = load(bin, "ProcessamentoOrto.so");
    if (!topo || !orto) return 1;
    auto processaTopo = reinterpret_cast<TProcessaImagem>(dlsym(topo, "ProcessaImagem"));
    auto processaOrto = reinterpret_cast<TProcessaImagemOrto>(dlsym(orto, "ProcessaImagem"));
    TInfosQV infos{};
    infos.NumAneis = 32;
    infos.TipoCone = "4";

    // Eight treated corneas: a course of deepening treatment.
    norvix::sim::Renderer renderer(4);
    std::vector<QByteArray> frames;
    for (int i = 0; i < kExams; ++i) {
        norvix::sim::Target t;
        QString error;
        norvix::sim::parseTarget(QStringLiteral("orto 7.90 -0.20 5.2 %1").arg(0.004 + 0.003 * i), &t, &error);
        QImage img;
        renderer.liveFrame(t, uint32_t(i + 1), &img);
        frames.push_back(norvix::sim::encodeBmp32(img));
    }

    struct Exam {
        TMatrizAngAnel m{}, d{};
        TMatrizAng meridians{};
        TPupila pupil{};
        double cx = 0, cy = 0, confidence = 0;
    };
    auto exams = std::make_unique<Exam[]>(kExams);
    auto fourTopographies = [&] {
        for (int c = 0; c < 4; ++c) {
            ByteStream s(frames[size_t(c)]);
            Exam& e = exams[c];
            processaTopo(nullptr, s.stream(), &e.cx, &e.cy, &e.m, &e.meridians, &e.d, &e.pupil, &e.confidence, &infos,
                         nullptr);
        }
    };
    int ok = 0;
    auto oneOrtho = [&] {
        std::unique_ptr<ByteStream> images[4];
        ModuleStream* group[4];
        for (int c = 0; c < 4; ++c) {
            images[c] = std::make_unique<ByteStream>(frames[size_t(c)]);
            group[c] = images[c]->stream();
        }
        ByteStream m, d, parameters;
        double confidences[4];
        ok = processaOrto(nullptr, group, m.stream(), d.stream(), parameters.stream(), confidences, &infos, nullptr);
    };
    const double four = millisecondsPerRun(20, fourTopographies), ortho = millisecondsPerRun(20, oneOrtho);
    const double fourCpu = cpuMillisecondsPerRun(20, fourTopographies), orthoCpu = cpuMillisecondsPerRun(20, oneOrtho);
    if (ok != 1) {
        std::fprintf(stderr, "bench_ortho: ProcessamentoOrto não mediu as quatro capturas\n");
        return 1;
    }
    std::printf("ProcessamentoOrto, 4 capturas: %.1f ms = %.2f x quatro ProcessaImagem de topografia (%.1f ms) (meta: <= 1)\n"
                "  tempo de processador (todas as threads): %.1f ms = %.2f x (%.1f ms)\n",
                ortho, ortho / four, four, orthoCpu, orthoCpu / fourCpu, fourCpu);
    for (int i = 4; i < kExams; ++i) {
        ByteStream s(frames[size_t(i)]);
        Exam& e = exams[i];
        processaTopo(nullptr, s.stream(), &e.cx, &e.cy, &e.m, &e.meridians, &e.d, &e.pupil, &e.confidence, &infos, nullptr);
    }

    // The host's arrays over the eight exams, one a month.
    std::vector<std::unique_ptr<ByteStream>> headerStreams;
    std::vector<ModuleStream*> headerPtrs;
    auto m = std::make_unique<TMatrizAngAnel[]>(kExams);
    auto d = std::make_unique<TMatrizAngAnel[]>(kExams);
    auto meridians = std::make_unique<TMatrizAng[]>(kExams);
    auto pupils = std::make_unique<TPupila[]>(kExams);
    double table[kExams][4] = {};
    for (int i = 0; i < kExams; ++i) {
        const bool right = i != 1;  // Truvan takes its first right and left exams
        headerStreams.push_back(std::make_unique<ByteStream>(crlfLines(
            {QStringLiteral("Paciente"), QStringLiteral("1"), QStringLiteral("RG"),
             right ? QStringLiteral("Olho Direito") : QStringLiteral("Olho Esquerdo"),
             QDate(2025, 1 + i, 10).toString(QStringLiteral("dd/MM/yyyy")), QStringLiteral("09:00:00"),
             QStringLiteral("Dra. Teste"), QStringLiteral("98")})));
        headerPtrs.push_back(headerStreams.back()->stream());
        std::memcpy(m[i], exams[i].m, sizeof(TMatrizAngAnel));
        std::memcpy(d[i], exams[i].d, sizeof(TMatrizAngAnel));
        std::memcpy(meridians[i], exams[i].meridians, sizeof(TMatrizAng));
    }
    const TDadosPac headers{kExams, headerPtrs.data()};
    const TMatrizesAngAnel mArr{kExams, m.get()}, dArr{kExams, d.get()};
    const TMatrizesAng merArr{kExams, meridians.get()};
    const TMatPup pupArr{kExams, pupils.get()};

    // Baseline: a dialog of eight 220-pixel pictures, shown to its first paint.
    FirstPaint paint;
    QPixmap picture(220, 220);
    picture.fill(Qt::darkGreen);
    auto plain = [&] {
        QDialog dialog;
        dialog.setObjectName(QStringLiteral("frmBase"));
        auto* grid = new QGridLayout(&dialog);
        for (int i = 0; i < kExams; ++i) {
            auto* l = new QLabel(&dialog);
            l->setPixmap(picture);
            grid->addWidget(l, i / 4, i % 4);
        }
        dialog.exec();
    };
    paint.run("frmBase", plain);  // warm up
    const double baseline = paint.run("frmBase", plain);
    std::printf("Linha de base (diálogo com 8 figuras, até a primeira pintura): %.1f ms\n", baseline);
    for (const char* file : {"Ambrel.so", "Truvan.so", "Quessel.so", "Fennic.so"}) {
        void* h = load(bin, file);
        if (!h) return 1;
        auto first = reinterpret_cast<TProcessaMapas>(dlsym(h, "ProcessaMapas"));
        auto second = reinterpret_cast<TProcessaMapasOrto>(dlsym(h, "ProcessaMapasOrto"));
        const bool fennic = std::strcmp(file, "Fennic.so") == 0;
        ByteStream options;
        const double ms = paint.run("frmMultiMapa", [&] {
            if (fennic)
                second(nullptr, &headers, &mArr, &dArr, reinterpret_cast<const TTabelaOrto*>(table), &infos);
            else
                first(nullptr, &headers, &mArr, &merArr, &dArr, &pupArr, kExams, options.stream(), &infos);
        });
        std::printf("%s com %d exames, da chamada à primeira pintura: %.1f ms = %.1f x a linha de base (meta: <= 300 ms)\n",
                    file, kExams, ms, ms / baseline);
        dlclose(h);
    }
    return 0;
}
