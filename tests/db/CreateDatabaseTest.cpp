// The script that makes a new database from the schema (used by the demonstration setup).
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "DbTestSupport.h"

using namespace norvix;

namespace {

QString script() {
    return qEnvironmentVariable("NORVIX_SOURCE_DIR") + QStringLiteral("/scripts/create-database.sh");
}

int run(const QStringList& args, QString* errors = nullptr) {
    QProcess p;
    p.start(script(), args);
    if (!p.waitForFinished(120000)) return -1;
    if (errors) *errors = QString::fromUtf8(p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

QByteArray digest(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

TEST(CreateDatabase, MakesAWorkingDatabaseEvenInAFolderWithQuotesAndAccents) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path() + QStringLiteral("/clínica d'olhos");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + "/DATABASE.GDB";
    QString errors;
    ASSERT_EQ(run({path}, &errors), 0) << errors.toStdString();

    {
        TDMPrincipal dm;
        ASSERT_TRUE(dm.PSetDataBaseName(path));
        EXPECT_EQ(dm.selectInt("SELECT COUNT(*) FROM RDB$PROCEDURES "
                               "WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0",
                               {}, "COUNT", TDMPrincipal::Close::Yes),
                  20);
        EXPECT_EQ(dm.selectInt("SELECT COUNT(*) FROM RDB$GENERATORS WHERE RDB$GENERATOR_NAME "
                               "STARTING WITH 'CODIGO_'",
                               {}, "COUNT", TDMPrincipal::Close::Yes),
                  4);
    }

    // Never over an existing file: refused, the file untouched, no temporary left behind.
    const QByteArray before = digest(path);
    EXPECT_EQ(run({path}, &errors), 1);
    EXPECT_TRUE(errors.contains(QStringLiteral("já existe"))) << errors.toStdString();
    EXPECT_EQ(digest(path), before);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList({"DATABASE.GDB"}));
}

TEST(CreateDatabase, BrokenSchemaLeavesNoFileAndMissingArgumentsAreExplained) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString schema = dir.path() + "/ruim.sql";
    {
        QFile f(schema);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("CREATE TABLE T (A INTEGER);\nCREATE TABLE (;\n");
    }
    const QString path = dir.path() + "/NOVO.GDB";
    QString errors;
    EXPECT_EQ(run({path, schema}, &errors), 1);
    EXPECT_TRUE(errors.contains(QStringLiteral("Falha ao criar"))) << errors.toStdString();
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"ruim.sql"}));

    EXPECT_EQ(run({}, &errors), 2);
    EXPECT_TRUE(errors.contains("Uso:"));
    EXPECT_EQ(run({dir.path() + "/nao/existe/X.GDB"}, &errors), 1);
    EXPECT_TRUE(errors.contains(QStringLiteral("não existe"))) << errors.toStdString();
}

}  // namespace
