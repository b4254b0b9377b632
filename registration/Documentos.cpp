#include "Documentos.h"

#include <QDate>

#include "platform/Cp1252.h"

namespace norvix::documentos {

namespace {
bool pontuacao(QChar c) {
    return c.isSpace() || c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char('/') ||
           c == QLatin1Char('(') || c == QLatin1Char(')');
}
}  // namespace

QString digitos(const QString& texto) {
    QString r;
    for (const QChar c : texto)
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) r += c;
    return r;
}

bool cpfValido(const QString& cpf) {
    if (cpf.size() != 11 || digitos(cpf) != cpf) return false;
    if (cpf.count(cpf.at(0)) == 11) return false;
    auto verificador = [&](int n) {  // the check digit after the first n digits
        int soma = 0;
        for (int i = 0; i < n; ++i) soma += cpf.at(i).digitValue() * (n + 1 - i);
        const int resto = soma * 10 % 11;
        return resto == 10 ? 0 : resto;
    };
    return verificador(9) == cpf.at(9).digitValue() && verificador(10) == cpf.at(10).digitValue();
}

QString formataCpf(const QString& d) {
    QString r;
    for (int i = 0; i < d.size(); ++i) {
        if (i == 3 || i == 6) r += QLatin1Char('.');
        if (i == 9) r += QLatin1Char('-');
        r += d.at(i);
    }
    return r;
}

QString formataCep(const QString& d) { return d.size() <= 5 ? d : d.left(5) + QLatin1Char('-') + d.mid(5); }

QString formataData(const QString& d) {
    QString r;
    for (int i = 0; i < d.size(); ++i) {
        if (i == 2 || i == 4) r += QLatin1Char('/');
        r += d.at(i);
    }
    return r;
}

bool dataNascimentoValida(const QString& data) {
    if (data.isEmpty()) return true;
    const QDate dia = QDate::fromString(data, QStringLiteral("dd/MM/yyyy"));
    return dia.isValid() && dia.year() >= 1900 && dia <= QDate::currentDate();
}

FormatoValidator::FormatoValidator(Formato formato, int maxDigitos, QObject* parent)
    : QValidator(parent), formato_(formato), maxDigitos_(maxDigitos) {}

QValidator::State FormatoValidator::validate(QString& texto, int& posicao) const {
    int antesDoCursor = 0;  // digits before the cursor: the cursor stays after them
    QString d;
    for (int i = 0; i < texto.size(); ++i) {
        const QChar c = texto.at(i);
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            d += c;
            if (i < posicao) ++antesDoCursor;
        } else if (!pontuacao(c)) {
            return Invalid;
        }
    }
    if (d.size() > maxDigitos_) return Invalid;
    const QString formatado = formato_ == Formato::Cpf    ? formataCpf(d)
                              : formato_ == Formato::Cep  ? formataCep(d)
                              : formato_ == Formato::Data ? formataData(d)
                                                          : d;
    if (formatado != texto) {
        texto = formatado;
        posicao = 0;
        for (int vistos = 0; posicao < texto.size() && vistos < antesDoCursor; ++posicao)
            if (texto.at(posicao).isDigit()) ++vistos;
    }
    return Acceptable;
}

QValidator::State Cp1252Validator::validate(QString& texto, int&) const {
    return fromCp1252(toCp1252(texto)) == texto ? Acceptable : Invalid;
}

}  // namespace norvix::documentos
