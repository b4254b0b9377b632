// From process start to the end of the start-up run on a demonstration installation, against
// a bare Qt Widgets program showing one window and against that program attaching the
// installation's database too; the three are run in turn so that drift of the machine hits
// all alike. Then where the time went: the median time from each process's start to each phase
// mark it writes (NORVIX_STARTUP_PHASES; the baselines mark the phases they have), and the step
// from the mark before, the three side by side; and the processor time each used (all threads),
// so that time spent waiting (the disk, a busy second core) shows as the difference.
//   bench_startup <bin-dir> <NORVIX_ROOT of a prepared installation> [runs] [--fresh]
// --fresh: every process of the three gets new, empty HOME, XDG_* folders and Firebird lock
// folder, as on a machine where nothing ran before (font cache of the user, settings folders).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

qint64 monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Processor time of the children waited for so far, in milliseconds.
double childrenCpuMs() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

using Phases = std::map<QString, std::vector<double>>;

struct Run {
    double ms = -1;  // until the program ended; -1 when it failed
    double cpuMs = 0;
};

// One run. The phase marks it wrote are added to phases (when given) as milliseconds since it
// was started; order keeps their first order.
Run runOnce(const QString& program, const QStringList& arguments, const QProcessEnvironment& env, Phases* phases,
            QStringList* order) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.setStandardOutputFile(QProcess::nullDevice());
    const double cpuBefore = childrenCpuMs();
    QElapsedTimer t;
    const qint64 started = monotonicNs();
    t.start();
    p.start(program, arguments);
    Run run;
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "%s falhou (código %d)\n%s", qPrintable(program), p.exitCode(),
                     p.readAllStandardError().constData());
        return run;
    }
    run.ms = t.nsecsElapsed() / 1e6;
    run.cpuMs = childrenCpuMs() - cpuBefore;
    for (const QByteArray& line : p.readAllStandardError().split('\n')) {
        const QList<QByteArray> f = line.trimmed().split(' ');
        if (f.size() != 3 || f[0] != "norvix-fase") continue;
        if (!phases) continue;
        const QString name = QString::fromUtf8(f[1]);
        if (!order->contains(name)) *order << name;
        (*phases)[name].push_back((f[2].toLongLong() - started) / 1e6);
    }
    return run;
}

double median(std::vector<double> v) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The folders of a user who never ran anything on this machine, for one process.
struct FreshUser {
    QTemporaryDir root{QDir::tempPath() + QStringLiteral("/bench-startup-XXXXXX")};
    bool apply(QProcessEnvironment* env) {
        if (!root.isValid()) return false;
        const std::pair<const char*, const char*> folders[] = {
            {"HOME", "home"},         {"XDG_CACHE_HOME", "cache"},         {"XDG_CONFIG_HOME", "config"},
            {"XDG_DATA_HOME", "data"}, {"XDG_RUNTIME_DIR", "runtime"}, {"FIREBIRD_LOCK", "firebird"}};
        for (const auto& [variable, name] : folders) {
            const QString path = root.filePath(QString::fromLatin1(name));
            if (!QDir().mkpath(path)) return false;
            env->insert(QString::fromLatin1(variable), path);
        }
        return QFile::setPermissions(root.filePath(QStringLiteral("runtime")),
                                     QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList a = app.arguments();
    const bool fresh = a.removeAll(QStringLiteral("--fresh")) > 0;
    if (a.size() < 3) {
        std::fprintf(stderr, "uso: bench_startup <bin> <NORVIX_ROOT> [execuções] [--fresh]\n");
        return 2;
    }
    const int runs = a.size() > 3 ? std::max(1, a[3].toInt()) : 11;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("NORVIX_ROOT", a[2]);
    env.insert("NORVIX_EXIT_AFTER_STARTUP", "1");
    env.insert("NORVIX_STARTUP_PHASES", "1");
    if (!env.contains("QT_QPA_PLATFORM")) env.insert("QT_QPA_PLATFORM", "offscreen");
    // Without one the program makes its own runtime folder and the baselines fall back to Qt's
    // after a warning: the same private folder for the three instead.
    QTemporaryDir runtime(QDir::tempPath() + QStringLiteral("/bench-startup-runtime-XXXXXX"));
    if (env.value("XDG_RUNTIME_DIR").isEmpty() && runtime.isValid()) env.insert("XDG_RUNTIME_DIR", runtime.path());
    const QString database = a[2] + "/OrventDuo/Banco de Dados/DATABASE.GDB";
    struct Program {
        const char* label;
        const char* column;
        QString path;
        QStringList arguments;
        std::vector<double> times, cpu;
        Phases phases;
        QStringList order;
    } programs[] = {{"bare Qt window", "bare window", a[1] + "/bare_qt_window", {}, {}, {}, {}, {}},
                    {"bare Qt window + embedded attach", "+ attach", a[1] + "/bare_qt_window_db", {database}, {}, {}, {}, {}},
                    {"Miral start-up run", "Miral", a[1] + "/Miral", {}, {}, {}, {}, {}}};
    for (int i = -1; i < runs; ++i) {  // the first round only warms the file cache
        for (Program& p : programs) {
            QProcessEnvironment e = env;
            std::unique_ptr<FreshUser> user;
            if (fresh && !(user = std::make_unique<FreshUser>())->apply(&e)) {
                std::fprintf(stderr, "não foi possível criar as pastas de um usuário novo em %s\n",
                             qPrintable(QDir::tempPath()));
                return 1;
            }
            const Run r = runOnce(p.path, p.arguments, e, i >= 0 ? &p.phases : nullptr, &p.order);
            if (r.ms < 0) return 1;
            if (i < 0) continue;
            p.times.push_back(r.ms);
            p.cpu.push_back(r.cpuMs);
        }
    }
    if (fresh) std::printf("every process started as a new user (empty HOME, XDG_* folders, Firebird lock folder)\n");
    for (const Program& p : programs)
        std::printf("%-34s %6.1f ms (median of %d); processor %6.1f ms\n", p.label, median(p.times), runs,
                    median(p.cpu));
    const double miral = median(programs[2].times);
    std::printf("ratio to the bare window: %.2f\n", miral / median(programs[0].times));
    std::printf("ratio to the bare window with the attach: %.2f (goal: at most 1.3)\n", miral / median(programs[1].times));
    std::printf("where the time goes (median ms from the process's start, and from the mark before):\n");
    const int columns[3] = {2, 0, 1};
    std::printf("  %-22s", "");
    for (int k : columns) std::printf(" %18s", programs[k].column);
    std::printf("\n");
    QStringList order = programs[2].order;
    for (const Program& p : programs)
        for (const QString& name : p.order)
            if (!order.contains(name)) order << name;
    double before[3] = {0, 0, 0};
    const auto row = [&](const QString& name, const double (&at)[3]) {
        std::printf("  %-22s", qPrintable(name));
        for (int k = 0; k < 3; ++k) {
            if (at[k] < 0) {
                std::printf(" %18s", "");
                continue;
            }
            std::printf("   %6.1f  +%6.1f", at[k], at[k] - before[k]);
            before[k] = at[k];
        }
        std::printf("\n");
    };
    for (const QString& name : order) {
        double at[3];
        for (int k = 0; k < 3; ++k) {
            const auto found = programs[columns[k]].phases.find(name);
            at[k] = found == programs[columns[k]].phases.end() ? -1 : median(found->second);
        }
        row(name, at);
    }
    const double end[3] = {miral, median(programs[0].times), median(programs[1].times)};
    row(QStringLiteral("fim (processo)"), end);
    return 0;
}
