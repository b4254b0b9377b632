// Several workstations on one database server, against a real Firebird server of the test's
// own on loopback (see ServidorFirebird.h): logging in with the two passwords, rows and codes
// shared by two workstations in two processes, a record two workstations change at once, and
// the server stopping in the middle of a session.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSet>
#include <memory>

#include "ServidorFirebird.h"
#include "platform/ui/MessageSeam.h"
#include "records/UDExames.h"
#include "records/UDMedicos.h"
#include "records/UDPacientes.h"
#include "records/UfrmDataModule.h"

using namespace norvix;
using dbtest::Estacao;
using dbtest::ServidorFirebird;

namespace {

void novoPaciente(const QString& nome) {
    DPacientes().InsertPacientes(nome, "", "", "M", "C", "", "", "", "", "", "", "", "", "", "",
                                 "", "", "", "", "", "", "", QDate(2024, 5, 6), 0);
}

class Servidor : public ::testing::Test {
protected:
    // One server for the whole suite; each test gets a database of its own on it.
    static void SetUpTestSuite() {
        if (ServidorFirebird::programa().isEmpty()) return;
        servidor = new ServidorFirebird;
        if (!servidor->prepara(QString::fromLatin1(TDMPrincipal::kFallbackPassword)))
            falha = servidor->erro();
    }
    static void TearDownTestSuite() {
        delete servidor;
        servidor = nullptr;
    }
    void SetUp() override {
        if (!servidor)
            GTEST_SKIP() << "servidor Firebird ausente (/usr/sbin/firebird, pacote "
                            "firebird3.0-server): scripts/install-deps.sh o instala";
        ASSERT_TRUE(falha.isEmpty()) << falha.toStdString();
        ASSERT_TRUE(servidor->inicia()) << servidor->erro().toStdString();
        banco = servidor->novoBanco(QString::fromLatin1(
            ::testing::UnitTest::GetInstance()->current_test_info()->name()));
        ASSERT_FALSE(banco.isEmpty());
        dm = std::make_unique<TDMPrincipal>();
        ASSERT_TRUE(dm->PSetDataBaseName(banco));
    }
    void TearDown() override { dm.reset(); }

