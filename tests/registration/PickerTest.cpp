// The patient picker from the exam browser's "Novo Paciente", offscreen on a fresh database:
// the list following the typed name (bound, by prefix, a page at a time), choosing a patient,
// registering a new one, and the new exam that AUTOEXAME brings or does not.
#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>

#include "RegistroTest.h"
#include "exams/UfrmExames.h"
#include "records/CursorModel.h"
#include "registration/Registration.h"
#include "registration/UfrmListaTrabalho.h"
#include "registration/UfrmNovoPaciente.h"
#include "config/UBIniSettings.h"
#include "dicom/PacsServers.h"
#include "platform/ProfileFile.h"
#include "records/ExameNovo.h"
#include "records/UDPacientesRis.h"

using norvix::registerRegistrationWindows;
using norvix::TfrmExames;
using norvix::TfrmNovoPaciente;

namespace {

class Picker : public regtest::Registro {
protected:
    void SetUp() override {
        Registro::SetUp();
        registerRegistrationWindows();
        TfrmExames::openers().novoExame = [this](TfrmExames& b, bool orto) {
            exames.push_back(b.patientCode());
            EXPECT_FALSE(orto);
        };
        insertMedico("Ana Lima");
    }
    void TearDown() override {
        TfrmExames::openers() = {};
        Registro::TearDown();
    }
    void abreNavegador() {
        browser = new TfrmExames(nullptr);
        browser->show();
        QCoreApplication::processEvents();
    }
    // "Novo Paciente" with the picker driven by action.
    void novoPaciente(std::function<void(QWidget*)> action) {
        if (!browser) abreNavegador();
        quandoAbrir(QStringLiteral("frmNovoPaciente"), std::move(action));
        browser->tbtCadPacienteClick();
        EXPECT_TRUE(todasAbriram());
    }
    static QStringList nomes(QWidget* w) {
        auto* grid = filho<QTableView>(w, "DBGrid1");
        QStringList out;
        for (int r = 0; r < grid->model()->rowCount(); ++r) out << grid->model()->index(r, 1).data().toString();
        return out;
    }
    static void clica(QWidget* w, int row, bool duplo) {
        auto* grid = filho<QTableView>(w, "DBGrid1");
        grid->setCurrentIndex(grid->model()->index(row, 1));
        auto* picker = static_cast<TfrmNovoPaciente*>(w);
        picker->DBGrid1CellClick();
        if (duplo) picker->DBGrid1DblClick();
    }

    QPointer<TfrmExames> browser;
    std::vector<int> exames;  // the patient of each new exam opened
};

}  // namespace

TEST_F(Picker, TheListFollowsTheTypedPrefixLiterallyWhateverTheCaseAndAccents) {
    for (const char* n : {"JOÃO", "Jorge", "Ana Jorge", "joana", "Ana_Maria", "Ana Maria", "100% Lima", "1000 Lima",
                          "D'Ávila Souza"})
        insertPaciente(QString::fromUtf8(n));
    novoPaciente([&](QWidget* w) {
        EXPECT_EQ(nomes(w).size(), 9);  // everything, by name
        EXPECT_EQ(nomes(w).first(), "100% Lima");
        digita(w, "edtNomePac", "jo");
        EXPECT_EQ(nomes(w), QStringList({"JOÃO", "Jorge", "joana"}));
        digita(w, "edtNomePac", QStringLiteral("joã"));
        EXPECT_EQ(nomes(w), QStringList({"JOÃO"}));
        digita(w, "edtNomePac", "ana_");
        EXPECT_EQ(nomes(w), QStringList({"Ana_Maria"}));
        digita(w, "edtNomePac", "100%");
        EXPECT_EQ(nomes(w), QStringList({"100% Lima"}));
        digita(w, "edtNomePac", QStringLiteral("d'á"));
        EXPECT_EQ(nomes(w), QStringList({"D'Ávila Souza"}));
        digita(w, "edtNomePac", "x");
        EXPECT_TRUE(nomes(w).isEmpty());
        filho<QLineEdit>(w, "edtNomePac")->clear();
        static_cast<TfrmNovoPaciente*>(w)->edtNomePacKeyUp();
        EXPECT_EQ(nomes(w).size(), 9);
        // A click copies the name; nothing is chosen yet.
        clica(w, 5, false);
        EXPECT_EQ(filho<QLineEdit>(w, "edtNomePac")->text(), "D'Ávila Souza");
        EXPECT_TRUE(w->isVisible());
    });
    EXPECT_TRUE(seam.messages.empty()) << texts().toStdString();
}

