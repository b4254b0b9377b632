// Two workstations on one real Firebird server (the test's own, on loopback; the second one is
// db_estacao in its own process): one diagnosis saved by both, the browser's lists following
// what the other stores, and a new exam saved while the other holds the patient's row.
#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolButton>

#include "NewExamSupport.h"
#include "db/ServidorFirebird.h"

using norvix::MsgAnswer;
using norvix::ShownMessage;

namespace {

using dbtest::Estacao;
using dbtest::ServidorFirebird;
constexpr int R = TfrmNovoExame::kDireito;

// Records like the usual seam, and lets the test act (the other station commits) while a
// question is open.
struct SeamComAcao : norvix::RecordingMessageSeam {
    std::function<void(const ShownMessage&)> acao;
    MsgAnswer show(QWidget* parent, const ShownMessage& m) override {
        if (acao) acao(m);
        return RecordingMessageSeam::show(parent, m);
    }
};

class DuasEstacoes : public newexam::NewExam {
protected:
    static void SetUpTestSuite() {
        if (ServidorFirebird::programa().isEmpty()) return;
        servidor = new ServidorFirebird;
        if (!servidor->prepara(QString::fromLatin1(norvix::TDMPrincipal::kPassword))) falha = servidor->erro();
    }
    static void TearDownTestSuite() {
        delete servidor;
        servidor = nullptr;
    }
    void SetUp() override {
        if (!servidor) GTEST_SKIP() << "servidor Firebird ausente (/usr/sbin/firebird, pacote firebird3.0-server)";
        ASSERT_TRUE(falha.isEmpty()) << falha.toStdString();
        ASSERT_TRUE(servidor->inicia()) << servidor->erro().toStdString();
        NewExam::SetUp();  // then the same clinic again, on a database of the server
        const QString banco = servidor->novoBanco(::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_TRUE(dm->PSetDataBaseName(banco));
        doctor = insertMedico("Bruno Alves");
        patient = insertPaciente("Carla Sant'Anna", 0);
        ASSERT_TRUE(outra.inicia());
        ASSERT_EQ(outra.pede("conecta " + banco), "ok");
    }
    template <typename T>
    T* filho(const char* nome) {
        return browser->findChild<T*>(QLatin1String(nome));
    }
    // The browser on the patient under the doctor, its first exam's diagnosis edited to `texto`.
    void editaDiagnostico(const QString& texto) {
        if (!browser) {
            browser = new TfrmExames(nullptr);
            browser->show();
            browser->SelecionaPacientePorCodigo(patient, "Bruno Alves");
        }
        browser->CarregaExames(patient);  // read as stored now
        filho<QListWidget>("lswPrincipal")->setCurrentRow(0);
        browser->MostraInfoExame(0);
        filho<QToolButton>("SpeedButton2")->click();
        filho<QPlainTextEdit>("memDiag")->setPlainText(texto);
    }

    static inline ServidorFirebird* servidor = nullptr;
    static inline QString falha;
    Estacao outra;
};

TEST_F(DuasEstacoes, UmDiagnosticoSalvoNasDuasNuncaESobrescritoEmSilencio) {
    const int exame = insertExame(patient, doctor, QDate(2025, 3, 1), QTime(9, 0, 0));
    struct Caso {
        const char* nome;
        MsgAnswer resposta;
        QString gravado, memo;
        bool editando;
    } const casos[] = {
        {"gravar o meu", MsgAnswer::Yes, "MEU", "MEU", false},
        {"manter o da outra", MsgAnswer::No, "OUTRA", "OUTRA", false},
        {"cancelar", MsgAnswer::Cancel, "OUTRA", "MEU", true},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        dm->execProcedure("UPDATE Exames SET Diag = 'ORIGINAL' WHERE Codigo = :C", {{"C", exame}});
        editaDiagnostico("MEU");  // station A shows "ORIGINAL" and edits it
        ASSERT_EQ(outra.pede(QStringLiteral("diag-pendente %1 OUTRA").arg(exame)), "ok");
        ASSERT_EQ(outra.pede("commit"), "ok");  // station B saved first
        seam.messages.clear();
        seam.answers = {c.resposta};
        filho<QToolButton>("SpeedButton1")->click();

        ASSERT_EQ(seam.messages.size(), 1u);
        const ShownMessage& m = seam.messages.front();  // both texts, and Enter overwrites nobody
        EXPECT_TRUE(m.text.contains("\"OUTRA\"") && m.text.contains("\"MEU\"")) << m.text.toStdString();
        EXPECT_EQ(m.labels, QStringList({"Gravar o meu texto", "Manter o da outra estação", "Cancelar"}));
        EXPECT_EQ(m.defaultButton, MsgAnswer::Cancel);
        EXPECT_EQ(outra.pede(QStringLiteral("diag %1").arg(exame)), "ok " + c.gravado);
        EXPECT_EQ(filho<QPlainTextEdit>("memDiag")->toPlainText(), c.memo);
        EXPECT_EQ(!filho<QPlainTextEdit>("memDiag")->isReadOnly(), c.editando);
        if (c.editando) {
            // B's text has been shown now: saving again stores A's without another question.
            filho<QToolButton>("SpeedButton1")->click();
            EXPECT_EQ(seam.messages.size(), 1u);
            EXPECT_EQ(outra.pede(QStringLiteral("diag %1").arg(exame)), "ok MEU");
        }
    }
}

TEST_F(DuasEstacoes, AListaAbertaMostraOQueAOutraGravouSemAtrapalharUmaEdicao) {
    const int meu = insertExame(patient, doctor, QDate(2025, 3, 1), QTime(9, 0, 0));
    editaDiagnostico("EM EDICAO");  // B's exam below is of the same doctor (code 1)
    ASSERT_EQ(outra.pede(QStringLiteral("exame-pendente %1 09:00:00").arg(patient)), "ok");
    ASSERT_EQ(outra.pede("commit"), "ok");
    QTest::qWait(1500);  // an edit in progress: the list waits for it
    EXPECT_EQ(browser->itemCaptions(), QStringList({"OD - 01/03/2025 09:00:00"}));
    EXPECT_EQ(filho<QPlainTextEdit>("memDiag")->toPlainText(), "EM EDICAO");
    EXPECT_TRUE(seam.messages.empty());

    filho<QToolButton>("SpeedButton1")->click();
    EXPECT_EQ(outra.pede(QStringLiteral("diag %1").arg(meu)), "ok EM EDICAO");
    const QStringList ambos{"OD - 01/03/2025 09:00:00", "OD - 06/05/2024 09:00:00"};
    EXPECT_TRUE(QTest::qWaitFor([&] { return browser->itemCaptions() == ambos; }, 10000));
    EXPECT_EQ(filho<QLabel>("lblTotalExames")->text(), "2");  // the counter B stored
    EXPECT_EQ(browser->shownExamCode(), meu);  // still on the exam being worked on
    EXPECT_TRUE(seam.messages.empty());
}

TEST_F(DuasEstacoes, ExameGravadoComOPacientePresoNaOutraPedeParaTentarDeNovo) {
    for (const bool tentaDeNovo : {true, false}) {
        SCOPED_TRACE(tentaDeNovo ? "Tentar novamente" : "Cancelar");
        const int antes = exams();
        SeamComAcao perguntas;  // "Tentar novamente" once B has committed
        perguntas.acao = [&](const ShownMessage& m) {
            if (tentaDeNovo && !m.labels.isEmpty()) EXPECT_EQ(outra.pede("commit"), "ok");
        };
        perguntas.answers = {tentaDeNovo ? MsgAnswer::Ok : MsgAnswer::Cancel};
        open();
        chooseDoctor();
        toStep4(R);
        ASSERT_EQ(outra.pede(QStringLiteral("exame-pendente %1 08:00:0%2").arg(patient).arg(int(tentaDeNovo))), "ok");
        run(R);  // B holds the patient's row
        ASSERT_FALSE(perguntas.messages.empty());
        EXPECT_TRUE(perguntas.messages.front().text.startsWith("Outra estação de trabalho está alterando o cadastro"));
        EXPECT_EQ(perguntas.messages.front().labels, QStringList({"Tentar novamente", "Cancelar"}));
        EXPECT_FALSE(perguntas.texts().join("\n").contains("disco rigido"));
        if (!tentaDeNovo) {
            EXPECT_EQ(window->passo(R), 4);  // nothing lost: still ready to be saved
            EXPECT_EQ(exams(), antes);
            ASSERT_EQ(outra.pede("commit"), "ok");
            run(R);
        }
        EXPECT_EQ(window->passo(R), 5);
        EXPECT_EQ(perguntas.messages.back().text, "Exame gravado com sucesso");
        EXPECT_EQ(exams(), antes + 2);        // B's and this one
        EXPECT_EQ(totalExames(), antes + 2);  // neither count lost
        window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

}  // namespace
