// Worklist items made into patients against a real worklist server (wlmscpfs on loopback),
// through the real picker offscreen: a link is made alone only when name, sex and a valid birth
// date agree; everything else waits for the operator's answer in the comparison window, and
// that answer does what it says. Also the pure comparison, and the registration window's links.
#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>

#include "RegistroTest.h"
#include "config/UBIniSettings.h"
#include "dicom/PacsServers.h"
#include "exams/PatientGrid.h"
#include "exams/UfrmExames.h"
#include "platform/ProfileFile.h"
#include "records/ExameNovo.h"
#include "records/UDPacientesRis.h"
#include "registration/ConferenciaRis.h"
#include "registration/PainelVinculosRis.h"
#include "registration/Registration.h"
#include "registration/UfrmCadastroPacientes.h"
#include "registration/UfrmListaTrabalho.h"

using namespace norvix;

namespace {

struct ItemRis {
    const char *nome, *id, *nascimento, *sexo;
};
// What the RIS scheduled today: by row, the cases below.
const ItemRis kAgenda[] = {
    {"ARAUJO^MARIA JOSE", "RIS-1", "19800315", "F"},  // the same person, written otherwise
    {"Souza^Carla", "RIS-2", "", "F"},                // no birth date
    {"Lima^Rita", "RIS-3", "19800101", "F"},          // her ID linked to a man born 1961
    {"Silva^Davi", "RIS-4", "19900102", "M"},         // a namesake born 1985
    {"Araújo^Maria José", "RIS-5", "19800315", "F"},  // a second ID for the same person
    {"Souza^Carla", "RIS-6", "19700201", "M"},        // another sex
};

class ListaComVinculos : public regtest::Registro {
protected:
    void SetUp() override {
        Registro::SetUp();
        registerRegistrationWindows();
        TfrmExames::openers().novoExame = [](TfrmExames&, bool) {};
        QDir().mkpath(dir.filePath("WL/WL"));
        QFile(dir.filePath("WL/WL/lockfile")).open(QIODevice::WriteOnly);
        const QString hoje = Relogio().Agora().date().toString("yyyyMMdd");
        int n = 0;
        for (const ItemRis& i : kAgenda) {
            const QString dump = QStringLiteral(
                                     "(0008,0005) CS [ISO_IR 192]\n(0010,0010) PN [%1]\n(0010,0020) LO [%2]\n"
                                     "(0010,0030) DA [%3]\n(0010,0040) CS [%4]\n(0040,0100) SQ\n(fffe,e000) -\n"
                                     "(0040,0001) AE [NORVIX]\n(0040,0002) DA [%5]\n(fffe,e00d) -\n(fffe,e0dd) -\n")
                                     .arg(QString::fromUtf8(i.nome), i.id, i.nascimento, i.sexo, hoje);
            pacstest::write(dir.filePath("%1.dump").arg(n), dump.toUtf8());
            ASSERT_EQ(QProcess::execute("dump2dcm",
                                        {"-q", dir.filePath("%1.dump").arg(n), dir.filePath("WL/WL/%1.wl").arg(n)}),
                      0);
            ++n;
        }
        wlm.start("wlmscpfs", {"-s", "-dfr", "-csk", "-dfp", dir.filePath("WL"), QString::number(wlm.port)});
        qputenv("NORVIX_ROOT", QFile::encodeName(dir.filePath("raiz")));
        QDir().mkpath(dir.filePath("raiz/OrventDuo"));
        ProfileFile ini(dir.filePath("raiz/OrventDuo/Orvent.ini"));
        ASSERT_TRUE(ini.writeString("DICOM", "WORKLIST_AETITLE", "WL") &&
                    ini.writeString("DICOM", "WORKLIST_HOST", "127.0.0.1") &&
                    ini.writeString("DICOM", "WORKLIST_PORTA", QString::number(wlm.port)) && settings.LoadAll(3));
        browser = new TfrmExames(&settings);
        browser->show();
    }
    void TearDown() override {
        if (browser) browser->close();
        TfrmExames::openers() = {};
        qunsetenv("NORVIX_ROOT");
        Registro::TearDown();
    }
    int paciente(const char* nome, const char* nascimento, const char* sexo) {
        const int c = insertPaciente(QString::fromUtf8(nome));
        dm->execProcedure("UPDATE Pacientes SET DataNascimento = :N, Sexo = :S WHERE Codigo = :C",
                          {{"N", nascimento}, {"S", sexo}, {"C", c}});
        return c;
    }

