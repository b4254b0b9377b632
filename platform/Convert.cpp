#include "Convert.h"

#include <algorithm>
#include <cmath>
#include <QLocale>

namespace norvix {

bool tryStrToInt(const QString& text, int* value) {
    const QString t = text.trimmed();
    bool ok = false;
    qlonglong v = 0;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        // Only hexadecimal digits may follow: the conversion itself would also take a sign
        // or blanks ("0x-10", "0x 1").
        const QStringView digits = QStringView(t).mid(2);
        const bool hexDigits = !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), [](QChar c) {
            const char16_t u = c.unicode();
            return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
        });
        if (hexDigits) v = digits.toLongLong(&ok, 16);
    } else {
        v = t.toLongLong(&ok, 10);
    }
    if (!ok || v < INT32_MIN || v > INT32_MAX) return false;
    if (value) *value = static_cast<int>(v);
    return true;
}

int strToInt(const QString& text) {
    int v = 0;
    if (!tryStrToInt(text, &v))
        throw ConversionError(QStringLiteral("'%1' não é um valor inteiro válido").arg(text));
    return v;
}

bool tryStrToFloat(const QString& text, double* value) {
    static const QLocale notation = [] {
        QLocale l = QLocale::c();
        l.setNumberOptions(QLocale::RejectGroupSeparator | QLocale::OmitGroupSeparator);
        return l;
    }();
    bool ok = false;
    const double v = notation.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(v)) return false;
    if (value) *value = v;
    return true;
}

double strToFloat(const QString& text) {
    double v = 0;
    if (!tryStrToFloat(text, &v))
        throw ConversionError(QStringLiteral("'%1' não é um valor de ponto flutuante válido").arg(text));
    return v;
}

QString textoDecimal(double value, int places, bool grouped) {
    if (!std::isfinite(value)) return QStringLiteral("\u2014");
    places = std::clamp(places, 0, 9);
    // Rounded as a whole count of the last decimal, so the sign goes with a value that rounds
    // to zero and no "-0,00" is printed.
    const double units = std::round(std::fabs(value) * std::pow(10.0, places));
    if (!(units < 1e18)) return QString::number(value, 'g', 15).replace(QLatin1Char('.'), QLatin1Char(','));
    QString digits = QString::number(qulonglong(units));
    if (digits.size() <= places) digits.prepend(QString(places + 1 - digits.size(), QLatin1Char('0')));
    QString whole = digits.left(digits.size() - places);
    if (grouped)
        for (int i = whole.size() - 3; i > 0; i -= 3) whole.insert(i, QLatin1Char('.'));
    QString text = places > 0 ? whole + QLatin1Char(',') + digits.right(places) : whole;
    return value < 0 && units > 0 ? QLatin1Char('-') + text : text;
}

}  // namespace norvix
