// The save of a calibration without its window: the four sphere files read, the 32 lines
// fitted and Coef.txt rewritten through a temporary file, against the same I/O alone (the four
// files read and their bytes written as one file the same way), so the ratio shows what
// reading the numbers, fitting and formatting add.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "calibration/CalibrationFit.h"

namespace {

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
    QTemporaryDir dir;
    if (!dir.isValid()) return 1;
    const QString d = dir.path() + QLatin1Char('/');
    // Four spheres as the processing module writes them: the reference, then 32 ring radii.
    const double x[4] = {7.73, 8.05, 8.34, 8.91};
    for (int k = 0; k < 4; ++k) {
        QByteArray s = QByteArray::number(x[k], 'g', 15) + "\r\n";
        for (int ring = 1; ring <= 32; ++ring)
            s += QByteArray::number(x[k] * (0.985 + ring * 0.0007) - 0.01 * (ring % 3), 'f', 6) + "\r\n";
        QFile f(d + QString::number(k + 1) + ".txt");
        if (!f.open(QIODevice::WriteOnly) || f.write(s) != s.size()) return 1;
    }

    const auto salva = [&] {
        norvix::calibracao::Ajuste ajuste;
        QString motivo;
        if (!norvix::calibracao::GravaCoef(d, 32, &ajuste, &motivo)) std::abort();
    };
    const auto copia = [&] {
        QByteArray tudo;
        for (int k = 1; k <= 4; ++k) {
            QFile f(d + QString::number(k) + ".txt");
            if (!f.open(QIODevice::ReadOnly)) std::abort();
            tudo += f.readAll();
        }
        QSaveFile out(d + "copia.txt");
        if (!out.open(QIODevice::WriteOnly) || out.write(tudo) != tudo.size() || !out.commit()) std::abort();
    };
    std::array<norvix::calibracao::ArquivoEsfera, 4> esferas;
    for (int k = 0; k < 4; ++k) {
        QFile f(d + QString::number(k + 1) + ".txt");
        if (!f.open(QIODevice::ReadOnly)) return 1;
        QString motivo;
        norvix::calibracao::LeArquivoEsfera(f.readAll(), &esferas[size_t(k)], &motivo);
    }
    qint64 bytes = 0;
    const auto calculo = [&] {
        norvix::calibracao::Ajuste ajuste;
        QString motivo;
        norvix::calibracao::AjustaRetas(esferas, 32, &ajuste, &motivo);
        bytes += norvix::calibracao::ConteudoCoef(ajuste).size();
    };

    salva();
    copia();
    const double copiaUs = medianMicroseconds(copia, 200, 9);
    const double salvaUs = medianMicroseconds(salva, 200, 9);
    const double calculoUs = medianMicroseconds(calculo, 2000, 9);
    std::printf("ajuste de 32 anéis e Coef.txt em memória: %.2f us\n", calculoUs);
    std::printf("gravação da calibração (4 arquivos lidos, ajuste, Coef.txt atômico): %.2f us\n", salvaUs);
    std::printf("referência (4 arquivos lidos e copiados num arquivo atômico): %.2f us\n", copiaUs);
    std::printf("razao gravação / referência: %.2f\n", salvaUs / copiaUs);
    return bytes > 0 ? 0 : 1;
}
