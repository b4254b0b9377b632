// simcapture [--cone N] [--noise SEED] [--quadro N [--estado]] "<target description>" out.bmp
// Writes what the simulated instrument would capture of a target, in the capture module's
// 32-bit BMP layout (a PNG when the name ends in ".png", to look at). For tests, calibration
// trials and the example exams. --quadro: frame N (at 30 frames a second) of a moving target;
// --estado also prints its true state: "x_mm y_mm dz_mm fechamento_palpebras".
#include <QCoreApplication>
#include <QSaveFile>
#include <QStringList>
#include <cstdio>

#include "Bmp32.h"
#include "SimulatedEye.h"

namespace {
int usage(const QString& why) {
    std::fprintf(stderr, "simcapture: %s\nUso: simcapture [--cone N] [--noise SEMENTE] [--quadro N [--estado]] \"<descrição do alvo>\" "
                 "saida.bmp\n",
                 why.toUtf8().constData());
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int cone = 4;
    bool noisy = false;
    uint32_t seed = 0, frameNumber = 0;
    bool state = false;
    QStringList positional;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--estado")) {
            state = true;
        } else if (a == QLatin1String("--cone") || a == QLatin1String("--noise") || a == QLatin1String("--quadro")) {
            if (i + 1 >= args.size()) return usage(QStringLiteral("falta o valor de %1.").arg(a));
            bool ok = false;
            const uint v = args[++i].toUInt(&ok);
            if (!ok) return usage(QStringLiteral("valor inválido para %1: %2.").arg(a, args[i]));
            if (a == QLatin1String("--cone")) {
                if (v < 1 || v > 4) return usage(QStringLiteral("tipo de cone deve ser de 1 a 4."));
                cone = int(v);
            } else if (a == QLatin1String("--quadro")) {
                frameNumber = v;
            } else {
                noisy = true;
                seed = v;
            }
        } else {
            positional << a;
        }
    }
    if (positional.size() != 2) return usage(QStringLiteral("são necessários a descrição do alvo e o arquivo de saída."));
    norvix::sim::Target target;
    QString error;
    if (!norvix::sim::parseTarget(positional[0], &target, &error)) return usage(error);
    norvix::sim::Renderer renderer(cone);
    // The noise's seed stays apart from the frame number, so one moment can be seen with
    // several noises.
    QImage frame = renderer.render(target, frameNumber);
    if (noisy) renderer.addSensorNoise(QImage(frame), seed, &frame);
    if (state) {
        const norvix::sim::MotionState m = norvix::sim::motionAt(target, frameNumber);
        std::printf("%.4f %.4f %.4f %.3f\n", m.xMm, m.yMm, m.dzMm, m.lidClosure);
    }
    QSaveFile out(positional[1]);
    const bool png = positional[1].endsWith(QLatin1String(".png"), Qt::CaseInsensitive);
    if (!out.open(QIODevice::WriteOnly) || !(png ? frame.save(&out, "PNG") : out.write(norvix::sim::encodeBmp32(frame)) >= 0) ||
        !out.commit()) {
        std::fprintf(stderr, "simcapture: não foi possível gravar %s: %s\n", positional[1].toUtf8().constData(),
                     out.errorString().toUtf8().constData());
        return 1;
    }
    return 0;
}
