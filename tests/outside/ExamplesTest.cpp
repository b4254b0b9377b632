// The example-exam tool: every example of the browser's examples page, in the exam file
// layouts, looking like its condition, and never overwriting a file.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cmath>

#include "OutsideTestSupport.h"
#include "outside/math/CornealMap.h"
#include "outside/core/ExamFiles.h"
#include "outside/math/KeratoconusIndices.h"
#include "outside/math/OrthoMetrics.h"

using namespace norvix::outside;

namespace {

QStringList exampleNames() {
    QStringList names;
    for (const char* stem : {"Central0", "Periférico0", "Regular0", "Irregular0", "Normal0"})
        for (int n = 1; n <= 6; ++n) names << QString::fromUtf8(stem) + QString::number(n);
    for (int n = 1; n <= 4; ++n) names << QStringLiteral("Orto0%1").arg(n);
    return names;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Reads an example back as the browser does; its map.
std::unique_ptr<CornealMap> exampleMap(const QString& prefix) {
    struct Tables {
        TMatrizAngAnel d{}, m{};
    };
    auto t = std::make_unique<Tables>();
    TMatrizAng a{};
    for (auto [file, table] : {std::pair{QStringLiteral("d.txt"), &t->d}, std::pair{QStringLiteral("m.txt"), &t->m}}) {
        const QList<QByteArray> lines = readAll(prefix + file).split('\n');
        for (int k = 0; k < 360; ++k) {
            const QList<QByteArray> values = lines[k].trimmed().split(' ');
            for (int i = 0; i < values.size() && i < 33; ++i) (*table)[k][i] = values[i].toDouble();
        }
    }
    const QList<QByteArray> lines = readAll(prefix + QStringLiteral("a.txt")).split('\n');
    for (int k = 0; k < 360; ++k) a[k] = lines[7 + k].trimmed().toInt();
    auto map = std::make_unique<CornealMap>();
    QString why;
    EXPECT_TRUE(map->load(&t->d, &t->m, &a, 16, &why)) << prefix.toStdString() << why.toStdString();
    return map;
}

std::array<double, 9> axialResults(const QString& prefix) { return exampleMap(prefix)->results(MapKind::Axial); }

}  // namespace

TEST(OutsideExamFiles, FormatsValuesWithTwoIntegerDigitsAndTwoDecimals) {
    EXPECT_EQ(formatTableValue(3.256), QStringLiteral("03.26"));
    EXPECT_EQ(formatTableValue(12.5), QStringLiteral("12.50"));
    EXPECT_EQ(formatTableValue(-1.5), QStringLiteral("-01.50"));
    EXPECT_EQ(formatTableValue(0), QStringLiteral("00.00"));
    EXPECT_EQ(formatTableValue(123.456), QStringLiteral("123.46"));
    EXPECT_EQ(formatTableValue(-0.001), QStringLiteral("00.00"));
}

TEST(OutsideExamples, ToolWritesEveryExampleInTheExamLayoutsAndNeverOverwrites) {
    QTemporaryDir dir;
    const QString tool = qEnvironmentVariable("NORVIX_BIN_DIR") + QStringLiteral("/mkexemplos");
    const QString target = dir.filePath(QStringLiteral("Exemplos"));
    QProcess p;
    p.start(tool, {target});
    ASSERT_TRUE(p.waitForFinished(300000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();

    const QRegularExpression value(QStringLiteral("^-?\\d{2,}\\.\\d{2}$"));
    const QStringList names = exampleNames();
    EXPECT_EQ(QDir(target).entryList(QDir::Files).size(), names.size() * 3);
    for (const QString& name : names) {
        const QString prefix = QDir(target).filePath(name);
        const QByteArray a = readAll(prefix + QStringLiteral("a.txt"));
        ASSERT_FALSE(a.isEmpty()) << name.toStdString();
        ASSERT_TRUE(a.endsWith("\r\n"));
        QList<QByteArray> aLines = a.split('\n');
        aLines.removeLast();  // after the last line break
        ASSERT_EQ(aLines.size(), 367) << name.toStdString();
        for (const QByteArray& l : aLines) ASSERT_TRUE(l.endsWith('\r'));
        EXPECT_EQ(aLines[2], QByteArray("@\r"));
        for (int k = 7; k < 367; ++k) {
            bool ok = false;
            const int rings = aLines[k].trimmed().toInt(&ok);
            EXPECT_TRUE(ok);
            EXPECT_GE(rings, 0);
            EXPECT_LE(rings, 16);
        }
        for (const char* table : {"d.txt", "m.txt"}) {
            const QByteArray t = readAll(prefix + QString::fromLatin1(table));
            ASSERT_TRUE(t.endsWith(" \r\n")) << name.toStdString() << table;
            QList<QByteArray> lines = t.split('\n');
            lines.removeLast();
            ASSERT_EQ(lines.size(), 360);
            for (const QByteArray& l : lines) {
                ASSERT_TRUE(l.endsWith(" \r")) << l.constData();
                const QList<QByteArray> values = l.trimmed().split(' ');
                ASSERT_EQ(values.size(), 17) << name.toStdString() << table;
                for (const QByteArray& v : values) ASSERT_TRUE(value.match(QString::fromLatin1(v)).hasMatch()) << v.constData();
            }
        }
    }

    // They look like their conditions.
    for (int n = 1; n <= 6; ++n) {
        const auto cone = axialResults(QDir(target).filePath(QStringLiteral("Central0%1").arg(n)));
        EXPECT_GT(cone[8], 48.0) << n;
        const auto regular = axialResults(QDir(target).filePath(QStringLiteral("Regular0%1").arg(n)));
        EXPECT_LT(regular[4], -1.5) << n;
        const auto normal = axialResults(QDir(target).filePath(QStringLiteral("Normal0%1").arg(n)));
        EXPECT_GT(normal[4], -0.75) << n;
        EXPECT_GT(normal[2], 42.0);
        EXPECT_LT(normal[2], 45.0);
        const auto peripheral = axialResults(QDir(target).filePath(QString::fromUtf8("Periférico0%1").arg(n)));
        EXPECT_GT(peripheral[8] - peripheral[2], 2.0) << n;
    }
    for (int n = 1; n <= 4; ++n) {
        const auto ortho = axialResults(QDir(target).filePath(QStringLiteral("Orto0%1").arg(n)));
        EXPECT_LT(ortho[2], 41.5) << n;
    }
    // Captured as a real eye: a pupil found in every exam, the upper lid over some of the top
    // rings, and still a screening for every cone and normal cornea.
    for (const QString& name : names) {
        const QList<QByteArray> a = readAll(QDir(target).filePath(name + QStringLiteral("a.txt"))).split('\n');
        EXPECT_GT(a[5].trimmed().toInt(), 20) << name.toStdString();  // pupil radius, pixels
        EXPECT_GT(a[6].trimmed().toInt(), 50) << name.toStdString();  // its detection confidence
        int covered = 0;
        for (int k = 60; k <= 120; ++k) covered += a[7 + k].trimmed().toInt() < 16;
        EXPECT_GT(covered, 20) << name.toStdString();
    }
    for (int n = 1; n <= 6; ++n) {
        const auto cone = keratoconusIndices(*exampleMap(QDir(target).filePath(QString::fromUtf8("Periférico0%1").arg(n))));
        EXPECT_NE(cone.screening, KeratoconusScreening::NoSigns) << n;
        EXPECT_NE(cone.screening, KeratoconusScreening::NotAssessed) << n;
        const auto normal = keratoconusIndices(*exampleMap(QDir(target).filePath(QStringLiteral("Normal0%1").arg(n))));
        EXPECT_EQ(normal.screening, KeratoconusScreening::NoSigns) << n;
    }
    // The orthokeratology course as the follow-up module reads it: a treatment zone in every
    // visit, the apex flatter from visit to visit.
    double lastRaio = 0;
    for (int n = 1; n <= 4; ++n) {
        OrthoValues v;
        QString why;
        ASSERT_TRUE(orthoValues(*exampleMap(QDir(target).filePath(QStringLiteral("Orto0%1").arg(n))), &v, &why))
            << why.toStdString();
        EXPECT_GT(v.zone, 3.0) << n;
        EXPECT_GT(v.raio, lastRaio) << n;
        lastRaio = v.raio;
    }

    // A second run keeps what is there and says so.
    const QString touched = QDir(target).filePath(QStringLiteral("Normal01d.txt"));
    QFile f(touched);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("meu arquivo");
    f.close();
    QFile::remove(QDir(target).filePath(QStringLiteral("Orto02m.txt")));
    p.start(tool, {target});
    ASSERT_TRUE(p.waitForFinished(300000));
    EXPECT_EQ(p.exitCode(), 0);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("Normal01"))) << err.toStdString();
    EXPECT_EQ(readAll(touched), QByteArray("meu arquivo"));
    // The example with a missing file is not completed either: its other files stay as they were.
    EXPECT_FALSE(QFile::exists(QDir(target).filePath(QStringLiteral("Orto02m.txt"))));
    EXPECT_TRUE(QFile::exists(QDir(target).filePath(QStringLiteral("Orto02d.txt"))));
}

TEST(OutsideExamples, ToolRefusesAMissingArgument) {
    QProcess p;
    p.start(qEnvironmentVariable("NORVIX_BIN_DIR") + QStringLiteral("/mkexemplos"), QStringList{});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_NE(p.exitCode(), 0);
    EXPECT_TRUE(p.readAllStandardError().contains("Uso"));
}
