#pragma once
// Text helpers of the exam and report files: the report markup filter, the tolerant decimal
// notation of the readers, the accent-aware upper-casing of the name searches and the fixed
// number formats of the writers.
#include <QByteArray>
#include <QChar>
#include <QString>

namespace norvix {

// The text of a report box with its markers resolved to plain text: "#12-normal#" gives
// "normal", an open marker ("#3#", at most two characters between the signs) gives nothing.
// A marker longer than two characters without "-" keeps its text (only the signs go), and a
// "#" that is never closed is kept, with what follows it, as plain text.
QString TextoSemMarcas(const QString& texto);

// The number text with the program's decimal separator: when the text holds no separator,
// its first "," (or "." when the separator is ",") becomes the separator.
QString ConverteDecimal(const QString& numero, QChar separador = QLatin1Char('.'));

// Upper case for ASCII letters and the Portuguese accented letters; same length.
QString MaiusculasComAcentos(const QString& texto);

// The pattern of a "LIKE ... ESCAPE '\'" that finds texto literally: a backslash goes before
// every backslash, "%" and "_" of it, then the wildcards asked for around it.
QString PadraoLikeLiteral(const QString& texto, bool qualquerAntes, bool qualquerDepois);

// Appends x in the pattern "00.00" (at least two integer digits, two decimals, rounded half
// away from zero, "-" before a negative value). A value that is not finite is written as
// "00.00", so that the file stays readable.
void FormataValor0000(QByteArray& saida, double x);

// Appends x in the pattern "0" (nearest integer, half away from zero).
void FormataInteiro(QByteArray& saida, double x);

// Parses one value text of a data file: "," or "." as decimal separator (the ConverteDecimal
// rule), the whole text must be the number, and only finite values are accepted.
bool LeValor(const char* inicio, const char* fim, double* valor);

}  // namespace norvix
