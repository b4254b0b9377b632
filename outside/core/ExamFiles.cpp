#include "ExamFiles.h"

#include <QFile>
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

namespace {

// A real file is under 100 kB; anything far larger is not an exam file.
constexpr qint64 kMaxFileBytes = 4 << 20;

bool readLines(const QString& path, QList<QByteArray>* lines, QString* error) {
    QFile f(path);
    if (!f.exists()) {
        *error = QStringLiteral("arquivo %1 não encontrado.").arg(path);
        return false;
    }
    if (f.size() > kMaxFileBytes || !f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("não foi possível ler o arquivo %1.").arg(path);
        return false;
    }
    const QByteArray bytes = f.readAll();
    // The program ends every line, the last one too: a file that stops inside a line was cut
    // short while being written or copied.
    if (bytes.isEmpty() || !bytes.endsWith('\n')) {
        *error = QStringLiteral("o arquivo %1 está vazio ou incompleto (termina no meio de uma linha).").arg(path);
        return false;
    }
    *lines = bytes.split('\n');
    lines->removeLast();
    for (QByteArray& l : *lines)
        if (l.endsWith('\r')) l.chop(1);
    return true;
}

double number(QByteArray text, bool* ok) {
    if (!text.contains('.')) text.replace(',', '.');
    return text.toDouble(ok);
}

bool readTable(const QString& path, double (&v)[NORVIX_MERIDIANS][NORVIX_RING_COLUMNS], int* rings, QString* error) {
    QList<QByteArray> lines;
    if (!readLines(path, &lines, error)) return false;
    if (lines.size() < NORVIX_MERIDIANS) {
        *error = QStringLiteral("o arquivo %1 está incompleto: %2 de 360 meridianos.").arg(path).arg(lines.size());
        return false;
    }
    int columns = -1;
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        const QList<QByteArray> values = lines[k].simplified().split(' ');
        if (columns < 0) columns = int(values.size());
        if (int(values.size()) != columns || columns < 2 || columns > NORVIX_RING_COLUMNS) {
            *error = QStringLiteral("o arquivo %1 está incompleto ou corrompido na linha %2.").arg(path).arg(k + 1);
            return false;
        }
        for (int i = 0; i < columns; ++i) {
            bool ok = false;
            v[k][i] = number(values[i], &ok);
            if (!ok || !std::isfinite(v[k][i])) {
                *error = QStringLiteral("o arquivo %1 tem um valor que não é número na linha %2: \"%3\".")
                             .arg(path).arg(k + 1).arg(QString::fromLatin1(values[i]));
                return false;
            }
        }
        for (int i = columns; i < NORVIX_RING_COLUMNS; ++i) v[k][i] = 0;
    }
    *rings = columns - 1;
    return true;
}

}  // namespace

bool readExamFiles(const QString& prefix, Topography* t, QString* error) {
    QString why;
    auto fail = [&] {
        if (error) *error = why;
        return false;
    };
    int dRings = 0, mRings = 0;
    if (!readTable(prefix + QStringLiteral("d.txt"), t->d, &dRings, &why) ||
        !readTable(prefix + QStringLiteral("m.txt"), t->m, &mRings, &why))
        return fail();
    if (dRings != mRings) {
        why = QStringLiteral("os arquivos d.txt e m.txt de %1 têm números de anéis diferentes (%2 e %3).")
                  .arg(prefix).arg(dRings).arg(mRings);
        return fail();
    }
    t->rings = dRings;

    const QString aPath = prefix + QStringLiteral("a.txt");
    QList<QByteArray> lines;
    if (!readLines(aPath, &lines, &why)) return fail();
    // 367 lines with the pupil record after "@", or the older 362 without it.
    const bool withPupil = lines.size() > 2 && lines[2].trimmed() == "@";
    const int first = withPupil ? 7 : 2;
    if (lines.size() < first + NORVIX_MERIDIANS) {
        why = QStringLiteral("o arquivo %1 está incompleto: %2 linhas.").arg(aPath).arg(lines.size());
        return fail();
    }
    auto integer = [&](int line, int* out) {
        bool ok = false;
        const double v = number(lines[line].trimmed(), &ok);
        if (!ok || !(std::fabs(v) < 1e9)) {
            why = QStringLiteral("o arquivo %1 tem um valor que não é número na linha %2.").arg(aPath).arg(line + 1);
            return false;
        }
        *out = int(std::lround(v));
        return true;
    };
    int cx = 0, cy = 0;
    if (!integer(0, &cx) || !integer(1, &cy)) return fail();
    t->centreX = cx;
    t->centreY = cy;
    for (int i = 0; i < 4; ++i) {
        int v = 0;
        if (withPupil && !integer(3 + i, &v)) return fail();
        t->pupil[i] = v;
    }
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        int v = 0;
        if (!integer(first + k, &v)) return fail();
        t->found[k] = v;
    }
    return true;
}

}  // namespace norvix::outside
