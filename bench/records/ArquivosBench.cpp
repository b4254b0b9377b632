// Writing and reading back the three data files of a 32-ring exam (GravaArquivoD/M/A, then
// the readers) against writing and reading the same bytes raw with QFile. Prints the
// throughput in MB/s (bytes of the three files per write-and-read cycle) and the ratio.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <vector>

#include "config/SharedRecords.h"
#include "records/UArquivosExame.h"

using namespace norvix;

namespace {

struct Exame {
    TMatrizAngAnel d, m;
    TMatrizAng meridianos;
    TPupila pupila = {1, 2, 3, 4};
};

constexpr int kRodadas = 15, kVezes = 10;

template <typename F>
double mediana(F&& f) {
    std::vector<double> t;
    for (int r = 0; r < kRodadas; ++r) {
        QElapsedTimer relogio;
        relogio.start();
        for (int i = 0; i < kVezes; ++i) f();
        t.push_back(double(relogio.nsecsElapsed()) / kVezes / 1e9);
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

// Rounds alternate between the two sides so that both meet the same machine load; returns
// the median times of each side and the median of the per-round ratios.
template <typename F, typename G>
std::array<double, 3> compara(F&& nosso, G&& base) {
    std::vector<double> a, b, r;
    for (int rodada = 0; rodada < kRodadas; ++rodada) {
        QElapsedTimer relogio;
        relogio.start();
        for (int i = 0; i < kVezes; ++i) nosso();
        a.push_back(double(relogio.nsecsElapsed()) / kVezes / 1e9);
        relogio.restart();
        for (int i = 0; i < kVezes; ++i) base();
        b.push_back(double(relogio.nsecsElapsed()) / kVezes / 1e9);
        r.push_back(a.back() / b.back());
    }
    for (auto* v : {&a, &b, &r}) std::sort(v->begin(), v->end());
    return {a[a.size() / 2], b[b.size() / 2], r[r.size() / 2]};
}

void gravaBruto(const QString& caminho, const QByteArray& dados) {
    QFile f(caminho);
    if (!f.open(QIODevice::WriteOnly) || f.write(dados) != dados.size()) std::abort();
}

QByteArray leBruto(const QString& caminho) {
    QFile f(caminho);
    if (!f.open(QIODevice::ReadOnly)) std::abort();
    return f.readAll();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    setRecordText(paths().Exames, dir.path());
    QDir().mkpath(dir.path() + "/1");
    infos().NumAneis = 32;
    auto e = std::make_unique<Exame>();
    for (int k = 0; k < 360; ++k) {
        e->meridianos[k] = 32;
        for (int c = 0; c < 33; ++c) {
            e->d[k][c] = 0.25 * c + k * 0.001;
            e->m[k][c] = 44.0 - 0.31 * c + k * 0.002;
        }
    }
    const QByteArray d = TextoTabela(e->d, 32), m = TextoTabela(e->m, 32);
    const QByteArray a = TextoMeridianos(e->meridianos, 320, 240, e->pupila);
    const double megabytes = double(d.size() + m.size() + a.size()) / 1e6;

    auto lido = std::make_unique<Exame>();
    TArquivoA lidoA;
    const QString bruto = dir.path() + "/1/bruto";
    const auto [nosso, base, razao] = compara(
        [&] {
            GravaArquivoD(1, 2, e->d);
            GravaArquivoM(1, 2, e->m);
            GravaArquivoA(1, 2, e->meridianos, 320, 240, e->pupila);
            LeArquivoTabela(CaminhoArquivoExame(1, 2, 'd'), lido->d);
            LeArquivoTabela(CaminhoArquivoExame(1, 2, 'm'), lido->m);
            LeArquivoA(CaminhoArquivoExame(1, 2, 'a'), lidoA);
        },
        [&] {
            gravaBruto(bruto + "d", d);
            gravaBruto(bruto + "m", m);
            gravaBruto(bruto + "a", a);
            if (leBruto(bruto + "d").size() + leBruto(bruto + "m").size() +
                    leBruto(bruto + "a").size() != d.size() + m.size() + a.size())
                std::abort();
        });
    // Where the time goes: formatting and parsing alone, in memory.
    const double memoria = mediana([&] {
        LeTabela(TextoTabela(e->d, 32), lido->d);
        LeTabela(TextoTabela(e->m, 32), lido->m);
        LeMeridianos(TextoMeridianos(e->meridianos, 320, 240, e->pupila), lidoA);
    });
    std::printf("formatting and parsing alone, in memory: %.3f ms = %.1f MB/s (the rest is the "
                "atomic replacement: temporary file, flush to disk, rename)\n",
                memoria * 1e3, megabytes / memoria);
    std::printf("exam data files (32 rings, %.0f kB): write+read %.3f ms = %.1f MB/s; raw bytes "
                "%.3f ms = %.1f MB/s; ratio %.2f\n",
                megabytes * 1e3, nosso * 1e3, megabytes / nosso, base * 1e3, megabytes / base,
                razao);
    return 0;
}