    struct Visto {  // what one pick showed; mostrado: the browser's new patient, 0 when none
        bool comparou = false, cadastrou = false;
        QString explicacao;
        int mostrado = 0;
    };
    // Picks the item of that ID in the worklist. The comparison window, whenever it comes, is
    // answered with the button named ("Enter": the key; none: Enter too, and the test says it
    // came); the registration, when it comes, is saved.
    Visto escolhe(const QString& id, const char* botao) {
        Visto v;
        QTimer vigia;
        vigia.setInterval(5);
        QPointer<QWidget> visto;
        QObject::connect(&vigia, &QTimer::timeout, [&] {
            QWidget* w = QApplication::activeModalWidget();
            if (!w || (w->objectName() != "frmComparaPacientes" && w->objectName() != "frmCadastroPacientes")) return;
            if (w == visto) {  // an answer that left it open: not this test's
                w->close();
                return;
            }
            visto = w;
            if (w->objectName() == "frmCadastroPacientes") {
                v.cadastrou = true;
                filho<QPushButton>(w, "sbtOk")->click();
                return;
            }
            v.comparou = true;
            v.explicacao = filho<QLabel>(w, "lblExplicacao")->text();
            if (!botao || QByteArray(botao) == "Enter")
                QTest::keyClick(w, Qt::Key_Return);
            else
                filho<QPushButton>(w, botao)->click();
        });
        vigia.start();
        const int antes = browser->patientCode();
        quandoAbrir(QStringLiteral("frmNovoPaciente"), [&](QWidget* w) {
            quandoAbrir(QStringLiteral("frmListaTrabalho"), [&](QWidget* lista) {
                auto* janela = static_cast<TfrmListaTrabalho*>(lista);
                for (int i = 0; i < 400 && janela->consultando(); ++i) QTest::qWait(25);
                auto* tabela = filho<QTableWidget>(lista, "tblListaTrabalho");
                for (int r = 0; r < tabela->rowCount(); ++r)
                    if (tabela->item(r, 4)->text() == id) tabela->selectRow(r);
                ASSERT_GE(tabela->currentRow(), 0) << janela->situacao().toStdString();
                ASSERT_EQ(tabela->item(tabela->currentRow(), 4)->text(), id);
                QTest::keyClick(lista, Qt::Key_Return);
            });
            filho<QPushButton>(w, "btnListaTrabalho")->click();
        });
        browser->tbtCadPacienteClick();
        EXPECT_TRUE(todasAbriram());
        v.mostrado = browser->patientCode() == antes ? 0 : browser->patientCode();
        return v;
    }
    QStringList ids(int p) {
        QStringList out;
        for (const VinculoRis& l : DPacientesRis().Vinculos(p)) out << l.idRis;
        return out;
    }
    int ultimo() { return valor("SELECT MAX(Codigo) AS V FROM Pacientes"); }

    QTemporaryDir dir;
    pacstest::Server wlm;
    TBIniSettings settings;
    QPointer<TfrmExames> browser;
};

}  // namespace

TEST(ConferenciaRis, OnlyTheSameNameSexAndValidBirthDateAreTheSamePerson) {
    const PessoaCadastrada maria{1, "  maria josé   ARAUJO ", "15/03/1980", "F"};
    const struct {
        PessoaRis ris;
        PessoaCadastrada local;
        int difere;
    } casos[] = {
        {{"Maria Jose Araújo", QDate(1980, 3, 15), "F", "", ""}, maria, 0},
        {{"Maria Araujo", QDate(1980, 3, 15), "F", "", ""}, maria, int(Diferenca::Nome)},
        {{"Maria José Araújo", QDate(), "F", "", ""}, maria, int(Diferenca::Nascimento)},
        {{"Maria José Araújo", QDate(1980, 3, 15), "", "", ""}, maria, int(Diferenca::Sexo)},
        {{"Maria José Araújo", QDate(1961, 3, 15), "M", "", ""},
         maria,
         int(Diferenca::Sexo) | int(Diferenca::Nascimento)},
        {{"Maria José Araújo", QDate(1980, 3, 15), "F", "", ""},
         {1, "Maria José Araújo", "31/02/1980", "F"},
         int(Diferenca::Nascimento)},
        {{"Maria José Araújo", QDate(1980, 3, 15), "O", "", ""}, {1, "Maria José Araújo", "15/03/1980", "O"}, 0},
    };
    for (const auto& c : casos) EXPECT_EQ(diferencas(c.ris, c.local), c.difere) << c.ris.nome.toStdString();
}

