#include "ExamFiles.h"

#include <QFileInfo>
#include <QSaveFile>
#include <cmath>

namespace norvix::outside {

QString formatTableValue(double value) {
    const double rounded = std::round(value * 100.0) / 100.0;
    QString digits = QString::asprintf("%05.2f", std::fabs(rounded));
    return rounded < 0 ? QStringLiteral("-") + digits : digits;
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
    for (int k = 0; k < NORVIX_MERIDIANS; ++k) {
        for (int i = 0; i <= rings; ++i) {
            out += formatTableValue(v[k][i]).toLatin1();
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
