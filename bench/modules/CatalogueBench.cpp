// Building the catalogue of 30 map modules against the bare cost of loading and freeing the
// same 30 libraries, measured in the same run. Prints the ratio (catalogue / baseline).
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <dlfcn.h>
#include <vector>
#include "modules/MapCatalogue.h"

using norvix::TMapCatalogue;

namespace {

constexpr int kModules = 30;
constexpr int kRounds = 61;

qint64 median(std::vector<qint64> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir maps;
    std::vector<QByteArray> paths;
    for (int i = 0; i < kModules; ++i) {
        const QString name = maps.filePath(QStringLiteral("Mapa%1.so").arg(i, 2, 10, QLatin1Char('0')));
        if (!QFile::copy(QStringLiteral(BENCH_MODULE_FILE), name)) {
            std::fprintf(stderr, "cannot copy %s\n", BENCH_MODULE_FILE);
            return 1;
        }
        paths.push_back(QFile::encodeName(name));
    }

    std::vector<qint64> baseline, catalogue;
    TMapCatalogue c;
    QElapsedTimer t;
    auto plain = [&] {
        t.start();
        for (const QByteArray& p : paths) {
            void* h = dlopen(p.constData(), RTLD_NOW | RTLD_LOCAL);
            if (!h) return false;
            dlclose(h);
        }
        baseline.push_back(t.nsecsElapsed());
        return true;
    };
    auto build = [&] {
        t.start();
        c.BuildCatalogue(maps.path());
        catalogue.push_back(t.nsecsElapsed());
        return c.Buttons().size() == kModules && c.Items().size() == 4 * kModules;
    };
    // Alternate the order so that neither side always runs with the warmer caches.
    for (int round = 0; round < kRounds; ++round) {
        const bool ok = round % 2 ? (plain() && build()) : (build() && plain());
        if (!ok) {
            std::fprintf(stderr, "a module did not load or the catalogue is incomplete\n");
            return 1;
        }
    }
    // Each round's pair ran back to back, so its ratio is little affected by the load of the
    // machine drifting between rounds; the median of those ratios is the figure.
    std::vector<double> ratios;
    for (size_t i = 0; i < baseline.size(); ++i) ratios.push_back(double(catalogue[i]) / double(baseline[i]));
    std::sort(ratios.begin(), ratios.end());
    const double b = median(baseline) / 1e6, k = median(catalogue) / 1e6;
    std::printf("catalogue of %d modules: median %.3f ms\n", kModules, k);
    std::printf("dlopen+dlclose of the same files: median %.3f ms\n", b);
    std::printf("ratio catalogue/baseline (median of %d paired rounds): %.3f (target at most 1.3)\n", kRounds,
                ratios[ratios.size() / 2]);
    return 0;
}
