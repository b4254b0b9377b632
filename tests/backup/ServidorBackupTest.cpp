// The backup and restore of a database that lives on a Firebird server, against a real server
// of the test's own on loopback: the copy comes from the server (gbak), a restore goes through
// a new database that must validate before the current one is replaced, and a bad copy or
// another workstation still attached leaves the server's database as it was.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <memory>

#include "backup/CopiaBanco.h"
#include "db/ServidorFirebird.h"
#include "platform/ui/MessageSeam.h"
#include "records/UDPacientes.h"
#include "records/UfrmDataModule.h"

using namespace norvix;
using dbtest::Estacao;
using dbtest::ServidorFirebird;

namespace {

class ServidorBackup : public ::testing::Test {
protected:
    void SetUp() override {
        if (ServidorFirebird::programa().isEmpty())
            GTEST_SKIP() << "servidor Firebird ausente (/usr/sbin/firebird): scripts/install-deps.sh o instala";
        ASSERT_TRUE(servidor.prepara(QString::fromLatin1(TDMPrincipal::kFallbackPassword))) << servidor.erro().toStdString();
        ASSERT_TRUE(servidor.inicia()) << servidor.erro().toStdString();
        banco = servidor.novoBanco(QStringLiteral("clinica"));
        ASSERT_FALSE(banco.isEmpty());
        dm = std::make_unique<TDMPrincipal>();
        ASSERT_TRUE(dm->PSetDataBaseName(banco));
    }
    void paciente(const QString& nome) {
        DPacientes().InsertPacientes(nome, "", "", "M", "C", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
                                     "", "", QDate(2024, 5, 6), 0);
        dm->IBTransaction.commit();
    }
    int pacientes() {
        return dm->selectInt(QStringLiteral("SELECT COUNT(*) AS N FROM Pacientes"), {}, QStringLiteral("N"),
                             TDMPrincipal::Close::Yes);
    }

    ServidorFirebird servidor;
    QString banco;
    QTemporaryDir local;
    RecordingMessageSeam mensagens;
    std::unique_ptr<TDMPrincipal> dm;
};

}  // namespace

TEST_F(ServidorBackup, CopiaDoServidorVoltaSoQuandoValidaENinguemMaisUsaOBanco) {
    paciente(QStringLiteral("ANTES"));
    QList<std::pair<QString, QString>> arquivos;
    QString erro;
    ASSERT_TRUE(preparaCopiaBanco(*dm, QStringLiteral("/pasta/local/que/nao/existe"), local.path(), &arquivos, &erro))
        << erro.toStdString();
    ASSERT_EQ(arquivos.size(), 1);
    EXPECT_EQ(arquivos[0].second, QStringLiteral("Banco de Dados/DATABASE.fbk"));
    const QString fbk = arquivos[0].first;
    paciente(QStringLiteral("DEPOIS"));
    const int depois = pacientes();

    // A damaged copy and a workstation still attached are refused; the database stays as it was.
    QFile copia(fbk);
    ASSERT_TRUE(copia.open(QIODevice::ReadOnly));
    const QByteArray boa = copia.readAll();
    copia.close();
    const QString estragada = local.filePath(QStringLiteral("estragada.fbk"));
    {
        QFile f(estragada);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(boa.left(boa.size() / 2));
    }
    EXPECT_FALSE(restauraBancoServidor(*dm, estragada, local.path(), &erro));
    EXPECT_TRUE(erro.startsWith(QStringLiteral("o servidor não restaurou a cópia (gbak)"))) << erro.toStdString();
    EXPECT_TRUE(dm->connected());
    EXPECT_EQ(pacientes(), depois);

    auto outra = std::make_unique<Estacao>();
    ASSERT_TRUE(outra->inicia());
    ASSERT_EQ(outra->pede("conecta " + banco), "ok");
    EXPECT_FALSE(restauraBancoServidor(*dm, fbk, local.path(), &erro));
    EXPECT_TRUE(erro.contains(QStringLiteral("em uso por outra estação"))) << erro.toStdString();
    EXPECT_TRUE(dm->connected());
    EXPECT_EQ(pacientes(), depois);
    EXPECT_EQ(outra->pede(QStringLiteral("codigo DEPOIS")).left(3), QStringLiteral("ok "));  // still working there

    // With the other workstation gone, the copy replaces the server's database.
    outra.reset();
    ASSERT_TRUE(restauraBancoServidor(*dm, fbk, local.path(), &erro)) << erro.toStdString();
    EXPECT_TRUE(dm->connected());
    EXPECT_EQ(pacientes(), depois - 1);
    EXPECT_EQ(DPacientes().SelectCodigoByNome(QStringLiteral("DEPOIS")), 0);
    EXPECT_TRUE(QDir(local.path()).entryList({QStringLiteral("antes-da-restauracao*")}).isEmpty());
}