TEST_F(Picker, ALargeClinicIsListedAPageAtATime) {
    {
        norvix::TDMPrincipal::Batch lote(*dm);
        for (int i = 0; i < 450; ++i) insertPaciente(QStringLiteral("Paciente %1").arg(i, 4, 10, QLatin1Char('0')));
        lote.commit();
    }
    novoPaciente([&](QWidget* w) {
        auto* grid = filho<QTableView>(w, "DBGrid1");
        EXPECT_EQ(grid->model()->rowCount(), norvix::CursorModel::kPage);
        EXPECT_FALSE(dm->IBQueryBuscaPac.fetchedAll());
        EXPECT_LE(dm->IBQueryBuscaPac.fetchedCount(), norvix::CursorModel::kPage + 1);
        digita(w, "edtNomePac", "paciente 02");
        EXPECT_EQ(grid->model()->rowCount(), 100);
        EXPECT_EQ(nomes(w).first(), "Paciente 0200");
    });
}

TEST_F(Picker, ADoubleClickChoosesThatPatientAndStartsTheExamWithAutoExame) {
    norvix::infos().AutoExame = 1;
    insertPaciente("Bia");
    const int primeira = insertPaciente("Carla");
    const int segunda = insertPaciente("Carla");
    novoPaciente([&](QWidget* w) {
        EXPECT_EQ(nomes(w), QStringList({"Bia", "Carla", "Carla"}));
        clica(w, 2, true);
    });
    EXPECT_EQ(browser->patientCode(), segunda);  // the row chosen, not the first of its name
    EXPECT_EQ(browser->filterText(), TfrmExames::kTodos);
    EXPECT_EQ(exames, std::vector<int>({segunda}));
    EXPECT_NE(primeira, segunda);

    norvix::infos().AutoExame = 0;
    novoPaciente([&](QWidget* w) { clica(w, 0, true); });
    EXPECT_EQ(browser->patientName(), "Bia");
    EXPECT_EQ(exames.size(), 1u);
}

TEST_F(Picker, ContinuarAsksForANameAndAnExistingOneIsShownWithoutANewExam) {
    norvix::infos().AutoExame = 1;
    insertPaciente("Bia");
    const int davi = insertPaciente("Davi");
    novoPaciente([&](QWidget* w) {
        digita(w, "edtNomePac", "  ");
        filho<QPushButton>(w, "Button1")->click();
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(texts(), "Digite o nome do Paciente!!!");
        EXPECT_EQ(seam.messages[0].caption, "Informação");
        digita(w, "edtNomePac", "Davi");
        filho<QPushButton>(w, "Button1")->click();
        EXPECT_FALSE(w->isVisible());
    });
    EXPECT_EQ(browser->patientCode(), davi);
    EXPECT_TRUE(exames.empty());
}

TEST_F(Picker, ANewNameIsRegisteredShownUnderSemExamesAndExamined) {
    norvix::infos().AutoExame = 1;
    insertPaciente("Davi");
    int novo = 0;
    novoPaciente([&](QWidget* w) {
        digita(w, "edtNomePac", "davi");  // differs in case only: not the same patient
        quandoAbrir(QStringLiteral("frmCadastroPacientes"), [&](QWidget* cadastro) {
            EXPECT_EQ(filho<QLineEdit>(cadastro, "edtNome")->text(), "davi");
            filho<QPushButton>(cadastro, "sbtOk")->click();
        });
        filho<QPushButton>(w, "Button1")->click();
    });
    novo = valor("SELECT MAX(Codigo) AS V FROM Pacientes");
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 2);
    EXPECT_EQ(browser->filterText(), TfrmExames::kSemExames);
    EXPECT_EQ(browser->patientCode(), novo);
    EXPECT_EQ(exames, std::vector<int>({novo}));
}

TEST_F(Picker, ACancelledRegistrationLeavesEverythingAsItWas) {
    norvix::infos().AutoExame = 1;
    const int davi = insertPaciente("Davi");
    novoPaciente([&](QWidget* w) {
        digita(w, "edtNomePac", "Eva");
        quandoAbrir(QStringLiteral("frmCadastroPacientes"), [&](QWidget* cadastro) {
            // Another workstation registers someone meanwhile: that is not this registration.
            insertPaciente("Outra Estação");
            filho<QPushButton>(cadastro, "sbtCancelar")->click();
        });
        filho<QPushButton>(w, "Button1")->click();
        EXPECT_FALSE(w->isVisible());
    });
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes WHERE Nome = 'Eva'"), 0);
    EXPECT_EQ(browser->patientCode(), davi);
    EXPECT_TRUE(exames.empty());
}

