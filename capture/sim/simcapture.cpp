// simcapture [--cone N] [--noise SEED] [--quadro N [--estado]] "<target description>" out.bmp
// simcapture [--cone N] --video FPS SEGUNDOS "<target description>" out.lag
// Writes what the simulated instrument would capture of a target, in the capture module's
// 32-bit BMP layout (a PNG when the name ends in ".png", to look at). For tests, calibration
// trials and the example exams. --quadro: frame N (at 30 frames a second) of a moving target;
// --estado also prints its true state: "x_mm y_mm dz_mm fechamento_palpebras".
// --video: the camera's video at FPS frames a second (25 to 60), sensor noise included, as a
// tear-film recording (tearfilm/TearRecording.h), frame n at round(n * 1000 / FPS) ms: SEGUNDOS
// seconds of film (after the lids open, for a target with "lagrima"), or less when the blink
// that ends the test ("piscar") comes first: then up to the first frame with the lids closed.
// Exit status: 0 written, 1 not written, 2 wrong use. Nothing is printed on success.
#include <QCoreApplication>
#include <QSaveFile>
#include <QStringList>
#include <cstdio>

#include "Bmp32.h"
#include "SimulatedEye.h"
#include "tearfilm/TearRecording.h"

namespace {
int usage(const QString& why) {
    std::fprintf(stderr,
                 "simcapture: %s\n"
                 "Uso: simcapture [--cone N] [--noise SEMENTE] [--quadro N [--estado]] \"<descrição do alvo>\" saida.bmp\n"
                 "     simcapture [--cone N] --video QPS SEGUNDOS \"<descrição do alvo>\" saida.lag\n"
                 "  --video grava o vídeo da câmera (QPS quadros por segundo, de 25 a 60, com ruído) como gravação\n"
                 "  de filme lacrimal: SEGUNDOS de filme após a abertura das pálpebras (\"lagrima\"), ou até o\n"
                 "  primeiro quadro de pálpebras fechadas pela piscada final (\"piscar\").\n",
                 why.toUtf8().constData());
    return 2;
}

// The video of --video as a tear-film recording; 0, or 1 with a message when it was not written.
int writeVideo(const norvix::sim::Target& target, int cone, double fps, double seconds, const QString& path) {
    namespace sim = norvix::sim;
    sim::Renderer renderer(cone);
    renderer.setFrameRate(fps);
    norvix::lagrima::RecordingWriter writer;
    QString error;
    auto failed = [&] {
        std::fprintf(stderr, "simcapture: %s\n", error.toUtf8().constData());
        return 1;
    };
    const QImage& first = renderer.render(target, 0);
    if (first.isNull()) {
        error = QStringLiteral("o alvo não gerou imagem.");
        return failed();
    }
    if (!writer.open(path, first.width(), first.height(), fps, &error)) return failed();
    // Film time counts from the end of the opening lids; without a tear film, from frame 0.
    const double start = target.tearFilm.on ? sim::kTearOpenS : 0.0;
    const double blink = target.tearFilm.on ? target.tearFilm.blinkS : 0.0;
    QImage frame;
    for (uint32_t n = 0;; ++n) {
        const double film = n / fps - start;
        if (film > seconds + 1e-9) break;
        renderer.liveFrame(target, n, &frame);
        if (!writer.append(frame, qRound64(n * 1000.0 / fps), &error)) return failed();
        if (blink > 0 && film >= blink && sim::motionAt(target, n, fps).closed()) break;
    }
    if (!writer.finish(&error)) return failed();
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int cone = 4;
    bool noisy = false;
    uint32_t seed = 0, frameNumber = 0;
    bool state = false, video = false, framed = false;
    double fps = 0, seconds = 0;
    QStringList positional;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--estado")) {
            state = true;
        } else if (a == QLatin1String("--video")) {
            if (i + 2 >= args.size()) return usage(QStringLiteral("--video pede QPS e SEGUNDOS."));
            bool okFps = false, okSeconds = false;
            fps = QString(args[i + 1]).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&okFps);
            seconds = QString(args[i + 2]).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&okSeconds);
            if (!okFps || !(fps >= 25 && fps <= 60))
                return usage(QStringLiteral("quadros por segundo de --video devem ser de 25 a 60: %1.").arg(args[i + 1]));
            if (!okSeconds || !(seconds > 0 && seconds <= 600))
                return usage(QStringLiteral("segundos de --video devem ser mais de 0, até 600: %1.").arg(args[i + 2]));
            video = true;
            i += 2;
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
                framed = true;
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
    if (video) {
        if (framed || state || noisy) return usage(QStringLiteral("--video não se combina com --quadro, --estado ou --noise."));
        return writeVideo(target, cone, fps, seconds, positional[1]);
    }
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
