#pragma once
// The gaps of a report box: "#n#" open, "#n-text#" filled. A gap is the text between two "#"
// paired from the start of the box, addressed by its position (the k-th gap).
#include <QList>
#include <QString>

namespace norvix {

struct TLacuna {
    int inicio = 0;   // position of the opening "#"
    int tamanho = 0;  // from the opening "#" to the closing one, both included
    QString conteudo; // what lies between them
    bool aberta() const { return conteudo.size() <= 2; }
    // Open, or filled as "n-text": what a fill may replace. Anything else between two "#"
    // comes from a "#" the operator typed, and replacing it would lose his text.
    bool preenchivel() const;
};

// Every gap of the text, in order; a "#" left without a partner at the end is no gap.
QList<TLacuna> Lacunas(const QString& texto);

// The text with its n-th gap (from 1) made "#n-T#", or "#n#" when T is empty; unchanged when
// the text has fewer gaps, or when that gap is not one a fill may replace. A "#" inside T is left out: it would split the gap in two.
QString PreencheLacuna(const QString& texto, int n, const QString& frase);

// A box's text as the printed page shows it: gaps resolved (a filled one gives its words, an
// open one nothing) and the debris of open gaps swept: runs of blanks made one, no blank
// before a full stop or comma, no "e" left beside an open gap or before a comma, no comma
// doubled or before a full stop. The box and the stored report keep their text.
QString TextoImpresso(const QString& texto);

// The mandatory gaps (positions 2, 4, 5, 8, 10 and 11) still open, in order.
QList<int> LacunasObrigatoriasAbertas(const QString& texto);

}  // namespace norvix