TEST_F(Picker, EditarPacienteSavesAndTheListShowsTheNameAsSaved) {
    insertPaciente("Bia");
    const int caio = insertPaciente("Caio");
    abreNavegador();
    ASSERT_TRUE(browser->SelecionaCodigoPaciente(caio));
    quandoAbrir(QStringLiteral("frmCadastroPacientes"), [&](QWidget* w) {
        digita(w, "edtNome", "Abel Caio");
        filho<QPushButton>(w, "sbtOk")->click();
    });
    browser->tbtAlterarPacienteClick();
    EXPECT_EQ(browser->patientCode(), caio);
    EXPECT_EQ(browser->patientName(), "Abel Caio");
    auto* grid = browser->findChild<QTableView*>(QStringLiteral("DBGridPacientes"));
    EXPECT_EQ(grid->model()->index(0, 0).data().toString(), "Abel Caio");

    // Deleted elsewhere before the window opens: said, and the list read again.
    dm->execProcedure("Execute Procedure DeletePacientesByCodigo :Codigo", {{"Codigo", caio}});
    browser->tbtAlterarPacienteClick();
    EXPECT_EQ(seam.messages.back().text, "O paciente selecionado não existe mais; a lista será atualizada.");
    EXPECT_EQ(grid->model()->rowCount(), 1);
    EXPECT_EQ(browser->patientName(), "Bia");
}

TEST_F(Picker, ContinuarOnANamesakesNameTakesTheRowClickedAndAsksWhenNoneIs) {
    const int first = insertPaciente("MARIA DA SILVA");
    const int second = insertPaciente("MARIA DA SILVA");
    novoPaciente([&](QWidget* w) {
        digita(w, "edtNomePac", "MARIA DA SILVA");
        filho<QPushButton>(w, "Button1")->click();
        EXPECT_TRUE(w->isVisible());  // two patients of that name: which one?
        EXPECT_EQ(texts(), "Há 2 pacientes com o nome MARIA DA SILVA. Escolha um deles na lista.");
        clica(w, 1, false);
        filho<QPushButton>(w, "Button1")->click();
        EXPECT_FALSE(w->isVisible());
    });
    EXPECT_EQ(browser->patientCode(), second);
    novoPaciente([&](QWidget* w) {
        digita(w, "edtNomePac", "MARIA DA SILVA");
        clica(w, 0, true);
    });
    EXPECT_EQ(browser->patientCode(), first);
}

