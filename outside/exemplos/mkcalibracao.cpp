// mkcalibracao <pasta da calibração> [tipo do cone] [anéis]: the four reference spheres
// presented to the simulated instrument, measured as the processing module measures a sphere,
// their files 1.txt to 4.txt and the fitted Coef.txt written as the calibration window writes
// them. An installation made for demonstration then exports and measures like a calibrated
// one. Existing sphere files or Coef.txt are never replaced.
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>
#include <cstdio>

#include "calibration/CalibrationFit.h"
#include "capture/sim/SimulatedEye.h"
#include "outside/core/TopographyProcessor.h"

using namespace norvix;

int main(int argc, char** argv) {
    // The simulated instrument draws without a screen, as prepare-demo.sh runs it.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.size() > 4) {
        std::fprintf(stderr, "Uso: mkcalibracao <pasta da calibração> [tipo do cone, 1 a 4] [anéis]\n");
        return 2;
    }
    QString dir = args[1];
    if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
    const int cone = args.size() > 2 ? args[2].toInt() : 4;
    const int rings = args.size() > 3 ? args[3].toInt() : 32;
    if (cone < 1 || cone > 4 || rings < 1 || rings > 32) {
        std::fprintf(stderr, "mkcalibracao: tipo do cone de 1 a 4 e de 1 a 32 anéis.\n");
        return 2;
    }
    for (const char* nome : {"1.txt", "2.txt", "3.txt", "4.txt", "Coef.txt"})
        if (QFileInfo::exists(dir + QLatin1String(nome))) {
            std::fprintf(stdout, "mkcalibracao: %s%s já existe; a calibração não foi refeita.\n", qPrintable(dir), nome);
            return 0;
        }
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "mkcalibracao: não foi possível criar %s\n", qPrintable(dir));
        return 1;
    }
    sim::Renderer renderer(cone);
    const outside::TopographyProcessor processor(cone, rings);
    for (int k = 1; k <= calibracao::kEsferas; ++k) {
        const QString raio = calibracao::raioEsfera(k);
        sim::Target alvo;
        QString why;
        if (!sim::parseTarget(QStringLiteral("esfera ") + raio, &alvo, &why)) {
            std::fprintf(stderr, "mkcalibracao: %s\n", qPrintable(why));
            return 1;
        }
        QImage image;
        renderer.liveFrame(alvo, uint32_t(k), &image);
        auto t = std::make_unique<outside::Topography>();
        if (!processor.process(image, t.get(), &why)) {
            std::fprintf(stderr, "mkcalibracao: a esfera %s não pôde ser medida: %s\n", qPrintable(raio), qPrintable(why));
            return 1;
        }
        QByteArray texto = raio.toLatin1() + "\r\n";
        for (double r : outside::sphereRingRadii(*t)) texto += QByteArray::number(r, 'f', 6) + "\r\n";
        QSaveFile f(dir + QString::number(k) + QStringLiteral(".txt"));
        if (!f.open(QIODevice::WriteOnly) || f.write(texto) != texto.size() || !f.commit()) {
            std::fprintf(stderr, "mkcalibracao: não foi possível gravar %s\n", qPrintable(f.fileName()));
            return 1;
        }
    }
    calibracao::Ajuste ajuste;
    QString motivo;
    if (!calibracao::GravaCoef(dir, rings, &ajuste, &motivo)) {
        std::fprintf(stderr, "mkcalibracao: %s\n", qPrintable(motivo));
        return 1;
    }
    std::fprintf(stdout, "mkcalibracao: calibração gravada em %s (%d anéis medidos).\n", qPrintable(dir), ajuste.aneisMedidos);
    return 0;
}
