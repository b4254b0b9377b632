#include "CalibrationFit.h"

#include "platform/Convert.h"

#include <QFile>
#include <QList>
#include <QSaveFile>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace norvix::calibracao {

QString raioEsfera(int esfera) {
    static const char* const kRaios[kEsferas] = {"7.73", "8.05", "8.34", "8.91"};
    return esfera >= 1 && esfera <= kEsferas ? QString::fromLatin1(kRaios[esfera - 1]) : QString();
}

namespace {
// Plain decimal notation with an optional exponent; "inf", "nan", hex and "," are refused.
// std::from_chars reads exactly that once a leading "+" is put aside, without the regular
// expression and the text conversions that were most of a calibration's save.
bool leNumero(const QByteArray& texto, double* v) {
    const char* inicio = texto.constData();
    const char* fim = inicio + texto.size();
    if (inicio != fim && *inicio == '+') {
        ++inicio;
        if (inicio != fim && *inicio == '-') return false;
    }
    const auto [onde, erro] = std::from_chars(inicio, fim, *v);
    return erro == std::errc() && onde == fim && inicio != fim && std::isfinite(*v);
}
}  // namespace

bool LeArquivoEsfera(const QByteArray& conteudo, ArquivoEsfera* out, QString* motivo) {
    QList<QByteArray> linhas = conteudo.split('\n');
    while (!linhas.isEmpty() && linhas.last().trimmed().isEmpty()) linhas.removeLast();
    if (linhas.isEmpty()) {
        *motivo = QStringLiteral("o arquivo está vazio");
        return false;
    }
    std::vector<double> valores;
    valores.reserve(size_t(linhas.size()));
    for (qsizetype i = 0; i < linhas.size(); ++i) {
        const QByteArray texto = linhas[i].trimmed();
        double v = 0;
        if (!leNumero(texto, &v)) {
            *motivo = QStringLiteral("a linha %1 (\"%2\") não é um número com ponto decimal")
                          .arg(i + 1)
                          .arg(QString::fromLatin1(texto.left(40)));
            return false;
        }
        valores.push_back(v);
    }
    out->referencia = valores.front();
    out->aneis.assign(valores.begin() + 1, valores.end());
    return true;
}

bool AjustaRetas(const std::array<ArquivoEsfera, kEsferas>& esferas, int n, Ajuste* out, QString* motivo) {
    out->a.assign(size_t(std::max(n, 0)), 0.0);
    out->b.assign(size_t(std::max(n, 0)), 0.0);
    out->aneisSemReta.clear();
    out->aneisMedidos = 0;
    const size_t linhas = std::min(esferas[0].aneis.size(), out->a.size());
    if (linhas == 0) {
        *motivo = QStringLiteral("a esfera 1 não tem nenhum anel medido");
        return false;
    }
    for (int k = 1; k < kEsferas; ++k) {
        if (esferas[size_t(k)].aneis.size() < linhas) {
            *motivo = QStringLiteral("a esfera %1 tem %2 anéis medidos e a esfera 1 tem %3")
                          .arg(k + 1).arg(esferas[size_t(k)].aneis.size()).arg(linhas);
            return false;
        }
    }
    out->aneisMedidos = int(linhas);
    // The sums cancel heavily in G = 4·Syy − Sy²: they are kept in extended precision, so
    // that values worked out by hand come out to the 15 digits the file shows.
    long double sx = 0;
    for (const ArquivoEsfera& e : esferas) sx += e.referencia;
    for (size_t i = 0; i < linhas; ++i) {
        long double sy = 0, sxy = 0, syy = 0;
        for (const ArquivoEsfera& e : esferas) {
            const long double y = e.aneis[i];
            sy += y;
            sxy += e.referencia * y;
            syy += y * y;
        }
        const long double g = 4 * syy - sy * sy;
        const double a = double((syy * sx - sy * sxy) / g);
        const double b = double((4 * sxy - sy * sx) / g);
        // Four equal measures make a vertical line: the ring stays uncalibrated instead of
        // failing the whole calibration.
        if (g == 0 || !std::isfinite(a) || !std::isfinite(b)) {
            out->aneisSemReta.push_back(int(i) + 1);
            continue;
        }
        out->a[i] = a;
        out->b[i] = b;
    }
    return true;
}

namespace {
QString milimetros(double v) { return textoDecimal(v, 2); }
}  // namespace

double RaioMedio(const ArquivoEsfera& esfera) {
    double soma = 0;
    for (double r : esfera.aneis) soma += r;
    return esfera.aneis.empty() ? 0 : soma / double(esfera.aneis.size());
}

