#include "FrasesLaudo.h"

#include <cmath>

#include "platform/Convert.h"
#include "tearfilm/TearFilm.h"

namespace norvix {

QString FormatoF(double valor, TNotacao n) {
    if (!std::isfinite(valor)) return QString::fromLatin1(kSemValor);
    // Rounded to the cent first, so that -0.004 prints 0,00 and not (0,00).
    QString texto = textoDecimal(std::fabs(valor), 2, true);
    const bool negativo = textoDecimal(valor, 2).startsWith(QLatin1Char('-'));
    if (n.decimal != QLatin1Char(',') || n.milhar != QLatin1Char('.')) {
        for (QChar& c : texto) {
            if (c == QLatin1Char(',')) c = n.decimal;
            else if (c == QLatin1Char('.')) c = n.milhar;
        }
    }
    return negativo ? QLatin1Char('(') + texto + QLatin1Char(')') : texto;
}

QString FormatoG(double valor, TNotacao n) {
    if (!std::isfinite(valor)) return QString::fromLatin1(kSemValor);
    if (valor == 0) valor = 0;  // no "-0"
    QString texto = QString::number(valor, 'g', 15);
    texto.replace(QLatin1Char('.'), n.decimal);
    return texto;
}

std::optional<TValoresMapa> ValoresDoMapa(int retorno, const double (&resultado)[9]) {
    if (retorno != 1) return std::nullopt;
    TValoresMapa v;
    bool algum = false;
    for (size_t i = 0; i < v.size(); ++i) v[i] = resultado[i];
    for (int i : {8, 4, 6, 0, 1, 7}) {
        if (!std::isfinite(v[size_t(i)])) return std::nullopt;
        algum = algum || v[size_t(i)] != 0;
    }
    if (!algum) return std::nullopt;
    return v;
}

QStringList FrasesCondicoes() {
    return {QStringLiteral("Exames realizado em excelentes condições de centralização e focalização."),
            QStringLiteral("Sem uso de lentes de contato #1# #2# #3#")};
}

QString FraseOlho(TipoMapa tipo, const std::optional<TValoresMapa>& valores, TNotacao n) {
    const bool com = valores.has_value();
    auto f = [&](int i) { return com ? FormatoF((*valores)[size_t(i)], n) : QString::fromLatin1(kSemValor); };
    auto g = [&](int i) { return com ? FormatoG((*valores)[size_t(i)], n) : QString::fromLatin1(kSemValor); };
    const QString meio =
        tipo == TipoMapa::Axial
            ? QStringLiteral(" D, #6# no mapa de construção Axial (ou Sagital, com eixo passando pelo ápice corneano). "
                             "A Ceratometria Simulada Ortogonalmente Corrigida dos 3 mm centrais da córnea, segundo o "
                             "mapa de construção axial, revela #7# astigmatismo corneano de ")
            : QStringLiteral(" D, #6# no mapa de construção Tangencial. A Ceratometria Simulada Ortogonalmente "
                             "Corrigida dos 3 mm centrais da córnea, segundo o mapa de construção tangencial, revela "
                             "#7# astigmatismo corneano de ");
    return QStringLiteral("Astigmatismo #1# #2# e #3# #4#, #5#, com curvatura máxima observada de ") + f(8) + meio +
           f(4) + QStringLiteral(" D @ ") + g(6) + QStringLiteral("º com meridianos de ") + f(0) +
           QStringLiteral(" D @ ") + g(6) + QStringLiteral("º e ") + f(1) + QStringLiteral(" D @ ") + g(7) +
           QStringLiteral("º.");
}

QString FraseConclusao() {
    return QStringLiteral(
        "Videoceratografia compatível com astigmatismo #1# #2# e #3# #4#, #5#, #6# em OD e compatível com "
        "astigmatismo #7# #8# e #9# #10#, #11#, #12# em OS. #13# #14##15# #16#.");
}

namespace {
bool sinais(const TIndicesCeratocone& i) { return i.triagem == 2 || i.triagem == 3; }
}  // namespace

QString FraseCeratocone(const TIndicesCeratocone& i, TNotacao n) {
    if (!sinais(i)) return {};
    return QStringLiteral("Índices de ceratocone do mapa axial: I-S %1 D, SAI %2 D, SRI %3, KISA% %4. Triagem: %5.")
        .arg(FormatoF(i.inferiorSuperior, n), FormatoF(i.sai, n), FormatoF(i.sri, n),
             std::isfinite(i.kisa) ? QString::number(std::llround(i.kisa)) : QString::fromLatin1(kSemValor),
             i.triagem == 3 ? QStringLiteral("Compatível com ceratocone") : QStringLiteral("Suspeito"));
}

QString ConclusaoCeratocone(const std::optional<TIndicesCeratocone>& od, const std::optional<TIndicesCeratocone>& os) {
    QStringList partes;
    for (const auto& [olho, i] : {std::pair{QStringLiteral("OD"), od}, std::pair{QStringLiteral("OS"), os}}) {
        if (!i || !sinais(*i)) continue;
        partes << (i->triagem == 3 ? QStringLiteral("compatível com ceratocone em %1") : QStringLiteral("suspeita de ceratocone em %1"))
                      .arg(olho);
    }
    return partes.isEmpty() ? QString() : QStringLiteral("Triagem de ceratocone: ") + partes.join(QStringLiteral("; ")) + QLatin1Char('.');
}

QString FraseFilmeLacrimal(const QDate& data, const QByteArray& json) {
    lagrima::TearFilmResult r;
    QString erro;
    if (!lagrima::fromJson(json, &r, &erro)) return {};
    return QStringLiteral("Filme lacrimal (%1): ").arg(data.toString(QStringLiteral("dd/MM/yyyy"))) +
           lagrima::reportSentence(r);
}

}  // namespace norvix
