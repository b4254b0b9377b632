// From process start to the end of the start-up run on a demonstration installation, against
// a bare Qt Widgets program showing one window and against that program attaching the
// installation's database too; the three are run in turn so that drift of the machine hits
// all alike. Then where the program's time went: the median time from the process's start to
// each phase mark it writes (NORVIX_STARTUP_PHASES), and the step from the mark before.
//   bench_startup <bin-dir> <NORVIX_ROOT of a prepared installation> [runs]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <vector>

namespace {

qint64 monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Milliseconds until the program ended, or -1 when it failed. The phase marks it wrote are
// added to phases as milliseconds since it was started; order keeps their first order.
double runMs(const QString& program, const QStringList& arguments, const QProcessEnvironment& env,
             std::map<QString, std::vector<double>>* phases = nullptr, QStringList* order = nullptr) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(phases ? QProcess::SeparateChannels : QProcess::ForwardedErrorChannel);
    QElapsedTimer t;
    const qint64 started = monotonicNs();
    t.start();
    p.start(program, arguments);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "%s falhou (código %d)\n", qPrintable(program), p.exitCode());
        return -1;
    }
    const double ms = t.nsecsElapsed() / 1e6;
    if (phases) {
        for (const QByteArray& line : p.readAllStandardError().split('\n')) {
            const QList<QByteArray> f = line.trimmed().split(' ');
            if (f.size() != 3 || f[0] != "norvix-fase") continue;
            const QString name = QString::fromUtf8(f[1]);
            if (!order->contains(name)) *order << name;
            (*phases)[name].push_back((f[2].toLongLong() - started) / 1e6);
        }
    }
    return ms;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() < 3) {
        std::fprintf(stderr, "uso: bench_startup <bin> <NORVIX_ROOT> [execuções]\n");
        return 2;
    }
    const int runs = a.size() > 3 ? std::max(1, a[3].toInt()) : 11;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("NORVIX_ROOT", a[2]);
    env.insert("NORVIX_EXIT_AFTER_STARTUP", "1");
    if (!env.contains("QT_QPA_PLATFORM")) env.insert("QT_QPA_PLATFORM", "offscreen");
    const QString database = a[2] + "/OrventDuo/Banco de Dados/DATABASE.GDB";
    struct Program {
        const char* label;
        QString path;
        QStringList arguments;
        std::vector<double> times;
    } programs[] = {{"bare Qt window", a[1] + "/bare_qt_window", {}, {}},
                    {"bare Qt window + embedded attach", a[1] + "/bare_qt_window_db", {database}, {}},
                    {"Miral start-up run", a[1] + "/Miral", {}, {}}};
    QProcessEnvironment marked = env;
    marked.insert("NORVIX_STARTUP_PHASES", "1");
    std::map<QString, std::vector<double>> phases;
    QStringList order;
    for (int i = -1; i < runs; ++i) {  // the first round only warms the file cache
        for (Program& p : programs) {
            const bool ours = &p == &programs[2];
            const double ms = runMs(p.path, p.arguments, ours ? marked : env, ours && i >= 0 ? &phases : nullptr, &order);
            if (ms < 0) return 1;
            if (i >= 0) p.times.push_back(ms);
        }
    }
    for (const Program& p : programs)
        std::printf("%-34s %6.1f ms (median of %d)\n", p.label, median(p.times), runs);
    const double miral = median(programs[2].times);
    std::printf("ratio to the bare window: %.2f\n", miral / median(programs[0].times));
    std::printf("ratio to the bare window with the attach: %.2f (goal: at most 1.3)\n", miral / median(programs[1].times));
    std::printf("where the start-up's time goes (median ms from the process's start, and from the mark before):\n");
    double before = 0;
    for (const QString& name : order) {
        const double at = median(phases[name]);
        std::printf("  %-22s %7.1f   +%6.1f\n", qPrintable(name), at, at - before);
        before = at;
    }
    std::printf("  %-22s %7.1f   +%6.1f\n", "fim (processo)", miral, miral - before);
    return 0;
}
