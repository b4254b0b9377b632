// mkexemplos <directory>
// Writes the example exams of the exam browser: prefix + "a.txt", "d.txt", "m.txt" for each
// simulated eye, measured as the instrument would measure it. Existing files are never
// replaced: that example is skipped and the tool says so.
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <cstdio>

#include "capture/sim/SimulatedEye.h"
#include "outside/core/ExamFiles.h"
#include "outside/core/ExampleEyes.h"
#include "outside/core/TopographyProcessor.h"

using namespace norvix::outside;

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "Uso: mkexemplos <diretório dos exemplos>\n");
        return 2;
    }
    const QString dir = args[1];
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "mkexemplos: não foi possível criar o diretório %s\n", qPrintable(dir));
        return 1;
    }
    norvix::sim::Renderer renderer(kExampleConeType);
    TopographyProcessor processor(kExampleConeType, kExampleRings);
    int written = 0, skipped = 0, failed = 0;
    uint32_t frame = 1;
    for (const ExampleEye& eye : exampleEyes()) {
        const QString prefix = QDir(dir).filePath(eye.name);
        QString existing;
        for (const char* suffix : {"a.txt", "d.txt", "m.txt"})
            if (existing.isEmpty() && QFileInfo::exists(prefix + QLatin1String(suffix))) existing = prefix + QLatin1String(suffix);
        if (!existing.isEmpty()) {
            std::fprintf(stderr, "mkexemplos: %s ignorado: o arquivo %s já existe e não foi substituído.\n",
                         qPrintable(eye.name), qPrintable(existing));
            ++skipped;
            continue;
        }
        QImage image;
        renderer.liveFrame(eye.target, frame++, &image);
        Topography t;
        QString why;
        if (!processor.process(image, &t, &why)) {
            std::fprintf(stderr, "mkexemplos: %s não pôde ser medido: %s\n", qPrintable(eye.name), qPrintable(why));
            ++failed;
            continue;
        }
        if (!writeExamFiles(prefix, t, kExampleRings, &why)) {
            std::fprintf(stderr, "mkexemplos: %s ignorado: %s\n", qPrintable(eye.name), qPrintable(why));
            ++skipped;
            continue;
        }
        ++written;
    }
    std::fprintf(stdout, "mkexemplos: %d exemplos gravados, %d ignorados, %d com falha.\n", written, skipped, failed);
    return failed > 0 ? 1 : 0;
}
