// Writes the skin pictures of the main window and the calibrator animations into a directory: mkskin <imgs-dir> [--overwrite]
#include <QGuiApplication>
#include <cstdio>
#include "CalibratorPictures.h"
#include "SkinPictures.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "uso: mkskin <diretório imgs> [--overwrite]\n");
        return 2;
    }
    const bool overwrite = args.contains(QStringLiteral("--overwrite"));
    const QStringList failed = norvix::skins::writeSkinPictures(args[1], overwrite) +
                               norvix::skins::writeCalibratorAnimations(args[1], overwrite);
    for (const QString& f : failed) std::fprintf(stderr, "não foi possível gravar %s\n", qPrintable(f));
    return failed.isEmpty() ? 0 : 1;
}
