// One full load of a complete settings file, against reading the same file once whole.
// The load opens, reads and closes the file once per setting, so the ratio shows what that
// costs next to the single read that a cached reader would do.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "SettingsFiles.h"
#include "config/UBIniSettings.h"

using norvix::TBIniSettings;

namespace {

// Median time of one call in microseconds, over several rounds of many calls.
double medianMicroseconds(const std::function<void()>& call, int callsPerRound, int rounds) {
    std::vector<double> perCall;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < callsPerRound; ++i) call();
        perCall.push_back(static_cast<double>(timer.nsecsElapsed()) / 1000.0 / callsPerRound);
    }
    std::sort(perCall.begin(), perCall.end());
    return perCall[perCall.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir root;
    if (!root.isValid()) return 1;
    qputenv("NORVIX_ROOT", root.path().toLocal8Bit());
    const QString path = root.filePath(QStringLiteral("OrventDuo/Orvent.ini"));
    if (!settings_files::writeFile(path, settings_files::settingsText())) return 1;

    TBIniSettings settings;
    qint64 bytes = 0;
    const auto load = [&] {
        if (!settings.LoadAll(3)) std::abort();
    };
    const auto readWhole = [&] {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) std::abort();
        bytes += f.readAll().size();
    };
    load();
    readWhole();
    if (!settings.loadWarnings().isEmpty()) {
        std::fprintf(stderr, "o arquivo de teste gerou avisos\n");
        return 1;
    }

    const double readUs = medianMicroseconds(readWhole, 2000, 9);
    const double loadUs = medianMicroseconds(load, 100, 9);
    std::printf("arquivo: %lld bytes, %d valores\n",
                static_cast<long long>(QFile(path).size()), static_cast<int>(norvix::settings::RowCount));
    std::printf("leitura inteira (QFile::readAll): %.2f us\n", readUs);
    std::printf("LoadAll: %.2f us\n", loadUs);
    std::printf("razao LoadAll / leitura inteira: %.1f\n", loadUs / readUs);
    return bytes > 0 ? 0 : 1;
}