// "Lista de trabalho" against a worklist server on loopback: a patient registered before is
// found by name and birth date and linked; a new one is registered with what the RIS gave and
// linked; a linked ID is the same patient again without asking; a server down is said.
TEST_F(Picker, TheWorklistFindsLinksOrRegistersThePatient) {
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("WL"));
    QFile(dir.filePath("WL/lockfile")).open(QIODevice::WriteOnly);  // wlmscpfs locks on it
    const QString hoje = norvix::Relogio().Agora().date().toString("yyyyMMdd");
    const struct { const char *name, *id, *birth, *sex; } items[] = {
        {"Araújo^Maria José", "RIS-2", "19800315", "F"}, {"Silva^Davi", "RIS-7", "19900102", "M"}};
    for (int n = 0; n < 2; ++n) {
        const QString dump = QStringLiteral(
                                 "(0008,0005) CS [ISO_IR 192]\n(0010,0010) PN [%1]\n(0010,0020) LO [%2]\n"
                                 "(0010,0030) DA [%3]\n(0010,0040) CS [%4]\n(0008,0050) SH [A%5]\n(0040,0100) SQ\n"
                                 "(fffe,e000) -\n(0040,0001) AE [NORVIX]\n(0040,0002) DA [%6]\n(0040,0003) TM [0%5]\n"
                                 "(0008,0060) CS [OP]\n(fffe,e00d) -\n(fffe,e0dd) -\n")
                                 .arg(QString::fromUtf8(items[n].name), items[n].id, items[n].birth, items[n].sex)
                                 .arg(n + 8)
                                 .arg(hoje);
        pacstest::write(dir.filePath("%1.dump").arg(n), dump.toUtf8());
        ASSERT_EQ(QProcess::execute("dump2dcm", {"-q", dir.filePath("%1.dump").arg(n), dir.filePath("WL/%1.wl").arg(n)}), 0);
    }
    pacstest::Server wlm;
    const int fechada = pacstest::freePort();
    wlm.start("wlmscpfs", {"-s", "-dfr", "-csk", "-dfp", dir.path(), QString::number(wlm.port)});
    const int maria = insertPaciente(QString::fromUtf8("Maria José Araújo"));
    dm->execProcedure("UPDATE Pacientes SET DataNascimento = '15/03/1980' WHERE Codigo = :C", {{"C", maria}});
    qputenv("NORVIX_ROOT", QFile::encodeName(dir.filePath("raiz")));
    QDir().mkpath(dir.filePath("raiz/OrventDuo"));
    norvix::ProfileFile ini(dir.filePath("raiz/OrventDuo/Orvent.ini"));
    ASSERT_TRUE(ini.writeString("DICOM", "WORKLIST_AETITLE", "WL") && ini.writeString("DICOM", "WORKLIST_HOST", "127.0.0.1"));
    norvix::TBIniSettings settings;
    // Each pick: the worklist's port, the row chosen, whether the registration window comes
    // (and is saved), the patient the browser shows afterwards (-1: the new one).
    const struct { int port; int row; bool registers; int patient; const char* says; } picks[] = {
        {fechada, -1, false, 0, "O servidor da lista de trabalho não responde"},  // not "O PACS"
        {wlm.port, 0, false, maria, "2 pacientes agendados."},
        {wlm.port, 1, true, -1, "2 pacientes agendados."},
        {wlm.port, 1, false, -1, "2 pacientes agendados."},
    };
    int davi = 0;
    for (const auto& p : picks) {
        ASSERT_TRUE(ini.writeString("DICOM", "WORKLIST_PORTA", QString::number(p.port)) && settings.LoadAll(3));
        if (browser) browser->close(), QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        browser = new TfrmExames(&settings);
        browser->show();
        novoPaciente([&](QWidget* w) {
            quandoAbrir(QStringLiteral("frmListaTrabalho"), [&](QWidget* lista) {
                auto* janela = static_cast<norvix::TfrmListaTrabalho*>(lista);
                for (int i = 0; i < 400 && janela->consultando(); ++i) QTest::qWait(25);
                EXPECT_TRUE(janela->situacao().contains(p.says)) << janela->situacao().toStdString();
                if (p.row < 0) return;
                if (p.registers)
                    quandoAbrir(QStringLiteral("frmCadastroPacientes"), [&](QWidget* cadastro) {
                        EXPECT_EQ(filho<QLineEdit>(cadastro, "edtNome")->text(), "Davi Silva");
                        EXPECT_EQ(filho<QLineEdit>(cadastro, "edtDataNascimento")->text(), "02/01/1990");
                        filho<QPushButton>(cadastro, "sbtOk")->click();
                    });
                filho<QTableWidget>(lista, "tblListaTrabalho")->selectRow(p.row);
                QTest::keyClick(lista, Qt::Key_Return);
            });
            EXPECT_TRUE(filho<QPushButton>(w, "btnListaTrabalho")->isVisibleTo(w));
            filho<QPushButton>(w, "btnListaTrabalho")->click();
        });
        if (p.registers) davi = valor("SELECT MAX(Codigo) AS V FROM Pacientes");
        if (p.patient) EXPECT_EQ(browser->patientCode(), p.patient < 0 ? davi : p.patient) << p.row;
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 2);
    EXPECT_EQ(norvix::DPacientesRis().PacienteDoId("RIS-2"), maria);
    EXPECT_EQ(norvix::DPacientesRis().PacienteDoId("RIS-7"), davi);
    EXPECT_EQ(norvix::DPacientesRis().IdDoPaciente(davi), "RIS-7");
    // Each patient's order waits for the next exam; Davi picked twice keeps one.
    EXPECT_EQ(count("SELECT COUNT(*) FROM PedidosRis WHERE CodExame IS NULL"), 2);
    EXPECT_EQ(count("SELECT COUNT(*) FROM PedidosRis WHERE CodPaciente = :P AND Accession = 'A9'", {{"P", davi}}), 1);
    browser->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    qunsetenv("NORVIX_ROOT");
}
