// The tear-film result as the exam stores it (JSON text in the exam's row) and as the report
// words it. The stored form is read back by later versions and by other tools, so its keys and
// its shape are fixed, and a text that does not have them is refused with a reason.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <algorithm>
#include <cmath>

#include "tearfilm/TearFilm.h"

namespace norvix::lagrima {

namespace {

constexpr int kSectors = kBands * kGroups;

QJsonValue number(double v) { return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null); }

// A time or a rate: a number, or null where nullable (NaN then). False when neither.
bool readNumber(const QJsonObject& o, const char* key, bool nullable, double* out, QString* error) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isNull() && nullable) {
        *out = TearFilmResult::kNone;
        return true;
    }
    if (!v.isDouble() || !std::isfinite(v.toDouble()) || v.toDouble() < 0) {
        *error = v.isUndefined() ? QStringLiteral("falta o campo \"%1\"").arg(QLatin1String(key))
                                 : QStringLiteral("o campo \"%1\" não é um número válido").arg(QLatin1String(key));
        return false;
    }
    *out = v.toDouble();
    return true;
}

bool fail(QString* error, const QString& why) {
    if (error) *error = QStringLiteral("O resultado do filme lacrimal gravado é inválido: %1.").arg(why);
    return false;
}

}  // namespace

QString secondsText(double s) {
    if (!std::isfinite(s)) return QStringLiteral("\u2014");
    // Cut down, never up; the tiny allowance keeps a tenth that arithmetic left a hair below
    // itself (an average of 12.2 and 12.4 is 12.299999…) from losing that tenth.
    return QString::number(std::floor(std::max(s, 0.0) * 10 + 1e-9) / 10, 'f', 1)
        .replace(QLatin1Char('.'), QLatin1Char(','));
}

QByteArray toJson(const TearFilmResult& r) {
    QJsonObject o;
    o.insert(QStringLiteral("primeira_s"), number(r.firstS));
    o.insert(QStringLiteral("media_s"), number(r.averageS));
    o.insert(QStringLiteral("registro_s"), number(r.recordedS));
    o.insert(QStringLiteral("piscada_s"), number(r.blinkS));
    o.insert(QStringLiteral("fps"), number(r.fps));
    QJsonArray sectors;
    for (int i = 0; i < kSectors; ++i) sectors.append(i < int(r.breakS.size()) ? number(r.breakS[size_t(i)]) : QJsonValue());
    o.insert(QStringLiteral("rupturas_s"), sectors);
    QJsonArray area;
    for (const QPointF& p : r.brokenArea) area.append(QJsonArray{number(p.x()), number(p.y())});
    o.insert(QStringLiteral("area"), area);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool fromJson(const QByteArray& json, TearFilmResult* result, QString* error) {
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parse);
    if (parse.error != QJsonParseError::NoError)
        return fail(error, QStringLiteral("o texto não é JSON (%1, posição %2)").arg(parse.errorString()).arg(parse.offset));
    if (!doc.isObject()) return fail(error, QStringLiteral("o texto não é um objeto JSON"));
    const QJsonObject o = doc.object();
    TearFilmResult r;
    QString why;
    if (!readNumber(o, "primeira_s", true, &r.firstS, &why) || !readNumber(o, "media_s", true, &r.averageS, &why) ||
        !readNumber(o, "registro_s", false, &r.recordedS, &why) || !readNumber(o, "piscada_s", true, &r.blinkS, &why) ||
        !readNumber(o, "fps", false, &r.fps, &why))
        return fail(error, why);
    if (std::isnan(r.firstS) != std::isnan(r.averageS))
        return fail(error, QStringLiteral("\"primeira_s\" e \"media_s\" devem ser ambos números ou ambos nulos"));
    const QJsonValue sectors = o.value(QStringLiteral("rupturas_s"));
    if (!sectors.isArray() || sectors.toArray().size() != kSectors)
        return fail(error, QStringLiteral("\"rupturas_s\" deve ser uma lista de %1 valores").arg(kSectors));
    for (const QJsonValue v : sectors.toArray()) {
        // A sector the analysis could not see is kept as kNotAnalysedS.
        if (v.isNull())
            r.breakS.push_back(TearFilmResult::kNone);
        else if (v.isDouble() && std::isfinite(v.toDouble()) && (v.toDouble() >= 0 || v.toDouble() == kNotAnalysedS))
            r.breakS.push_back(v.toDouble());
        else
            return fail(error, QStringLiteral("\"rupturas_s\" tem um valor que não é um tempo"));
    }
    const QJsonValue area = o.value(QStringLiteral("area"));
    if (!area.isArray()) return fail(error, QStringLiteral("\"area\" deve ser uma lista de pares [s, %]"));
    double before = 0;
    for (const QJsonValue v : area.toArray()) {
        const QJsonArray pair = v.toArray();
        if (!v.isArray() || pair.size() != 2 || !pair[0].isDouble() || !pair[1].isDouble())
            return fail(error, QStringLiteral("\"area\" deve ser uma lista de pares [s, %]"));
        const double s = pair[0].toDouble(), percent = pair[1].toDouble();
        if (!std::isfinite(s) || s < before || !std::isfinite(percent) || percent < 0 || percent > 100)
            return fail(error, QStringLiteral("\"area\" tem um ponto fora de ordem ou fora de 0 a 100%"));
        before = s;
        r.brokenArea.emplace_back(s, percent);
    }
    *result = std::move(r);
    return true;
}

TearFilmVerdict verdictOf(const TearFilmResult& r) {
    int seen = 0;
    for (const double s : r.breakS) seen += s != kNotAnalysedS;
    if (2 * seen < kSectors)
        return {TearFilmVerdict::Inconclusive, QStringLiteral("Inconclusivo"),
                QStringLiteral("menos da metade dos setores analisados")};
    if (r.altered())
        return {TearFilmVerdict::Altered, QStringLiteral("Alterado (< %1 s)").arg(int(kAlteredBelowS)), {}};
    // Nothing broke before the recording ended, whatever ended it ("Parar", the time limit, a
    // blink): under the limit the eye might still have broken before it.
    if (!r.broke() && !(r.recordedS >= kAlteredBelowS)) {
        return {TearFilmVerdict::Inconclusive, QStringLiteral("Inconclusivo"),
                QStringLiteral("registro de %1 s sem ruptura (mínimo %2 s)").arg(secondsText(r.recordedS)).arg(int(kAlteredBelowS))};
    }
    return {TearFilmVerdict::Normal, QStringLiteral("Normal"), {}};
}

QString reportSentence(const TearFilmResult& r) {
    QString text = QStringLiteral("Tempo de ruptura não invasivo: ");
    if (!r.broke()) {
        text += QStringLiteral("sem ruptura em %1 s de registro").arg(secondsText(r.recordedS));
    } else {
        text += QStringLiteral("primeira ruptura em %1 s").arg(secondsText(r.firstS));
        if (!std::isnan(r.averageS)) text += QStringLiteral(", média %1 s").arg(secondsText(r.averageS));
    }
    const TearFilmVerdict v = verdictOf(r);
    if (v.kind == TearFilmVerdict::Inconclusive) return text + QStringLiteral("; inconclusivo: %1.").arg(v.reason);
    return text + (v.kind == TearFilmVerdict::Altered ? QStringLiteral(" (alterado).") : QStringLiteral("."));
}

}  // namespace norvix::lagrima
