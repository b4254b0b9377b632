// The database copied while the program holds it open: under the engine's backup lock, so the
// copy opens by itself in isql-fb and holds the rows written just before.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include "BackupTestSupport.h"
#include "backup/BackupMidia.h"
#include "backup/CopiaBanco.h"
#include "db/DbTestSupport.h"

namespace {

// One statement through isql-fb on a database file; its output, or the error text.
QString isql(const QString& banco, const QString& sql) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("isql-fb", {"-q", "-user", "SYSDBA", banco});
    if (!p.waitForStarted(10000)) return "isql-fb não iniciou";
    p.write((sql + ";\nquit;\n").toUtf8());
    p.closeWriteChannel();
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAll());
}

class CopiaBanco : public dbtest::DbTest {};

}  // namespace

TEST_F(CopiaBanco, CopiaAbreSozinhaComAsLinhasGravadasAntes) {
    for (int i = 0; i < 25; ++i) insertPaciente(QStringLiteral("PACIENTE %1").arg(i));
    backup_test::escreve(dir.path() + "/.oculto", "arquivo oculto da pasta");
    const QString local = dir.path() + "/copia";
    QList<std::pair<QString, QString>> arquivos;
    QString erro;
    ASSERT_TRUE(norvix::preparaCopiaBanco(*dm, dir.path(), local, &arquivos, &erro)) << erro.toStdString();

    const QString copia = local + "/DATABASE.GDB";
    EXPECT_TRUE(arquivos.contains(std::pair{copia, QStringLiteral("Banco de Dados/DATABASE.GDB")}));
    EXPECT_TRUE(arquivos.contains(std::pair{local + "/.oculto", QStringLiteral("Banco de Dados/.oculto")}));
    EXPECT_TRUE(isql(copia, "select count(*) from pacientes").contains(QRegularExpression("\\b25\\b")))
        << isql(copia, "select count(*) from pacientes").toStdString();
    EXPECT_FALSE(QFileInfo::exists(copia + ".bkp-tmp"));

    // The lock is released: no delta file stays, and the program goes on writing.
    EXPECT_FALSE(QFileInfo::exists(path + ".delta"));
    insertPaciente("DEPOIS DA COPIA");
    EXPECT_EQ(count("SELECT COUNT(*) FROM PACIENTES"), 26);
}

TEST_F(CopiaBanco, DestinoOuNbackupQueFalhamLiberamOBloqueioENaoDeixamCopia) {
    backup_test::escreve(dir.path() + "/arquivo", "um arquivo onde deveria estar a pasta");
    QList<std::pair<QString, QString>> arquivos;
    QString erro;
    EXPECT_FALSE(norvix::preparaCopiaBanco(*dm, dir.path(), dir.path() + "/arquivo/copia", &arquivos, &erro));
    EXPECT_FALSE(erro.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(path + ".delta"));

    // An nbackup that fails: the half-made copy is not left behind.
    backup_test::FerramentaQueFalha nbackup("nbackup");
    erro.clear();
    EXPECT_FALSE(norvix::preparaCopiaBanco(*dm, dir.path(), dir.path() + "/copia", &arquivos, &erro));
    EXPECT_TRUE(erro.contains("nbackup")) << erro.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/copia/DATABASE.GDB"));
    EXPECT_FALSE(QFileInfo::exists(path + ".delta"));
    insertPaciente("DEPOIS DA FALHA");
    EXPECT_EQ(count("SELECT COUNT(*) FROM PACIENTES"), 1);
}