TEST_F(ListaComVinculos, NobodyIsLinkedWithoutTheOperatorUnlessNameSexAndBirthDateAgree) {
    const int maria = paciente("Maria José Araújo", "15/03/1980", "F");
    const int carla = paciente("Carla Souza", "01/02/1970", "F");
    const int joao = paciente("João Pereira", "10/10/1961", "M");
    const int davi = paciente("Davi Silva", "05/05/1985", "M");
    DPacientesRis().Vincula(joao, "RIS-3", "");  // as a link made on the name alone left it

    // The same person, only written otherwise: linked without a question.
    Visto v = escolhe("RIS-1", nullptr);
    EXPECT_EQ(v.mostrado, maria);
    EXPECT_FALSE(v.comparou || v.cadastrou);
    EXPECT_EQ(ids(maria), QStringList({"RIS-1"}));

    // No birth date, then another sex: the operator is asked each time; Cancelar (and Enter)
    // link nobody, "É a mesma pessoa" links the patient shown.
    const struct {
        const char* id;
        const char* botao;
        const char* diz;
        int mostrado;
        QStringList ids;
    } carlas[] = {
        {"RIS-2", "Enter", "data de nascimento válida", 0, {}},
        {"RIS-6", "btnCancelar", "sexo ou a data de nascimento", 0, {}},
        {"RIS-2", "btnMesmaPessoa", "data de nascimento válida", carla, {"RIS-2"}},
    };
    for (const auto& c : carlas) {
        v = escolhe(c.id, c.botao);
        EXPECT_TRUE(v.comparou && v.explicacao.contains(QString::fromUtf8(c.diz))) << c.id;
        EXPECT_FALSE(v.cadastrou);
        EXPECT_EQ(v.mostrado, c.mostrado) << c.id;
        EXPECT_EQ(ids(carla), c.ids) << c.id;
    }

    // Her ID linked to a man born 1961: stops and asks; Cancelar keeps everything; "Não é"
    // undoes the link and registers her, linked.
    v = escolhe("RIS-3", "btnCancelar");
    EXPECT_TRUE(v.comparou && v.explicacao.contains("RIS-3 do RIS está ligado"));
    EXPECT_EQ(v.mostrado, 0);
    EXPECT_EQ(DPacientesRis().PacienteDoId("RIS-3"), joao);
    v = escolhe("RIS-3", "btnOutraPessoa");
    EXPECT_TRUE(v.cadastrou);
    const int rita = ultimo();
    EXPECT_EQ(v.mostrado, rita);
    EXPECT_EQ(coluna("Pacientes", rita, "Sexo"), "F");
    EXPECT_EQ(DPacientesRis().PacienteDoId("RIS-3"), rita);
    EXPECT_TRUE(ids(joao).isEmpty());

    // A namesake born 1985: a new patient, after being told of him by birth date and code.
    seam.messages.clear();
    seam.answers = {MsgAnswer::Yes};
    v = escolhe("RIS-4", "btnOutraPessoa");
    EXPECT_TRUE(v.cadastrou);
    EXPECT_TRUE(texts().contains("05/05/1985") && texts().contains(QStringLiteral("código %1").arg(davi)))
        << texts().toStdString();
    EXPECT_NE(ultimo(), davi);
    EXPECT_EQ(DPacientesRis().PacienteDoId("RIS-4"), ultimo());
    EXPECT_TRUE(ids(davi).isEmpty());
    // The browser tells the two apart by birth date; a name nobody else has goes bare.
    auto* grade = browser->findChild<QTableView*>("DBGridPacientes");
    QStringList distincoes;
    for (int r = 0; r < grade->model()->rowCount(); ++r)
        distincoes << grade->model()->index(r, 0).data(TPatientGridModel::kDistinctionRole).toString();
    EXPECT_EQ(distincoes.join('|'), "|nasc. 05/05/1985|nasc. 02/01/1990|||") << distincoes.join('|').toStdString();

    // A second RIS ID for Maria: only when the operator confirms it; RIS-1 stays the one sent.
    for (const MsgAnswer a : {MsgAnswer::No, MsgAnswer::Yes}) {
        seam.messages.clear();
        seam.answers = {a};
        v = escolhe("RIS-5", nullptr);
        EXPECT_TRUE(texts().contains("já está ligado ao ID RIS-1")) << texts().toStdString();
        EXPECT_EQ(v.mostrado, a == MsgAnswer::Yes ? maria : 0);
    }
    EXPECT_EQ(ids(maria), QStringList({"RIS-1", "RIS-5"}));
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 6);
}

TEST_F(ListaComVinculos, TheRegistrationWindowListsTheLinksAndRemovesOneAfterAQuestion) {
    const int maria = paciente("Maria José Araújo", "15/03/1980", "F");
    DPacientesRis().Vincula(maria, "RIS-1", "HOSP");
    DPacientesRis().Vincula(maria, "RIS-5", "", true);
    for (const MsgAnswer a : {MsgAnswer::No, MsgAnswer::Yes}) {
        seam.answers = {a};
        quandoAbrir(QStringLiteral("frmCadastroPacientes"), [&](QWidget* w) {
            auto* painel = static_cast<TfrmCadastroPacientes*>(w)->vinculos();
            ASSERT_NE(painel, nullptr);
            auto* tabela = filho<QTableWidget>(painel, "tblVinculosRis");
            EXPECT_EQ(tabela->item(0, 0)->text(), "RIS-1");
            EXPECT_EQ(tabela->item(0, 1)->text(), "HOSP");
            tabela->selectRow(tabela->rowCount() - 1);
            filho<QPushButton>(painel, "btnDesvincular")->click();
            EXPECT_EQ(painel->linhas(), a == MsgAnswer::Yes ? 1 : 2);
            filho<QPushButton>(w, "sbtCancelar")->click();
        });
        TfrmCadastroPacientes::Altera(maria, browser);
        EXPECT_TRUE(todasAbriram());
    }
    EXPECT_EQ(ids(maria), QStringList({"RIS-1"}));
}