    static inline ServidorFirebird* servidor = nullptr;
    static inline QString falha;
    QString banco;
    RecordingMessageSeam mensagens;
    std::unique_ptr<TDMPrincipal> dm;
};

TEST_F(Servidor, SenhaReservaEntraSemMensagemENenhumaSenhaDaOMotivo) {
    // SetUp connected: the server refused the first password and took the fallback.
    EXPECT_TRUE(dm->connected());
    EXPECT_TRUE(dm->IBTransaction.inTransaction());
    EXPECT_EQ(dm->IBDatabase.params(),
              QStringList({"user_name=sysdba", QStringLiteral("password=") +
                                                   TDMPrincipal::kFallbackPassword}));
    EXPECT_TRUE(mensagens.messages.empty());
    // Texts travel as WIN1252 through the server too (its own copy of the character sets).
    EXPECT_EQ(dm->selectString("SELECT Texto FROM LaudosTexto WHERE Codigo = 2", {}, "Texto",
                               TDMPrincipal::Close::Yes),
              QStringLiteral("rígidas gás-permeáveis"));

    // Neither password: the reason, no connection.
    const char* const alterar = "ALTER USER SYSDBA PASSWORD '%1'";
    dm->execProcedure(QString::fromLatin1(alterar).arg("outra123"));
    {
        TDMPrincipal outro;
        QString why;
        EXPECT_FALSE(outro.PSetDataBaseName(banco, &why));
        EXPECT_EQ(why, QStringLiteral("Usuário/Senha de BD incorreto!"));
        EXPECT_FALSE(outro.connected());
    }
    dm->execProcedure(QString::fromLatin1(alterar).arg(TDMPrincipal::kFallbackPassword));
    EXPECT_TRUE(mensagens.messages.empty());
}

TEST_F(Servidor, DuasEstacoesVeemOQueAOutraGravouECodigosNuncaSeRepetem) {
    Estacao outra;
    ASSERT_TRUE(outra.inicia());
    ASSERT_EQ(outra.pede("conecta " + banco), "ok");

    novoPaciente(QStringLiteral("JOÃO"));  // committed here
    EXPECT_EQ(outra.pede(QStringLiteral("codigo JOÃO")), "ok 1");
    ASSERT_EQ(outra.pede("paciente BIA"), "ok");  // committed there
    EXPECT_EQ(DPacientes().SelectCodigoByNome("BIA"), 2);

    // Both insert 100 patients at the same time; each insert takes its code from the generator.
    outra.envia("pacientes 100 B");
    for (int i = 1; i <= 100; ++i) novoPaciente(QStringLiteral("A%1").arg(i));
    ASSERT_EQ(outra.resposta(), "ok");
    EXPECT_EQ(DPacientes().CountPacientes(), 202);
    EXPECT_EQ(dm->selectInt("SELECT COUNT(DISTINCT Codigo) FROM Pacientes", {}, "COUNT",
                            TDMPrincipal::Close::Yes),
              202);
    QSet<int> codigos;
    for (const char* prefixo : {"A", "B"})
        for (int i = 1; i <= 100; ++i)
            codigos.insert(
                DPacientes().SelectCodigoByNome(QStringLiteral("%1%2").arg(prefixo).arg(i)));
    EXPECT_EQ(codigos.size(), 200);
    EXPECT_FALSE(codigos.contains(0));
}

TEST_F(Servidor, RegistroAlteradoEmOutraEstacaoDaMensagemClaraENadaSePerde) {
    novoPaciente("ANA");
    DMedicos().InsertMedicos("DR", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
                             "", "", "", "");
    DExames().InsertExames(1, 1, QDate(2024, 5, 6), QTime(9, 0, 0), "OD", 0.9, "T", "",
                           "ORIGINAL", "", 32, "1");
    Estacao primeira;
    ASSERT_TRUE(primeira.inicia());
    ASSERT_EQ(primeira.pede("conecta " + banco), "ok");
    ASSERT_EQ(primeira.pede("diag-pendente 1 PRIMEIRA"), "ok");  // not committed yet

    try {
        DExames().UpdateDiagExameByCodigo(1, "SEGUNDA");
        FAIL() << "o registro travado foi alterado";
    } catch (const DatabaseError& e) {
        EXPECT_EQ(e.kind(), DatabaseError::Kind::LockConflict);
        EXPECT_EQ(e.message(), QStringLiteral("O registro está sendo alterado em outra estação "
                                              "de trabalho. Tente novamente em instantes."));
    }
    EXPECT_EQ(DExames().SelectCodRespByCodigo(1), 1);  // the module goes on working
    ASSERT_EQ(primeira.pede("commit"), "ok");
    EXPECT_EQ(primeira.pede("diag 1"), "ok PRIMEIRA");
    EXPECT_EQ(dm->selectString("SELECT Diag FROM Exames WHERE Codigo = 1", {}, "Diag",
                               TDMPrincipal::Close::Yes),
              "PRIMEIRA");

    DExames().UpdateDiagExameByCodigo(1, "SEGUNDA");  // the retry succeeds
    EXPECT_EQ(primeira.pede("diag 1"), "ok SEGUNDA");
    EXPECT_EQ(DExames().CountExames(), 1);
    EXPECT_TRUE(mensagens.messages.empty());
}

TEST_F(Servidor, DuasEstacoesGravandoExamesDoMesmoPacienteNaoPerdemAContagem) {
    novoPaciente("ANA");
    DMedicos().InsertMedicos("DR", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
                             "", "", "", "");
    Estacao outra;
    ASSERT_TRUE(outra.inicia());
    ASSERT_EQ(outra.pede("conecta " + banco), "ok");
    // The other workstation is in the middle of its save (the patient's row is held) and
    // finishes it a moment later; this one saves meanwhile and waits its turn.
    ASSERT_EQ(outra.pede("exame-pendente 1 09:00:00"), "ok");
    outra.envia("espera 800");
    outra.envia("commit");
    QElapsedTimer relogio;
    relogio.start();
    dm->runBatch([] {
        DPacientes().BloqueiaPaciente(1);
        DExames().InsertExames(1, 1, QDate(2024, 5, 7), QTime(10, 0, 0), "OS", 0.9, "T", "", "", "", 32, "1");
        DPacientes().AtualizaContadores(1, "OS 07/05/2024 10:00:00");
    });
    EXPECT_GE(relogio.elapsed(), 500);  // it did wait for the other's commit
    ASSERT_EQ(outra.resposta(), "ok");
    ASSERT_EQ(outra.resposta(), "ok");
    EXPECT_EQ(DExames().CountExames(), 2);
    EXPECT_EQ(DPacientes().SelectTotalExamesByCodigo(1), 2);  // once 1: the first count lost
    EXPECT_TRUE(mensagens.messages.empty());
}

TEST_F(Servidor, ServidorParadoDaMensagemClaraEAConexaoVoltaSozinha) {
    novoPaciente("ANA");
    const QStringList login = dm->IBDatabase.params();
    servidor->para();

    for (int tentativa = 0; tentativa < 2; ++tentativa) {  // the second finds it still away
        try {
            DPacientes().CountPacientes();
            FAIL() << "uma consulta sem servidor não falhou";
        } catch (const DatabaseError& e) {
            EXPECT_EQ(e.kind(), DatabaseError::Kind::ConnectionLost);
            EXPECT_TRUE(e.message().startsWith(
                QStringLiteral("A conexão com o servidor de banco de dados foi perdida.")))
                << e.message().toStdString();
        }
    }
    EXPECT_THROW(novoPaciente("PERDIDO"), DatabaseError);
    EXPECT_THROW(dm->PCommitDataBase(), DatabaseError);
    EXPECT_TRUE(mensagens.messages.empty());  // the caller decides what the operator sees

    ASSERT_TRUE(servidor->inicia()) << servidor->erro().toStdString();
    EXPECT_EQ(DPacientes().CountPacientes(), 1);  // attached again by itself
    EXPECT_TRUE(dm->Avisos.ativo());              // and listening on the new attachment
    EXPECT_TRUE(dm->IBTransaction.inTransaction());
    EXPECT_EQ(dm->IBDatabase.databaseName(), banco);
    EXPECT_EQ(dm->IBDatabase.params(), login);
    novoPaciente("BIA");
    EXPECT_EQ(DPacientes().SelectCodigoByNome("BIA"), 2);
    EXPECT_EQ(DPacientes().SelectCodigoByNome("PERDIDO"), 0);
    EXPECT_TRUE(mensagens.messages.empty());
}

// The restore replaces the database file between PDesconectionDataBase and PConnectDataBase:
// a module disconnected on purpose must not attach again by itself.
TEST_F(Servidor, DesconectadoDePropositoNaoReconectaSozinho) {
    servidor->para();
    EXPECT_THROW(DPacientes().CountPacientes(), DatabaseError);
    dm->PDesconectionDataBase();
    ASSERT_TRUE(servidor->inicia()) << servidor->erro().toStdString();
    try {
        DPacientes().CountPacientes();
        FAIL() << "conectou sozinho depois de PDesconectionDataBase";
    } catch (const DatabaseError& e) {
        EXPECT_EQ(e.kind(), DatabaseError::Kind::Other);
    }
    EXPECT_FALSE(dm->connected());
    dm->PConnectDataBase();
    EXPECT_EQ(DPacientes().CountPacientes(), 0);
}

}  // namespace
