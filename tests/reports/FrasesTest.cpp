// The generated sentences byte for byte (both map types, both notations, an eye without
// values) and the gaps of a report box: finding, filling, emptying and the mandatory check.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <cmath>
#include <limits>

#include "reports/FrasesLaudo.h"
#include "reports/Lacunas.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

using namespace norvix;

namespace {

const TNotacao kPonto{QLatin1Char('.'), QLatin1Char(',')};  // the program's own notation

TValoresMapa valores() {
    TValoresMapa v{};
    v[0] = 43.25;   // P1
    v[1] = 44.75;   // P2
    v[4] = -1.5;    // astigmatism
    v[6] = 90;      // Ax1
    v[7] = 87.5;    // Ax2
    v[8] = 45.678;  // Cmax
    v[2] = v[3] = v[5] = std::numeric_limits<double>::quiet_NaN();  // not used, never printed
    return v;
}

}  // namespace

TEST(Formatos, FTwoDecimalsGroupedNegativeInParentheses) {
    // The operator's notation by default; the program's own when asked.
    EXPECT_EQ(FormatoF(-1.5), "(1,50)");
    EXPECT_EQ(FormatoF(-1.5, kPonto), "(1.50)");
    EXPECT_EQ(FormatoF(1234.5), "1.234,50");
    EXPECT_EQ(FormatoF(1234.5, kPonto), "1,234.50");
    EXPECT_EQ(FormatoF(-1234567.891), "(1.234.567,89)");
    EXPECT_EQ(FormatoF(0.004), "0,00");
    EXPECT_EQ(FormatoF(-0.004), "0,00");  // rounds to zero: no parentheses
    EXPECT_EQ(FormatoF(-0.004, kPonto), "0.00");
    EXPECT_EQ(FormatoF(999.999), "1.000,00");
    EXPECT_EQ(FormatoF(std::nan("")), kSemValor);
}

TEST(Formatos, GShortestGeneralForm) {
    EXPECT_EQ(FormatoG(90), "90");
    EXPECT_EQ(FormatoG(87.5), "87,5");
    EXPECT_EQ(FormatoG(87.5, kPonto), "87.5");
    EXPECT_EQ(FormatoG(0.1 + 0.2), "0,3");  // 15 significant digits
    EXPECT_EQ(FormatoG(-0.0), "0");
    EXPECT_EQ(FormatoG(std::numeric_limits<double>::infinity()), kSemValor);
}

TEST(Frases, ConditionsAndConclusion) {
    EXPECT_EQ(FrasesCondicoes(),
              QStringList({"Exames realizado em excelentes condições de centralização e focalização.",
                           "Sem uso de lentes de contato #1# #2# #3#"}));
    EXPECT_EQ(FraseConclusao(),
              "Videoceratografia compatível com astigmatismo #1# #2# e #3# #4#, #5#, #6# em OD e compatível com "
              "astigmatismo #7# #8# e #9# #10#, #11#, #12# em OS. #13# #14##15# #16#.");
    EXPECT_EQ(Lacunas(FraseConclusao()).size(), 16);
}

TEST(Frases, AxialEyeSentenceByteForByte) {
    EXPECT_EQ(FraseOlho(TipoMapa::Axial, valores()),
              "Astigmatismo #1# #2# e #3# #4#, #5#, com curvatura máxima observada de 45,68 D, #6# no mapa de "
              "construção Axial (ou Sagital, com eixo passando pelo ápice corneano). A Ceratometria Simulada "
              "Ortogonalmente Corrigida dos 3 mm centrais da córnea, segundo o mapa de construção axial, revela #7# "
              "astigmatismo corneano de (1,50) D @ 90º com meridianos de 43,25 D @ 90º e 44,75 D @ 87,5º.");
}

TEST(Frases, TangentialEyeSentenceWithCommaDecimals) {
    EXPECT_EQ(FraseOlho(TipoMapa::Tangencial, valores()),
              "Astigmatismo #1# #2# e #3# #4#, #5#, com curvatura máxima observada de 45,68 D, #6# no mapa de "
              "construção Tangencial. A Ceratometria Simulada Ortogonalmente Corrigida dos 3 mm centrais da córnea, "
              "segundo o mapa de construção tangencial, revela #7# astigmatismo corneano de (1,50) D @ 90º com "
              "meridianos de 43,25 D @ 90º e 44,75 D @ 87,5º.");
}

