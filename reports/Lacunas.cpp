#include "Lacunas.h"

namespace norvix {

bool TLacuna::preenchivel() const {
    if (aberta()) return true;
    const int traco = int(conteudo.indexOf(QLatin1Char('-')));
    if (traco < 1 || traco > 2) return false;
    for (int i = 0; i < traco; ++i)
        if (!conteudo[i].isDigit()) return false;
    return true;
}

QList<TLacuna> Lacunas(const QString& texto) {
    QList<TLacuna> lacunas;
    for (int i = texto.indexOf(QLatin1Char('#')); i >= 0;) {
        const int fim = texto.indexOf(QLatin1Char('#'), i + 1);
        if (fim < 0) break;
        lacunas.append({i, fim - i + 1, texto.mid(i + 1, fim - i - 1)});
        i = texto.indexOf(QLatin1Char('#'), fim + 1);
    }
    return lacunas;
}

QString PreencheLacuna(const QString& texto, int n, const QString& frase) {
    const QList<TLacuna> lacunas = Lacunas(texto);
    if (n < 1 || n > lacunas.size() || !lacunas[n - 1].preenchivel()) return texto;
    QString limpa = frase;
    limpa.remove(QLatin1Char('#'));
    const QString novo = limpa.isEmpty() ? QStringLiteral("#%1#").arg(n) : QStringLiteral("#%1-%2#").arg(n).arg(limpa);
    const TLacuna& l = lacunas[n - 1];
    return texto.left(l.inicio) + novo + texto.mid(l.inicio + l.tamanho);
}

QList<int> LacunasObrigatoriasAbertas(const QString& texto) {
    const QList<TLacuna> lacunas = Lacunas(texto);
    QList<int> abertas;
    for (int n : {2, 4, 5, 8, 10, 11})
        if (n <= lacunas.size() && lacunas[n - 1].aberta()) abertas.append(n);
    return abertas;
}

}  // namespace norvix