// The replacing of the server's database fails after it began (gbak stands in front of the real
// one, restores and then reports an error); with the way back failing too. The message says
// which is true: the database of before back, or where its kept copy is, which then outlives
// the call and restores what there was.
TEST_F(ServidorBackup, SubstituicaoQueFalhaDizSeOBancoVoltouOuOndeEstaACopia) {
    paciente(QStringLiteral("ANTES"));
    QList<std::pair<QString, QString>> arquivos;
    QString erro;
    ASSERT_TRUE(preparaCopiaBanco(*dm, QString(), local.path(), &arquivos, &erro)) << erro.toStdString();
    paciente(QStringLiteral("DEPOIS"));
    const int depois = pacientes();
    const QString gbak = QStandardPaths::findExecutable(QStringLiteral("gbak"));
    ASSERT_FALSE(gbak.isEmpty());
    QTemporaryDir ferramentas;
    const QByteArray caminhoAntes = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(ferramentas.path()) + ':' + caminhoAntes);
    const QString seguranca = local.filePath(QStringLiteral("seguranca"));
    const struct {
        bool voltaFalha;
        const char* mensagem;
    } casos[] = {{false, "O banco de dados anterior foi reposto"}, {true, "O banco de dados anterior NÃO pôde ser reposto"}};
    for (const auto& c : casos) {
        SCOPED_TRACE(c.voltaFalha);
        QFile script(ferramentas.filePath(QStringLiteral("gbak")));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\nfor a; do ultimo=\"$a\"; done\n"
                                    "if [ \"$1\" = -rep ] && [ \"$ultimo\" = '%1' ]; then\n"
                                    "  case \"$2\" in\n"
                                    "    *antes-da-restauracao*) [ %2 = 1 ] && { echo falha simulada da volta >&2; exit 1; } ;;\n"
                                    "    *) '%3' \"$@\"; echo falha simulada >&2; exit 1 ;;\n"
                                    "  esac\nfi\nexec '%3' \"$@\"\n")
                         .arg(banco)
                         .arg(c.voltaFalha ? 1 : 0)
                         .arg(gbak)
                         .toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QString guardada;
        EXPECT_FALSE(restauraBancoServidor(*dm, arquivos[0].first, seguranca, &erro, &guardada));
        EXPECT_TRUE(erro.contains(QString::fromUtf8(c.mensagem))) << erro.toStdString();
        // Kept only while it is the way back, and then named in the message.
        EXPECT_EQ(QDir(seguranca).entryList(QDir::Files).size(), c.voltaFalha ? 1 : 0);
        EXPECT_EQ(!guardada.isEmpty() && erro.contains(guardada), c.voltaFalha) << erro.toStdString();
        if (c.voltaFalha) {  // the kept copy is the database of before
            qputenv("PATH", caminhoAntes);
            dm->PDesconectionDataBase();
            QString saida;
            ASSERT_TRUE(executaFerramenta(*dm, "gbak", {"-rep", guardada, banco}, &saida)) << saida.toStdString();
            dm->PConnectDataBase();
        }
        EXPECT_EQ(pacientes(), depois);
    }
    qputenv("PATH", caminhoAntes);
}
