// Two workstations on one real Firebird server (the test's own, on loopback; the second one is
// db_estacao in its own process): one diagnosis saved by both, the browser's lists following
// what the other stores, and a new exam saved while the other holds the patient's row.
#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolButton>
#include <functional>

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
        NewExam::SetUp();
        banco = servidor->novoBanco(QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        ASSERT_FALSE(banco.isEmpty());
        ASSERT_TRUE(dm->PSetDataBaseName(banco));
        doctor = insertMedico("Bruno Alves");
        patient = insertPaciente("Carla Sant'Anna", 0);
        ASSERT_TRUE(outra.inicia());
        ASSERT_EQ(outra.pede("conecta " + banco), "ok");
    }
    void abreNavegador(const QString& filtro) {
        browser = new TfrmExames(nullptr);
        browser->show();
        QCoreApplication::processEvents();
        browser->SelecionaPacientePorCodigo(patient, filtro);
        ASSERT_EQ(browser->patientCode(), patient);
    }
    template <typename T>
    T* filho(const char* nome) {
        return browser->findChild<T*>(QLatin1String(nome));
    }
    // The exam of that row with its panel open and its diagnosis being edited to `texto`.
    void editaDiagnostico(int linha, const QString& texto) {
        browser->CarregaExames(patient);  // read as stored now
        filho<QListWidget>("lswPrincipal")->setCurrentRow(linha);
        browser->MostraInfoExame(0);
        filho<QToolButton>("SpeedButton2")->click();
        filho<QPlainTextEdit>("memDiag")->setPlainText(texto);
    }
    QString diag(int exame) {
        return dm->selectString("SELECT Diag FROM Exames WHERE Codigo = :C", {{"C", exame}}, "Diag",
                                norvix::TDMPrincipal::Close::Yes);
    }

    static inline ServidorFirebird* servidor = nullptr;
    static inline QString falha;
    QString banco;
    Estacao outra;
};

TEST_F(DuasEstacoes, UmDiagnosticoSalvoNasDuasNuncaESobrescritoEmSilencio) {
    const int exame = insertExame(patient, doctor, QDate(2025, 3, 1), QTime(9, 0, 0));
    abreNavegador("Bruno Alves");
    struct Caso {
        const char* nome;
        MsgAnswer resposta;
        QString gravado, memo;
        bool editando;
    };
    const Caso casos[] = {
        {"gravar o meu", MsgAnswer::Yes, "MEU", "MEU", false},
        {"manter o da outra", MsgAnswer::No, "OUTRA", "OUTRA", false},
        {"cancelar", MsgAnswer::Cancel, "OUTRA", "MEU", true},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        dm->execProcedure("UPDATE Exames SET Diag = 'ORIGINAL' WHERE Codigo = :C", {{"C", exame}});
        editaDiagnostico(0, "MEU");  // station A shows "ORIGINAL" and edits it
        ASSERT_EQ(outra.pede(QStringLiteral("diag-pendente %1 OUTRA").arg(exame)), "ok");
        ASSERT_EQ(outra.pede("commit"), "ok");  // station B saved first
        seam.messages.clear();
        seam.answers = {c.resposta};
        filho<QToolButton>("SpeedButton1")->click();

        ASSERT_EQ(seam.messages.size(), 1u);
        const ShownMessage& m = seam.messages.front();
        EXPECT_TRUE(m.text.contains("\"OUTRA\"") && m.text.contains("\"MEU\"")) << m.text.toStdString();
        EXPECT_EQ(m.labels, QStringList({"Gravar o meu texto", "Manter o da outra estação", "Cancelar"}));
        EXPECT_EQ(m.defaultButton, MsgAnswer::Cancel);
        EXPECT_EQ(diag(exame), c.gravado);
        EXPECT_EQ(outra.pede(QStringLiteral("diag %1").arg(exame)), "ok " + c.gravado);
        EXPECT_EQ(filho<QPlainTextEdit>("memDiag")->toPlainText(), c.memo);
        EXPECT_EQ(!filho<QPlainTextEdit>("memDiag")->isReadOnly(), c.editando);
        if (c.editando) {
            // B's text has been shown now: saving again stores A's without another question.
            filho<QToolButton>("SpeedButton1")->click();
            EXPECT_EQ(seam.messages.size(), 1u);
            EXPECT_EQ(diag(exame), "MEU");
        }
    }
}

TEST_F(DuasEstacoes, AListaAbertaMostraOQueAOutraGravouSemAtrapalharUmaEdicao) {
    const int meu = insertExame(patient, doctor, QDate(2025, 3, 1), QTime(9, 0, 0));
    abreNavegador("Bruno Alves");  // B's exam is of the same doctor (code 1)
    editaDiagnostico(0, "EM EDICAO");
    ASSERT_EQ(outra.pede(QStringLiteral("exame-pendente %1 09:00:00").arg(patient)), "ok");
    ASSERT_EQ(outra.pede("commit"), "ok");
    QTest::qWait(1500);  // an edit in progress: the list waits for it
    EXPECT_EQ(browser->itemCaptions(), QStringList({"OD - 01/03/2025 09:00:00"}));
    EXPECT_EQ(filho<QPlainTextEdit>("memDiag")->toPlainText(), "EM EDICAO");
    EXPECT_TRUE(seam.messages.empty());

    filho<QToolButton>("SpeedButton1")->click();
    EXPECT_EQ(diag(meu), "EM EDICAO");
    const QStringList ambos{"OD - 01/03/2025 09:00:00", "OD - 06/05/2024 09:00:00"};
    EXPECT_TRUE(QTest::qWaitFor([&] { return browser->itemCaptions() == ambos; }, 10000))
        << browser->itemCaptions().join(" | ").toStdString();
    EXPECT_EQ(filho<QLabel>("lblTotalExames")->text(), "2");  // the counter B stored
    EXPECT_EQ(browser->selectedExamCode(), meu);  // still on the exam being worked on
    EXPECT_EQ(browser->shownExamCode(), meu);
    EXPECT_TRUE(seam.messages.empty());
}

TEST_F(DuasEstacoes, ExameGravadoComOPacientePresoNaOutraPedeParaTentarDeNovo) {
    for (const bool tentaDeNovo : {true, false}) {
        SCOPED_TRACE(tentaDeNovo ? "Tentar novamente" : "Cancelar");
        const int antes = exams();
        SeamComAcao perguntas;
        perguntas.acao = [&](const ShownMessage& m) {
            if (tentaDeNovo && !m.labels.isEmpty()) EXPECT_EQ(outra.pede("commit"), "ok");
        };
        perguntas.answers = {tentaDeNovo ? MsgAnswer::Ok : MsgAnswer::Cancel};
        open();
        chooseDoctor();
        toStep4(R);
        ASSERT_EQ(outra.pede(QStringLiteral("exame-pendente %1 %2").arg(patient).arg(tentaDeNovo ? "08:00:00" : "08:00:01")),
                  "ok");  // B holds the patient's row
        run(R);
        ASSERT_FALSE(perguntas.messages.empty());
        const ShownMessage& m = perguntas.messages.front();
        EXPECT_TRUE(m.text.startsWith("Outra estação de trabalho está alterando o cadastro deste paciente"));
        EXPECT_EQ(m.labels, QStringList({"Tentar novamente", "Cancelar"}));
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
