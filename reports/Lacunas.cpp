#include "Lacunas.h"

#include <QRegularExpression>

#include "records/UArquivosExameTexto.h"

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

namespace {

// "e" joins two runs of gaps ("#1# #2# e #3# #4#"): with either run left all open it joins
// nothing and goes.
QString semJuncoesVazias(const QString& texto) {
    static const QRegularExpression juncao(QStringLiteral(
        "((?:#\\d{1,2}(?:-[^#\\n]*)?#[ \t]*)*#\\d{1,2}(?:-[^#\\n]*)?#[ \t]+)e((?:[ \t]+#\\d{1,2}(?:-[^#\\n]*)?#)+)"));
    static const QRegularExpression preenchida(QStringLiteral("#\\d{1,2}-[^#\\n]*\\S[^#\\n]*#"));
    QString s;
    qsizetype desde = 0;
    for (auto it = juncao.globalMatch(texto); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        s += QStringView(texto).mid(desde, m.capturedStart() - desde);
        const bool junta = m.captured(1).contains(preenchida) && m.captured(2).contains(preenchida);
        s += junta ? m.captured(0) : m.captured(1) + m.captured(2);
        desde = m.capturedEnd();
    }
    return s + texto.mid(desde);
}

}  // namespace

QString TextoImpresso(const QString& bruto) {
    const QString texto = semJuncoesVazias(bruto);
    // Open gaps go; the blanks and commas around them are swept below.
    QString s;
    int desde = 0;
    for (const TLacuna& l : Lacunas(texto)) {
        s += texto.mid(desde, l.inicio - desde);
        if (!l.aberta()) s += TextoSemMarcas(texto.mid(l.inicio, l.tamanho));
        desde = l.inicio + l.tamanho;
    }
    s += texto.mid(desde);
    struct Regra {
        QRegularExpression padrao;
        QString troca;
    };
    static const Regra regras[] = {
        {QRegularExpression(QStringLiteral("[ \t]+")), QStringLiteral(" ")},
        {QRegularExpression(QStringLiteral(" (?=[.,;:])")), QString()},
        {QRegularExpression(QStringLiteral(" e(?=[.,;:])")), QString()},
        {QRegularExpression(QStringLiteral(",(?=[.,;:])")), QString()},
        {QRegularExpression(QStringLiteral("(?<!\\.)\\.\\.(?!\\.)")), QStringLiteral(".")},
        {QRegularExpression(QStringLiteral("^ ?[,;:] ?| $"), QRegularExpression::MultilineOption), QString()},
    };
    for (const Regra& r : regras) s.replace(r.padrao, r.troca);
    return s.trimmed();
}

}  // namespace norvix
