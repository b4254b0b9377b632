// Fuzz target: the readers of d.txt/m.txt, a.txt and l.txt, and the line-list parser. The
// first byte chooses the reader; the rest is the file content.
#include <QStringList>
#include <cmath>
#include <memory>

#include "FuzzAlvo.h"
#include "records/UArquivosExame.h"

using namespace norvix;

namespace {
long contagem = 0;
struct Matriz {
    TMatrizAngAnel v;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const QByteArray conteudo(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    try {
        switch (data[0] % 4) {
        case 0: {
            auto m = std::make_unique<Matriz>();
            LeTabela(conteudo, m->v);
            for (const auto& linha : m->v)
                for (double x : linha) fuzz::exige(std::isfinite(x));
            break;
        }
        case 1: {
            TArquivoA a;
            LeMeridianos(conteudo, a);
            fuzz::exige(std::isfinite(a.CentroX) && std::isfinite(a.CentroY));
            if (a.LayoutAntigo)
                for (int p : a.Pupila) fuzz::exige(p == 0);
            break;
        }
        case 2: {
            const TSecoesLaudo s = LeLaudo(conteudo);
            for (int i = 0; i < 5; ++i)
                for (const QString& linha : s.Linhas[size_t(i)])
                    fuzz::exige(linha != QLatin1String("@"));
            break;
        }
        default: {
            const QStringList linhas = QString::fromLatin1(conteudo).split(QLatin1Char('\n'));
            auto m = std::make_unique<Matriz>();
            int indice = -1;
            LeMatrizAngAnel(linhas, indice, m->v);
            fuzz::exige(indice == 359);
            break;
        }
        }
        ++contagem;
    } catch (const ArquivoExameError& e) {
        fuzz::exige(!e.message().isEmpty());
    }
    return 0;
}

namespace norvix::fuzz {

long aceitos() { return contagem; }

std::vector<QByteArray> sementes() {
    auto m = std::make_unique<Matriz>();
    for (int k = 0; k < 360; ++k)
        for (int c = 0; c < 33; ++c) m->v[k][c] = k * 0.37 - c * 1.5;
    TMatrizAng mer;
    for (int k = 0; k < 360; ++k) mer[k] = k % 33;
    const TPupila pupila = {1, 2, 3, 4};
    const QByteArray meridianos = TextoMeridianos(mer, 320.4, 239.6, pupila);
    QByteArray antigo = "320,5\r\n240\r\n";
    for (int k = 0; k < 360; ++k) antigo += QByteArray::number(k) + "\r\n";
    QByteArray virgulas;
    for (int k = 0; k < 360; ++k) virgulas += "43,25 7,5 -1,00\n";
    const QByteArray laudo =
        TextoLaudo({QStringLiteral("Condições"), QStringLiteral("a\nb"), QString(),
                    QStringLiteral("#1-x#"), QString()});
    return {QByteArray("\x00", 1) + TextoTabela(m->v, 32),
            QByteArray("\x04", 1) + TextoTabela(m->v, 16),
            QByteArray("\x00", 1) + virgulas, "\x01" + meridianos, "\x01" + antigo,
            "\x02" + laudo, "\x03" + TextoTabela(m->v, 32)};
}

}  // namespace norvix::fuzz
