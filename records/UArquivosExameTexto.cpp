#include "UArquivosExameTexto.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace norvix {

QString TextoSemMarcas(const QString& texto) {
    QString saida;
    saida.reserve(texto.size());
    const qsizetype n = texto.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = texto.at(i);
        if (c != QLatin1Char('#')) {
            saida.append(c);
            ++i;
            continue;
        }
        const qsizetype fecha = texto.indexOf(QLatin1Char('#'), i + 1);
        if (fecha < 0) {
            // Never closed: it is the operator's own text, not a marker.
            saida.append(QStringView(texto).mid(i));
            break;
        }
        const QStringView parte = QStringView(texto).mid(i + 1, fecha - i - 1);
        if (parte.size() > 2) {
            const qsizetype traco = parte.indexOf(QLatin1Char('-'));
            // Without "-" the operator typed the text between the signs himself: keep it.
            saida.append(traco >= 0 ? parte.mid(traco + 1) : parte);
        }
        i = fecha + 1;
    }
    return saida;
}

QString ConverteDecimal(const QString& numero, QChar separador) {
    if (numero.contains(separador)) return numero;
    const QChar outro = separador == QLatin1Char(',') ? QLatin1Char('.') : QLatin1Char(',');
    QString r = numero;
    const qsizetype p = r.indexOf(outro);
    if (p >= 0) r[p] = separador;
    return r;
}

QString MaiusculasComAcentos(const QString& texto) {
    static const QString minusculas = QStringLiteral("áàãâäéèêëíìîïóòõôöúùüûç");
    static const QString maiusculas = QStringLiteral("ÁÀÃÂÄÉÈÊËÍÌÎÏÓÒÕÔÖÚÙÜÛÇ");
    QString r = texto;
    for (qsizetype i = 0; i < r.size(); ++i) {
        const char16_t c = r.at(i).unicode();
        if (c >= u'a' && c <= u'z') {
            r[i] = QChar(c - u'a' + u'A');
        } else if (c >= 0xC0) {
            const qsizetype p = minusculas.indexOf(QChar(c));
            if (p >= 0) r[i] = maiusculas.at(p);
        }
    }
    return r;
}

QString PadraoLikeLiteral(const QString& texto, bool qualquerAntes, bool qualquerDepois) {
    QString r;
    r.reserve(texto.size() * 2 + 2);
    if (qualquerAntes) r += QLatin1Char('%');
    for (const QChar c : texto) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('%') || c == QLatin1Char('_')) r += QLatin1Char('\\');
        r += c;
    }
    if (qualquerDepois) r += QLatin1Char('%');
    return r;
}

// The table writers format 12,000 values per file, so this is written by hand: no locale and
// no allocation per value (QString::arg has both), with std::to_chars giving the correctly
// rounded digits where the quick integer arithmetic could be wrong.
void FormataValor0000(QByteArray& saida, double x) {
    if (!std::isfinite(x)) {
        saida.append("00.00", 5);
        return;
    }
    const double ax = std::fabs(x);
    char buf[400];
    char* fim;
    long long centesimos = -1;
    if (ax < 1e7) {
        // Fast path: the hundredths from the scaled value, unless the product lands so near a
        // half that its own rounding error (below 1e-7 in this range) could decide the digit.
        const double escala = ax * 100;
        const double piso = std::floor(escala);
        const double fracao = escala - piso;
        if (std::fabs(fracao - 0.5) > 1e-6) {
            centesimos = static_cast<long long>(piso) + (fracao > 0.5 ? 1 : 0);
        } else {
            const double oitavos = ax * 8;
            // Multiples of 1/8 are the only values that sit exactly half-way between two
            // hundredths; they round away from zero.
            if (oitavos == std::floor(oitavos)) centesimos = std::llround(escala);
        }
    }
    if (centesimos >= 0) {
        fim = std::to_chars(buf, buf + sizeof buf, centesimos / 100).ptr;
        *fim++ = '.';
        *fim++ = char('0' + (centesimos % 100) / 10);
        *fim++ = char('0' + centesimos % 10);
    } else {
        // Correctly rounded digits of the exact binary value (values near a half, huge ones).
        fim = std::to_chars(buf, buf + sizeof buf, ax, std::chars_format::fixed, 2).ptr;
    }
    bool zero = true;
    for (const char* p = buf; p < fim; ++p)
        if (*p >= '1' && *p <= '9') { zero = false; break; }
    if (std::signbit(x) && !zero) saida.append('-');
    if (fim - buf == 4) saida.append('0');  // one integer digit: "3.26" -> "03.26"
    saida.append(buf, fim - buf);
}

void FormataInteiro(QByteArray& saida, double x) {
    if (!std::isfinite(x)) {
        saida.append('0');
        return;
    }
    const double r = std::round(x);
    char buf[400];
    char* fim;
    if (std::fabs(r) < 9e18)
        fim = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(r)).ptr;
    else
        fim = std::to_chars(buf, buf + sizeof buf, r, std::chars_format::fixed, 0).ptr;
    saida.append(buf, fim - buf);
}

bool LeValor(const char* inicio, const char* fim, double* valor) {
    const std::ptrdiff_t n = fim - inicio;
    if (n <= 0 || n > 64) return false;
    char buf[64];
    std::memcpy(buf, inicio, static_cast<size_t>(n));
    if (!std::memchr(buf, '.', static_cast<size_t>(n))) {
        if (char* virgula = static_cast<char*>(std::memchr(buf, ',', static_cast<size_t>(n))))
            *virgula = '.';
    }
    double v = 0;
    const auto r = std::from_chars(buf, buf + n, v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != buf + n || !std::isfinite(v)) return false;
    *valor = v;
    return true;
}

}  // namespace norvix
