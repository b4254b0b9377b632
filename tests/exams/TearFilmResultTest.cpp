// The tear-film result's stored form (a JSON text other tools read), its refusals and the
// report's wording; and the map's colours where the sectors are.
#include <gtest/gtest.h>

#include "tearfilm/TearFilmMap.h"

using namespace norvix::lagrima;

namespace {

constexpr double N = TearFilmResult::kNone;

TearFilmResult result(double first, double average, double recorded, double blink) {
    TearFilmResult r;
    r.firstS = first;
    r.averageS = average;
    r.recordedS = recorded;
    r.blinkS = blink;
    r.fps = 29.97;
    r.breakS.assign(kBands * kGroups, N);
    if (!std::isnan(first)) r.breakS[3] = first, r.breakS[kGroups + 5] = 0.1 + 2.0 / 3.0, r.breakS[30] = 19.999;
    r.breakS[kGroups * (kBands - 1)] = kNotAnalysedS;
    r.brokenArea = {{0, 0}, {first > 0 ? first : 1, 0.5}, {recorded, std::isnan(first) ? 0 : 37.25}};
    return r;
}

bool same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

}  // namespace

TEST(TearFilmResult, StoredFormReadsBackEqualAndSentenceIsWordedForTheReport) {
    struct Case {
        TearFilmResult r;
        const char* sentence;
    } cases[] = {
        {result(6.24, 9.75, 14, N), "Tempo de ruptura não invasivo: primeira ruptura em 6,2 s, média 9,7 s (alterado)."},
        {result(10.0, 12.35, 20, 18.5), "Tempo de ruptura não invasivo: primeira ruptura em 10,0 s, média 12,3 s."},
        {result(N, N, 14, 14), "Tempo de ruptura não invasivo: sem ruptura em 14,0 s de registro."},
        {result(N, N, 6.04, 6.04),
         "Tempo de ruptura não invasivo: sem ruptura em 6,0 s de registro; inconclusivo: registro de 6,0 s sem ruptura "
         "(mínimo 10 s)."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(reportSentence(c.r).toStdString(), c.sentence);
        TearFilmResult back;
        QString error;
        const QByteArray json = toJson(c.r);
        ASSERT_TRUE(fromJson(json, &back, &error)) << error.toStdString() << json.toStdString();
        EXPECT_TRUE(same(back.firstS, c.r.firstS) && same(back.averageS, c.r.averageS) &&
                    same(back.blinkS, c.r.blinkS) && back.recordedS == c.r.recordedS && back.fps == c.r.fps);
        ASSERT_EQ(back.breakS.size(), c.r.breakS.size());
        for (size_t i = 0; i < back.breakS.size(); ++i) EXPECT_TRUE(same(back.breakS[i], c.r.breakS[i])) << i;
        EXPECT_EQ(back.brokenArea, c.r.brokenArea);
        EXPECT_EQ(toJson(back), json);
    }
    // The keys other tools read, NaN as null.
    const QByteArray json = toJson(result(N, N, 14, N));
    for (const char* key : {"\"primeira_s\":null", "\"media_s\":null", "\"registro_s\":14", "\"piscada_s\":null",
                            "\"fps\":29.97", "\"rupturas_s\":[null", "\"area\":[[0,0]"})
        EXPECT_TRUE(json.contains(key)) << key << " in " << json.toStdString();
}

// A figure printed beside a verdict never contradicts it: times are cut down to the tenth, so a
// first break at frame 299 of 30 frames/s reads "9,9 s" next to "Alterado (< 10 s)".
TEST(TearFilmResult, TimesAreCutDownToTheTenthSoTheyAgreeWithTheVerdict) {
    const struct {
        double s;
        const char* text;
    } times[] = {{299 / 30.0, "9,9"}, {9.95, "9,9"}, {9.999999, "9,9"}, {10.0, "10,0"}, {6.04, "6,0"}, {6.2, "6,2"},
                 {0.3, "0,3"},        {12.35, "12,3"}, {0, "0,0"},        {N, "\u2014"}};
    for (const auto& t : times) EXPECT_EQ(secondsText(t.s).toStdString(), t.text) << t.s;

    EXPECT_EQ(reportSentence(result(299 / 30.0, 299 / 30.0, 14, N)).toStdString(),
              "Tempo de ruptura não invasivo: primeira ruptura em 9,9 s, média 9,9 s (alterado).");
    EXPECT_EQ(reportSentence(result(N, N, 299 / 30.0, N)).toStdString(),
              "Tempo de ruptura não invasivo: sem ruptura em 9,9 s de registro; inconclusivo: registro de 9,9 s sem "
              "ruptura (mínimo 10 s).");
    // Every frame time of a 30 frames/s recording: the printed first break is under 10 exactly
    // when the verdict says altered.
    for (int frame = 0; frame <= 600; ++frame) {
        const double s = frame / 30.0;
        const bool printedUnder10 = secondsText(s).replace(u',', u'.').toDouble() < kAlteredBelowS;
        EXPECT_EQ(printedUnder10, verdictOf(result(s, s, 30, N)).kind == TearFilmVerdict::Altered) << frame;
    }
}

// One verdict for the window, the report, the DICOM object and analisa-lagrima: nothing
// favourable without the data for it, whatever ended the recording.
TEST(TearFilmResult, NoVerdictWithoutTheDataForIt) {
    auto hidden = [](TearFilmResult r, int notAnalysed) {
        for (int i = 0; i < notAnalysed; ++i) r.breakS[size_t(kBands * kGroups - 1 - i)] = kNotAnalysedS;
        return r;
    };
    const char* const shortNoBreak = "registro de 6,0 s sem ruptura (mínimo 10 s)";
    const char* const fewSectors = "menos da metade dos setores analisados";
    const struct {
        const char* name;
        TearFilmResult r;
        const char* words;
        const char* reason;
    } cases[] = {
        {"6 s, parado pelo operador", result(N, N, 6.0, N), "Inconclusivo", shortNoBreak},
        {"6 s, encerrado por piscada", result(N, N, 6.04, 6.04), "Inconclusivo", shortNoBreak},
        {"9,96 s não conta como 10", result(N, N, 9.96, N), "Inconclusivo", "registro de 9,9 s sem ruptura (mínimo 10 s)"},
        {"10 s sem ruptura", result(N, N, 10.0, N), "Normal", ""},
        {"limite de 30 s sem ruptura", result(N, N, 30.0, N), "Normal", ""},
        {"ruptura aos 8 s", result(8.0, 9.0, 14, N), "Alterado (< 10 s)", ""},
        {"ruptura aos 12 s", result(12.0, 13.0, 20, 19), "Normal", ""},
        {"metade dos setores vista", hidden(result(N, N, 14, N), 16), "Normal", ""},  // 16 of 32
        {"menos da metade vista, sem ruptura", hidden(result(N, N, 14, N), 17), "Inconclusivo", fewSectors},
        {"menos da metade vista, ruptura cedo", hidden(result(4.0, 5.0, 14, N), 17), "Inconclusivo", fewSectors},
        {"sem setores", [] { TearFilmResult r = result(N, N, 14, N); r.breakS.clear(); return r; }(), "Inconclusivo",
         fewSectors},
    };
    for (const auto& c : cases) {
        const TearFilmVerdict v = verdictOf(c.r);
        EXPECT_EQ(v.words.toStdString(), c.words) << c.name;
        EXPECT_EQ(v.reason.toStdString(), c.reason) << c.name;
        // The report sentence carries the same verdict and never reads as normal when it is not.
        const QString sentence = reportSentence(c.r);
        EXPECT_EQ(sentence.contains(QStringLiteral("inconclusivo: ") + v.reason), v.kind == TearFilmVerdict::Inconclusive)
            << c.name << ": " << sentence.toStdString();
        EXPECT_EQ(sentence.endsWith(QStringLiteral("(alterado).")), v.kind == TearFilmVerdict::Altered) << c.name;
    }
}

TEST(TearFilmResult, BadStoredTextsAreRefusedWithAReason) {
    const QString sectors = QStringLiteral("[%1null]").arg(QStringLiteral("null,").repeated(kBands * kGroups - 1));
    const QString good = QStringLiteral(
        R"({"primeira_s":1,"media_s":2,"registro_s":3,"piscada_s":null,"fps":30,"rupturas_s":%1,"area":[[0,0],[3,50]]})");
    TearFilmResult r;
    QString error;
    ASSERT_TRUE(fromJson(good.arg(sectors).toUtf8(), &r, &error)) << error.toStdString();
    const struct {
        QString json;
        const char* says;
    } cases[] = {
        {QStringLiteral("{\"primeira_s\":1,"), "não é JSON"},
        {QStringLiteral("[1,2]"), "não é um objeto"},
        {QString(good).replace(QStringLiteral("\"fps\":30,"), QString()).arg(sectors), "falta o campo \"fps\""},
        {QString(good).replace(QStringLiteral("\"registro_s\":3"), QStringLiteral("\"registro_s\":\"3\"")).arg(sectors),
         "\"registro_s\" não é um número"},
        {QString(good).replace(QStringLiteral("\"media_s\":2"), QStringLiteral("\"media_s\":-2")).arg(sectors),
         "\"media_s\" não é um número"},
        {QString(good).replace(QStringLiteral("\"media_s\":2"), QStringLiteral("\"media_s\":null")).arg(sectors),
         "ambos nulos"},
        {good.arg(QStringLiteral("[1,2,3]")), "lista de 32 valores"},
        {good.arg(QString(sectors).replace(1, 5, QStringLiteral("-3,"))), "não é um tempo"},
        {good.arg(QString(sectors).replace(1, 5, QStringLiteral("\"x\","))), "não é um tempo"},
        {QString(good).replace(QStringLiteral("[3,50]"), QStringLiteral("[3,150]")).arg(sectors), "fora de 0 a 100%"},
        {QString(good).replace(QStringLiteral("[[0,0],[3,50]]"), QStringLiteral("[[3,0],[1,50]]")).arg(sectors), "fora de ordem"},
        {QString(good).replace(QStringLiteral("[3,50]"), QStringLiteral("[3]")).arg(sectors), "pares"},
    };
    for (const auto& c : cases) {
        TearFilmResult kept = r;
        error.clear();
        EXPECT_FALSE(fromJson(c.json.toUtf8(), &kept, &error)) << c.json.toStdString();
        EXPECT_TRUE(error.startsWith("O resultado do filme lacrimal gravado é inválido") && error.contains(c.says))
            << error.toStdString();
        EXPECT_EQ(kept.brokenArea, r.brokenArea);  // a refused text leaves the result as it was
    }
}

TEST(TearFilmMap, SectorsTakeTheScaleColourGreyWhenUnbrokenAndHatchWhenNotAnalysed) {
    TearFilmResult r = result(2.0, 8.0, 14, N);
    r.breakS[2 * kGroups + 0] = 2.0;  // band 2 (3-4 mm), group 0 (right)
    r.breakS[2 * kGroups + 2] = N;    // band 2, group 2 (up)
    r.breakS[2 * kGroups + 4] = kNotAnalysedS;  // band 2, group 4 (left)
    const QSize size(500, 400);
    const QImage image = drawBreakTimeMap(r, size);
    auto at = [&](double mm, int deg) {
        const double a = deg * M_PI / 180;
        return image.pixelColor(mapPoint(size, std::cos(a) * mm, std::sin(a) * mm).toPoint());
    };
    EXPECT_EQ(at(3.5, 0).rgb(), breakTimeColour(2.0).rgb());
    EXPECT_EQ(at(3.5, 90).rgb(), breakTimeColour(N).rgb());
    EXPECT_EQ(breakTimeColour(N), QColor(170, 170, 170));
    EXPECT_NE(breakTimeColour(0).rgb(), breakTimeColour(10).rgb());
    EXPECT_EQ(breakTimeColour(25).rgb(), breakTimeColour(kMapScaleMaxS).rgb());  // beyond the scale: its end
    const QColor hatched = at(3.5, 180);
    EXPECT_TRUE(hatched == Qt::white || hatched.red() < 200) << hatched.name().toStdString();
    EXPECT_NE(hatched.rgb(), breakTimeColour(N).rgb());
}
