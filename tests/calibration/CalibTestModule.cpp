// Plays both the capture and the processing module for the calibration window's tests.
// $CALIB_TL_DIR holds, for each sphere radius r, the file "r.txt" that ProcessaEsfera hands
// back as its result (no file: it returns 0); every call is logged to "log.txt" there.
// $CALIB_TL_CAPTURA = "cancelar" makes Digitalizar capture nothing.
#include <QByteArray>
#include <QFile>
#include <cstring>

#include "modules/ModuleContract.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {
QString dir() { return qEnvironmentVariable("CALIB_TL_DIR") + QLatin1Char('/'); }
void log(const QByteArray& line) {
    QFile f(dir() + QStringLiteral("log.txt"));
    if (f.open(QIODevice::Append)) f.write(line + '\n');
}
}  // namespace

EXPORT void Info(ModuleStream* out) {
    const char text[] = "Modulo de calibracao de teste\r\nsegunda linha\r\n";
    out->write(out->context, text, int64_t(std::strlen(text)));
}

EXPORT uint8_t Digitalizar(void*, ModuleStream* image, ModuleStream*, uint8_t mode, const char* caption) {
    log("Digitalizar|mode=" + QByteArray::number(mode) + "|" + caption);
    if (qEnvironmentVariable("CALIB_TL_CAPTURA") == QLatin1String("cancelar")) return 0;
    const char bmp[] = "BM imagem de teste";
    image->write(image->context, bmp, int64_t(sizeof bmp));
    return 1;
}

EXPORT int32_t ProcessaImagem(void*, ModuleStream*, double*, double*, TMatrizAngAnel*, TMatrizAng*, TMatrizAngAnel*,
                              TPupila*, double*, const TInfosQV*, const TPathsQV*) {
    return 0;
}

EXPORT int32_t ProcessaEsfera(void*, ModuleStream* image, const char* radius, ModuleStream* result,
                              const TInfosQV* infos) {
    char head[2] = {};
    image->read(image->context, head, 2);
    log("ProcessaEsfera|" + QByteArray(radius) + "|" + QByteArray(head, 2) + "|rings=" +
        QByteArray::number(infos->NumAneis));
    QFile f(dir() + QString::fromLatin1(radius) + QStringLiteral(".txt"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QByteArray content = f.readAll();
    result->write(result->context, content.constData(), content.size());
    return 1;
}
