#include "ExamFiles.h"

#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace norvix::outside {

namespace {

// "00.00" into buf (32 bytes); the length written. Digit by digit rather than through a
// formatting function: a table holds some 12,000 values and this runs for every one.
constexpr int kValueBuffer = 32;
int formatValue(char* buf, double value) {
    const double cents = std::round(std::fabs(value) * 100.0);
    if (!std::isfinite(value) || cents >= 1e15) {  // not a measurement; said as the C library says it
        const int n = std::snprintf(buf, kValueBuffer, "%.2f", value);
        return std::clamp(n, 0, kValueBuffer - 1);
    }
    long long whole = static_cast<long long>(cents) / 100;
    const int fraction = int(static_cast<long long>(cents) % 100);
    char digits[24];
    int n = 0;
    do {
        digits[n++] = char('0' + whole % 10);
        whole /= 10;
    } while (whole > 0);
    if (n < 2) digits[n++] = '0';
    int at = 0;
    if (cents > 0 && value < 0) buf[at++] = '-';
    while (n > 0) buf[at++] = digits[--n];
    buf[at++] = '.';
    buf[at++] = char('0' + fraction / 10);
    buf[at++] = char('0' + fraction % 10);
    return at;
}

}  // namespace

QString formatTableValue(double value) {
    char buf[kValueBuffer];
    return QString::fromLatin1(buf, formatValue(buf, value));
}

namespace {

bool writeFile(const QString& path, const QByteArray& bytes, QString* error) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
        if (error) *error = QStringLiteral("Não foi possível gravar %1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

}  // namespace

QByteArray formatTable(const double (&v)[NORVIX_MERIDIANS][NORVIX_RING_COLUMNS], int rings) {
    QByteArray out;
    out.reserve(NORVIX_MERIDIANS * ((rings + 1) * 7 + 2));
    char buf[kValueBuffer];
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        for (int i = 0; i <= rings; ++i) {
            out.append(buf, formatValue(buf, v[k][i]));
            out += ' ';
        }
        out += "\r\n";
    }
    return out;
}

bool writeExamFiles(const QString& prefix, const Topography& t, int rings, QString* error) {
    const QString names[3] = {prefix + QStringLiteral("d.txt"), prefix + QStringLiteral("m.txt"), prefix + QStringLiteral("a.txt")};
    for (const QString& n : names) {
        if (QFileInfo::exists(n)) {
            if (error) *error = QStringLiteral("O arquivo %1 já existe e não foi substituído.").arg(n);
            return false;
        }
    }
    if (rings < 1 || rings > NORVIX_MAX_RINGS) {
        if (error) *error = QStringLiteral("Número de anéis inválido: %1.").arg(rings);
        return false;
    }
    QByteArray a;
    a += QByteArray::number(qint64(std::llround(t.centreX))) + "\r\n";
    a += QByteArray::number(qint64(std::llround(t.centreY))) + "\r\n";
    a += "@\r\n";
    for (int i = 0; i < 4; ++i) a += QByteArray::number(t.pupil[i]) + "\r\n";
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) a += QByteArray::number(std::min(t.found[k], rings)) + "\r\n";
    return writeFile(names[0], formatTable(t.d, rings), error) && writeFile(names[1], formatTable(t.m, rings), error) &&
           writeFile(names[2], a, error);
}

}  // namespace norvix::outside