TEST(Frases, AnEyeWithoutValuesKeepsItsSevenGapsAndNoFigures) {
    const QString frase = FraseOlho(TipoMapa::Axial, std::nullopt);
    EXPECT_EQ(Lacunas(frase).size(), 7);
    EXPECT_EQ(frase.count(QLatin1String(kSemValor)), 7);  // six figures, the first axis twice
    EXPECT_FALSE(frase.contains(QRegularExpression("\\d\\.\\d")));
    // Only a call that returned 1 with numbers in the six printed values gives figures: a NaN
    // among the unused ones is no matter, a record left all zero is no result.
    struct Caso { int retorno; int indice; double valor; bool usa; };
    for (const Caso& c : {Caso{1, -1, 0, true}, Caso{0, -1, 0, false}, Caso{-1, -1, 0, false}, Caso{1, 8, std::nan(""), false},
                          Caso{1, 2, std::nan(""), true}, Caso{1, -2, 0, false}}) {
        TValoresMapa v = valores();
        if (c.indice >= 0) v[size_t(c.indice)] = c.valor;
        if (c.indice == -2) v.fill(0);
        double r[9];
        std::copy(v.begin(), v.end(), r);
        EXPECT_EQ(ValoresDoMapa(c.retorno, r).has_value(), c.usa) << c.retorno << " " << c.indice;
    }
}

TEST(Frases, KeratoconusSentencesOnlyForASuspectOrKeratoconusEye) {
    const double nan = std::nan("");
    const TIndicesCeratocone nada{1.2, 0.5, 0.3, 20, 1}, suspeito{1.6, 0.9, 0.6, 75.4, 2}, cone{3.05, 2.1, 1.4, 8693.4, 3},
        semIs{nan, 2.1, 1.4, nan, 3};
    EXPECT_EQ(FraseCeratocone(nada), "");
    EXPECT_EQ(FraseCeratocone(TIndicesCeratocone{}), "");
    EXPECT_EQ(FraseCeratocone(suspeito),
              "Índices de ceratocone do mapa axial: I-S 1,60 D, SAI 0,90 D, SRI 0,60, KISA% 75. Triagem: Suspeito.");
    EXPECT_EQ(FraseCeratocone(cone, {QLatin1Char(','), QLatin1Char('.')}),
              "Índices de ceratocone do mapa axial: I-S 3,05 D, SAI 2,10 D, SRI 1,40, KISA% 8693. Triagem: Compatível com ceratocone.");
    EXPECT_TRUE(FraseCeratocone(semIs).startsWith(QStringLiteral("Índices de ceratocone do mapa axial: I-S ____ D,")));
    EXPECT_TRUE(FraseCeratocone(semIs).contains("KISA% ____."));
    EXPECT_EQ(ConclusaoCeratocone(nada, std::nullopt), "");
    EXPECT_EQ(ConclusaoCeratocone(cone, suspeito), "Triagem de ceratocone: compatível com ceratocone em OD; suspeita de ceratocone em OS.");
    EXPECT_EQ(ConclusaoCeratocone(std::nullopt, cone), "Triagem de ceratocone: compatível com ceratocone em OS.");
}

// ---- gaps ---------------------------------------------------------------------------------------

// The printed page: open gaps leave no debris; words the operator chose, and his own text, stay.
TEST(Lacunas, ThePrintedTextSweepsTheDebrisOfOpenGaps) {
    const struct {
        const char* caixa;
        const char* impresso;
    } casos[] = {
        {"Astigmatismo #1# #2# e #3# #4#, #5#, com curvatura", "Astigmatismo, com curvatura"},
        {"Astigmatismo #1-regular# #2-simétrico# e #3# #4#, #5#, com", "Astigmatismo regular simétrico, com"},
        {"Astigmatismo #1# #2# e #3-irregular# #4#, #5-leve#, com", "Astigmatismo irregular, leve, com"},
        {"Astigmatismo #1-regular# #2# e #3-irregular# #4#, #5#, com", "Astigmatismo regular e irregular, com"},
        {"compatível com astigmatismo #7# #8# e #9# #10#, #11#, #12# em OS. #13# #14##15# #16#.",
         "compatível com astigmatismo, em OS."},
        {"Sem uso de lentes de contato #1# #2# #3#\nsegunda  linha", "Sem uso de lentes de contato\nsegunda linha"},
        // A stored report has no gaps left, only their debris.
        {"astigmatismo  e  , , com", "astigmatismo, com"},
        {"Texto do médico... com reticências e #1# sem lacuna fechada #", "Texto do médico... com reticências e sem lacuna fechada #"},
    };
    for (const auto& c : casos) EXPECT_EQ(TextoImpresso(QString::fromUtf8(c.caixa)), QString::fromUtf8(c.impresso)) << c.caixa;
}

