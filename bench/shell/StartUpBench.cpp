// From process start to the end of the start-up run on a demonstration installation, against
// a bare Qt Widgets program showing one window, both measured in this run.
//   bench_startup <bin-dir> <NORVIX_ROOT of a prepared installation> [runs]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <cstdio>
#include <vector>

static double medianMs(const QString& program, const QProcessEnvironment& env, int runs) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer t;
        t.start();
        p.start(program, {});
        if (!p.waitForFinished(60000) || p.exitCode() != 0) {
            std::fprintf(stderr, "%s falhou (código %d)\n", qPrintable(program), p.exitCode());
            return -1;
        }
        times.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() < 3) {
        std::fprintf(stderr, "uso: bench_startup <bin> <NORVIX_ROOT> [execuções]\n");
        return 2;
    }
    const int runs = a.size() > 3 ? a[3].toInt() : 7;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("NORVIX_ROOT", a[2]);
    env.insert("NORVIX_EXIT_AFTER_STARTUP", "1");
    if (!env.contains("QT_QPA_PLATFORM")) env.insert("QT_QPA_PLATFORM", "offscreen");
    // Warm both once so the file cache treats them alike.
    medianMs(a[1] + "/bare_qt_window", env, 1);
    medianMs(a[1] + "/Miral", env, 1);
    const double bare = medianMs(a[1] + "/bare_qt_window", env, runs);
    const double miral = medianMs(a[1] + "/Miral", env, runs);
    if (bare <= 0 || miral <= 0) return 1;
    std::printf("bare Qt window: %.1f ms (median of %d)\n", bare, runs);
    std::printf("Miral start-up run: %.1f ms (median of %d)\n", miral, runs);
    std::printf("ratio: %.2f (goal: at most 1.5)\n", miral / bare);
    return 0;
}