QString ConfereEsfera(const ArquivoEsfera& esfera, double esperado) {
    const double medido = RaioMedio(esfera);
    if (std::abs(medido - esperado) <= kToleranciaEsfera) return {};
    return QStringLiteral("A esfera medida (%1 mm) não corresponde à esperada (%2 mm). Verifique o calibrador.")
        .arg(milimetros(medido), milimetros(esperado));
}

QString ConfereAjuste(const std::array<ArquivoEsfera, kEsferas>& esferas, const Ajuste& ajuste) {
    if (!ajuste.aneisSemReta.empty())
        return QStringLiteral("as quatro esferas deram a mesma medida no anel %1 (o calibrador foi girado?)")
            .arg(ajuste.aneisSemReta.front());
    for (int i = 0; i < ajuste.aneisMedidos; ++i) {
        const double a = ajuste.a[size_t(i)], b = ajuste.b[size_t(i)];
        if (b < kInclinacaoMinima || b > kInclinacaoMaxima)
            return QStringLiteral("o anel %1 tem inclinação %2, fora do intervalo de 0,80 a 1,25 (as esferas foram "
                                  "apresentadas na ordem e o calibrador foi girado?)")
                .arg(i + 1).arg(textoDecimal(b, 3));
        for (int k = 0; k < kEsferas; ++k) {
            const ArquivoEsfera& e = esferas[size_t(k)];
            const double residuo = std::abs(a + b * e.aneis[size_t(i)] - e.referencia);
            if (residuo > kResiduoMaximo)
                return QStringLiteral("no anel %1 a esfera %2 mm fica a %3 mm da reta ajustada (o máximo é 0,02 mm)")
                    .arg(i + 1).arg(milimetros(e.referencia), textoDecimal(residuo, 3));
        }
    }
    return {};
}

QByteArray FormataNumero(double v) {
    if (v == 0 || !std::isfinite(v)) return QByteArrayLiteral("0");
    // The 15 significant digits after rounding, and the exponent of the rounded value.
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", v);
    QByteArray texto(buf);
    const bool negativo = texto.startsWith('-');
    if (negativo) texto.remove(0, 1);
    const qsizetype e = texto.indexOf('e');
    const int expoente = std::atoi(texto.constData() + e + 1);
    QByteArray digitos = texto.left(e);
    digitos.remove(1, 1);  // the point
    while (digitos.size() > 1 && digitos.endsWith('0')) digitos.chop(1);

    QByteArray r;
    if (expoente < -5 || expoente >= 15) {
        r = digitos.left(1);
        if (digitos.size() > 1) r += '.' + digitos.mid(1);
        r += 'E' + QByteArray::number(expoente);
    } else if (expoente < 0) {
        r = "0." + QByteArray(-expoente - 1, '0') + digitos;
    } else {
        if (digitos.size() <= expoente + 1) digitos += QByteArray(expoente + 1 - digitos.size(), '0');
        r = digitos.left(expoente + 1);
        if (digitos.size() > expoente + 1) r += '.' + digitos.mid(expoente + 1);
    }
    return negativo ? '-' + r : r;
}

QByteArray ConteudoCoef(const Ajuste& ajuste) {
    QByteArray r;
    for (size_t i = 0; i < ajuste.a.size(); ++i) r += FormataNumero(ajuste.a[i]) + "\r\n" + FormataNumero(ajuste.b[i]) + "\r\n";
    return r;
}

bool GravaCoef(const QString& diretorio, int n, Ajuste* ajuste, QString* motivo) {
    std::array<ArquivoEsfera, kEsferas> esferas;
    for (int k = 1; k <= kEsferas; ++k) {
        QFile f(diretorio + QString::number(k) + QStringLiteral(".txt"));
        if (!f.open(QIODevice::ReadOnly)) {
            *motivo = QStringLiteral("o arquivo da esfera %1 (%2.txt) não pôde ser aberto").arg(raioEsfera(k)).arg(k);
            return false;
        }
        // Read up to the file's own size: a buffer of the whole limit would cost more than the fit.
        if (!LeArquivoEsfera(f.read(std::min(f.size(), kMaxArquivoEsfera)), &esferas[size_t(k - 1)], motivo)) {
            *motivo = QStringLiteral("no arquivo %1.txt, %2").arg(k).arg(*motivo);
            return false;
        }
    }
    if (!AjustaRetas(esferas, n, ajuste, motivo)) return false;
    if (*motivo = ConfereAjuste(esferas, *ajuste); !motivo->isEmpty()) return false;
    QSaveFile coef(diretorio + QStringLiteral("Coef.txt"));
    const QByteArray conteudo = ConteudoCoef(*ajuste);
    if (!coef.open(QIODevice::WriteOnly) || coef.write(conteudo) != conteudo.size() || !coef.commit()) {
        *motivo = QStringLiteral("não foi possível gravar Coef.txt (%1)").arg(coef.errorString());
        return false;
    }
    return true;
}

}  // namespace norvix::calibracao
