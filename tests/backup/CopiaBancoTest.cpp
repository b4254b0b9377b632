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
    const QString destino = dir.path() + "/midia/Banco de Dados";
    QMap<QString, QByteArray> somas;
    QString erro;
    ASSERT_TRUE(norvix::copiaPastaBanco(*dm, dir.path(), destino, &somas, &erro)) << erro.toStdString();

    const QString copia = destino + "/DATABASE.GDB";
    // Before anything opens the copy (an attach writes into the file).
    EXPECT_EQ(somas.value("DATABASE.GDB"), norvix::backup::somaArquivo(copia));
    EXPECT_TRUE(isql(copia, "select count(*) from pacientes").contains(QRegularExpression("\\b25\\b")))
        << isql(copia, "select count(*) from pacientes").toStdString();
    EXPECT_TRUE(somas.contains(".oculto"));
    EXPECT_FALSE(QFileInfo::exists(destino + "/DATABASE.GDB.bkp-tmp"));

    // The lock is released: no delta file stays, and the program goes on writing.
    EXPECT_FALSE(QFileInfo::exists(path + ".delta"));
    insertPaciente("DEPOIS DA COPIA");
    EXPECT_EQ(count("SELECT COUNT(*) FROM PACIENTES"), 26);
}

TEST_F(CopiaBanco, DestinoQueFalhaLiberaOBloqueio) {
    backup_test::escreve(dir.path() + "/midia", "um arquivo onde deveria estar a pasta");
    QString erro;
    EXPECT_FALSE(norvix::copiaPastaBanco(*dm, dir.path(), dir.path() + "/midia/Banco de Dados", nullptr, &erro));
    EXPECT_FALSE(erro.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(path + ".delta"));
    insertPaciente("DEPOIS DA FALHA");
    EXPECT_EQ(count("SELECT COUNT(*) FROM PACIENTES"), 1);
}