TEST(Lacunas, FillingAndEmptyingByPosition) {
    const QString texto = "A #1# b #2# c #3#";
    EXPECT_EQ(PreencheLacuna(texto, 2, "regular"), "A #1# b #2-regular# c #3#");
    // A filled gap is refilled and emptied again by its position.
    EXPECT_EQ(PreencheLacuna("A #1# b #2-regular# c #3#", 2, "irregular"), "A #1# b #2-irregular# c #3#");
    EXPECT_EQ(PreencheLacuna("A #1# b #2-regular# c #3#", 2, ""), texto);
    // Numbers follow the position, whatever the gap carried.
    EXPECT_EQ(PreencheLacuna("x #7# y", 1, "z"), "x #1-z# y");
    // No such gap, or none at all: the text is unchanged.
    EXPECT_EQ(PreencheLacuna(texto, 4, "x"), texto);
    EXPECT_EQ(PreencheLacuna(texto, 0, "x"), texto);
    EXPECT_EQ(PreencheLacuna("sem lacunas", 1, "x"), "sem lacunas");
}

TEST(Lacunas, APhraseWithHashSignsCannotSplitAGap) {
    const QString frase = QString("#1# texto ").repeated(25).left(250);
    const QString r = PreencheLacuna("#1# #2# #3#", 2, frase);
    EXPECT_EQ(Lacunas(r).size(), 3);
    EXPECT_FALSE(Lacunas(r)[1].aberta());
    EXPECT_EQ(Lacunas(r)[2].conteudo, "3");
}

TEST(Lacunas, TypedHashSignsAreHandledWithoutLoss) {
    // A lone "#" pairs with nothing: no gap, and filling changes nothing.
    EXPECT_TRUE(Lacunas("texto # solto").isEmpty());
    EXPECT_EQ(PreencheLacuna("texto # solto", 1, "x"), "texto # solto");
    // A "#" typed between gaps shifts the pairs after it: a fill never replaces the operator's
    // text that now sits between two "#".
    const QString typed = "A # b #1# c #2#";
    ASSERT_EQ(Lacunas(typed).size(), 2);
    EXPECT_FALSE(Lacunas(typed)[1].preenchivel());
    EXPECT_EQ(PreencheLacuna(typed, 2, "x"), typed);
    EXPECT_TRUE(Lacunas("#12-abc# #3#")[0].preenchivel());
    // "#12#" typed by the operator is one open gap.
    ASSERT_EQ(Lacunas("ver #12#").size(), 1);
    EXPECT_TRUE(Lacunas("ver #12#")[0].aberta());
}

TEST(Lacunas, MandatoryGapsAreTwoFourFiveEightTenEleven) {
    QString co = FraseConclusao();
    EXPECT_EQ(LacunasObrigatoriasAbertas(co), QList<int>({2, 4, 5, 8, 10, 11}));
    for (int n : {1, 3, 6, 7, 9, 12, 13, 14, 15, 16}) co = PreencheLacuna(co, n, "x");
    EXPECT_EQ(LacunasObrigatoriasAbertas(co), QList<int>({2, 4, 5, 8, 10, 11}));  // open 1, 3, 6, 7 never count
    for (int n : {2, 4, 5, 8, 10}) co = PreencheLacuna(co, n, "x");
    EXPECT_EQ(LacunasObrigatoriasAbertas(co), QList<int>({11}));
    // A gap of more than two characters without "-" is not open; a box of seven gaps has no 8th.
    EXPECT_TRUE(LacunasObrigatoriasAbertas("#1# #abc# #3# #4-x# #5-y#").isEmpty());
    EXPECT_EQ(LacunasObrigatoriasAbertas(FraseOlho(TipoMapa::Axial, valores())), QList<int>({2, 4, 5}));
}
