// The doctor registration window and its lookup, offscreen on a fresh database: the states of
// the buttons, the navigator, adding, changing, closing with pending edits, the deletion rule
// for a doctor with exams, a doctor deleted by another workstation, and the lookup by name,
// RG, CPF or CRM with the typed text found literally.
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QTreeWidget>
#include <utility>

#include "RegistroTest.h"
#include "registration/FichaCadastro.h"
#include "registration/RecordBuffer.h"
#include "registration/UfrmCadastroMedicos.h"
#include "registration/UfrmConsultaMedicos.h"

using norvix::MsgAnswer;
using norvix::TfrmCadastroMedicos;
using norvix::TfrmConsultaMedicos;

namespace {

class Medicos : public regtest::Registro {
protected:
    TfrmCadastroMedicos* abre() {
        janela = new TfrmCadastroMedicos;
        janela->show();
        QCoreApplication::processEvents();
        return janela;
    }
    bool ativo(const char* name) { return filho<QWidget>(janela, name)->isEnabled(); }
    QString nome() { return janela->buffer().value("NOME"); }
    norvix::TFichaCadastro& ficha() { return janela->ficha(); }
    QString medico(int codigo, const char* column) { return coluna("Medicos", codigo, column); }
    // "Localizar", searching text by the choice, then action on the lookup.
    void localiza(const QString& texto, const char* choice, std::function<void(QWidget*)> action) {
        quandoAbrir(QStringLiteral("frmConsultaMedicos"), [=](QWidget* w) {
            filho<QRadioButton>(w, choice)->click();
            digita(w, "edtPesquisa", texto);
            filho<QPushButton>(w, "btnConsultar")->click();
            action(w);
        });
        janela->sbtFindClick();
    }
    static QStringList resultado(QWidget* w) {
        auto* lista = filho<QTreeWidget>(w, "lswResultado");
        QStringList out;
        for (int i = 0; i < lista->topLevelItemCount(); ++i)
            out << lista->topLevelItem(i)->text(0) + " " + lista->topLevelItem(i)->text(1);
        return out;
    }

    QPointer<TfrmCadastroMedicos> janela;
};

}  // namespace

TEST_F(Medicos, WithNoDoctorOnlyAddingAndClosingAct) {
    abre();
    EXPECT_EQ(ficha().codigoCaption(), "Nenhum médico cadastrado!!!");
    EXPECT_FALSE(ficha().codigoVisible());
    for (const char* b : {"sbtAlterar", "sbtDel", "sbtFind", "sbtAtualizar", "nvgPrimeiro", "nvgProximo"})
        EXPECT_FALSE(ativo(b)) << b;
    EXPECT_TRUE(ativo("sbtAdd"));
    EXPECT_TRUE(ativo("sbtFechar"));
    EXPECT_EQ(janela->windowTitle(), "Cadastro de Médicos");
}

TEST_F(Medicos, TheActiveDoctorIsShownAndTheNavigatorMovesOneAtATime) {
    const int ana = insertMedico("Ana");
    const int beto = insertMedico("Beto d'Ávila");
    const int caio = insertMedico("Caio");
    norvix::setRecordText(norvix::infos().MedicoAtivo, QStringLiteral("BETO D'ÁVILA"));
    abre();
    EXPECT_EQ(janela->buffer().storedInt("CODIGO"), beto);
    EXPECT_EQ(ficha().codigoCaption(), "Código:");
    EXPECT_TRUE(ficha().codigoVisible());
    EXPECT_EQ(filho<QLineEdit>(janela, "edtCRM")->text(), "CRM-PE 1234");
    EXPECT_TRUE(filho<QLineEdit>(janela, "edtNome")->isReadOnly());
    filho<QToolButton>(janela, "nvgProximo")->click();
    EXPECT_EQ(janela->buffer().storedInt("CODIGO"), caio);
    EXPECT_FALSE(ativo("nvgProximo"));
    EXPECT_FALSE(ativo("nvgUltimo"));
    filho<QToolButton>(janela, "nvgPrimeiro")->click();
    EXPECT_EQ(janela->buffer().storedInt("CODIGO"), ana);
    EXPECT_FALSE(ativo("nvgAnterior"));
    filho<QToolButton>(janela, "nvgUltimo")->click();
    filho<QToolButton>(janela, "nvgAnterior")->click();
    EXPECT_EQ(nome(), "Beto d'Ávila");
    EXPECT_EQ(filho<QToolButton>(janela, "nvgProximo")->toolTip(), "Próximo Registro");
}

TEST_F(Medicos, AddingRefusesABlankNameThenShowsTheNewDoctor) {
    const int ana = insertMedico("Ana");
    abre();
    janela->sbtAddClick();
    EXPECT_EQ(janela->modo(), "Add");
    EXPECT_EQ(ficha().codigoCaption(), "Adcionando um novo médico");
    EXPECT_EQ(filho<QPushButton>(janela, "sbtDel")->text(), "Cancelar");
    for (const char* b : {"sbtFind", "nvgMedicos", "sbtAdd", "sbtAlterar"}) EXPECT_FALSE(ativo(b)) << b;
    EXPECT_TRUE(filho<QRadioButton>(janela, "rbtMasculino")->isChecked());
    digita(janela, "edtNome", "  ");
    janela->sbtAtualizarClick();
    EXPECT_EQ(texts(), "Campo NOME é obrigatório!!!");
    EXPECT_EQ(janela->modo(), "Add");
    // Cancelling returns to the doctor on show.
    janela->sbtDelClick();
    EXPECT_EQ(janela->buffer().storedInt("CODIGO"), ana);
    EXPECT_EQ(ficha().codigoCaption(), "Código:");
    EXPECT_EQ(count("SELECT COUNT(*) FROM Medicos"), 1);

    janela->sbtAddClick();
    digita(janela, "edtNome", "Ana");  // the same name as the first doctor
    digita(janela, "edtCRM", "CRM-SP 99");
    digita(janela, "edtCPF", "52998224725");
    filho<QRadioButton>(janela, "rbtFeminino")->click();
    // A birth date is checked as a patient's: Não goes back to the field, nothing stored.
    digita(janela, "edtDataNascimento", "31022090");
    seam.answers = {MsgAnswer::No};
    janela->sbtAtualizarClick();
    EXPECT_EQ(seam.messages.back().text, "Data de nascimento inválida. Deseja gravar assim mesmo?");
    EXPECT_EQ(count("SELECT COUNT(*) FROM Medicos"), 1);
    digita(janela, "edtDataNascimento", "15031980");
    seam.messages.clear();
    janela->sbtAtualizarClick();
    const int nova = valor("SELECT MAX(Codigo) AS V FROM Medicos");
    EXPECT_NE(nova, ana);
    EXPECT_EQ(janela->buffer().storedInt("CODIGO"), nova);  // the new one, not the first "Ana"
    EXPECT_EQ(janela->modo(), "");
    EXPECT_FALSE(ativo("sbtAtualizar"));
    EXPECT_EQ(filho<QPushButton>(janela, "sbtDel")->text(), "Excluir");
    EXPECT_TRUE(filho<QLineEdit>(janela, "edtNome")->isReadOnly());
    EXPECT_EQ(medico(nova, "CRM"), "CRM-SP 99");
    EXPECT_EQ(medico(nova, "CPF"), "52998224725");
    EXPECT_EQ(medico(nova, "SEXO"), "F");
    EXPECT_EQ(medico(nova, "ESTADOCIVIL"), "S");
    EXPECT_EQ(medico(nova, "DATANASCIMENTO"), "15/03/1980");
    EXPECT_TRUE(seam.messages.empty());
}

TEST_F(Medicos, ChangingSavesOrCancelsAndClosingAsksAboutPendingEdits) {
    const int ana = insertMedico("Ana");
    abre();
    janela->sbtAlterarClick();
    EXPECT_EQ(janela->modo(), "Atualiza");
    digita(janela, "edtRG", "111");
    janela->sbtDelClick();  // "Cancelar"
    EXPECT_EQ(filho<QLineEdit>(janela, "edtRG")->text(), "654321");
    EXPECT_EQ(medico(ana, "RG"), "654321");

    janela->sbtAlterarClick();
    digita(janela, "edtRG", "222");
    filho<QComboBox>(janela, "cbxEstado")->setEditText("ZZ");  // the doctor's state may be typed
    janela->sbtAtualizarClick();
    EXPECT_EQ(medico(ana, "RG"), "222");
    EXPECT_EQ(medico(ana, "ESTADO"), "ZZ");
    EXPECT_EQ(janela->buffer().storedInt("CODIGO"), ana);
    // The focus leaves the disabled "Atualizar" for "Alterar", never for "Excluir".
    EXPECT_NE(janela->focusWidget(), filho<QWidget>(janela, "sbtDel"));
    EXPECT_EQ(janela->focusWidget(), filho<QWidget>(janela, "sbtAlterar"));

    // Closing while changing: No leaves the doctor as stored.
    janela->sbtAlterarClick();
    digita(janela, "edtRG", "333");
    seam.answers = {MsgAnswer::No};
    EXPECT_TRUE(janela->close());
    EXPECT_EQ(seam.messages.back().text, "Deseja salvar as alterações?");
    EXPECT_EQ(medico(ana, "RG"), "222");
    EXPECT_FALSE(dm->IBMedicos.active());

    // Yes saves; a save that cannot be done keeps the window open with what was typed.
    abre();
    janela->sbtAlterarClick();
    digita(janela, "edtNome", "");
    seam.answers = {MsgAnswer::Yes};
    EXPECT_FALSE(janela->close());
    EXPECT_EQ(seam.messages.back().text, "Campo NOME é obrigatório!!!");
    digita(janela, "edtNome", "Ana Paula");
    seam.answers = {MsgAnswer::Yes};
    EXPECT_TRUE(janela->close());
    EXPECT_EQ(medico(ana, "NOME"), "Ana Paula");
}

TEST_F(Medicos, ADoctorWithExamsIsNotDeletedAndTheLastOneLeavesTheEmptyState) {
    const int ana = insertMedico("Ana");
    const int beto = insertMedico("Beto");
    insertExame(insertPaciente("Carla", 1), ana, QDate(2025, 3, 14), QTime(9, 0));
    abre();
    janela->sbtDelClick();
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text,
              "Não é possivel excluir o Dr(a) Ana.\nPara excluir é preciso excluir todos os pacientes vinculados.");
    EXPECT_EQ(seam.messages[0].caption, "Infomração");
    EXPECT_EQ(count("SELECT COUNT(*) FROM Medicos"), 2);

    filho<QToolButton>(janela, "nvgProximo")->click();
    seam.answers = {MsgAnswer::No};
    janela->sbtDelClick();
    EXPECT_EQ(seam.messages.back().text, "Deseja excluir o médico Beto ?");
    EXPECT_EQ(seam.messages.back().icon, norvix::MsgIcon::Error);
    EXPECT_EQ(seam.messages.back().defaultButton, MsgAnswer::No);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Medicos"), 2);
    filho<QToolButton>(janela, "nvgProximo")->click();
    seam.answers = {MsgAnswer::Yes};
    janela->sbtDelClick();
    EXPECT_EQ(count("SELECT COUNT(*) FROM Medicos WHERE Codigo = " + QString::number(beto)), 0);

    // Ana's exam goes away elsewhere; then Ana can go, and the table is empty.
    dm->execProcedure("DELETE FROM Exames", {});
    seam.answers = {MsgAnswer::Yes};
    janela->sbtDelClick();
    EXPECT_EQ(count("SELECT COUNT(*) FROM Medicos"), 0);
    EXPECT_EQ(ficha().codigoCaption(), "Nenhum médico cadastrado!!!");
    EXPECT_FALSE(ativo("sbtDel"));
    EXPECT_TRUE(ativo("sbtAdd"));
}

TEST_F(Medicos, AnExamStoredElsewhereAfterTheCountStillStopsTheDeletion) {
    const int ana = insertMedico("Ana");
    const int carla = insertPaciente("Carla");
    abre();
    // The exam arrives while the question is up.
    regtest::OutraEstacao outra(path);
    struct Seam : norvix::RecordingMessageSeam {
        std::function<void()> acao;
        MsgAnswer show(QWidget* p, const norvix::ShownMessage& m) override {
            if (acao) std::exchange(acao, nullptr)();
            return RecordingMessageSeam::show(p, m);
        }
    } acting;
    acting.answers = {MsgAnswer::Yes};
    acting.acao = [&] {
        outra.executa(dbtest::kInsertExames, {{"CodPaciente", carla}, {"CodResp", ana}, {"Data", QDate(2025, 1, 2)},
                                              {"Hora", QTime(8, 0)}, {"Olho", "OD"}, {"IndConf", 0.9},
                                              {"TipoExame", "T"}, {"Backup", ""}, {"Diag", ""}, {"Observacao", ""},
                                              {"NumAneis", 32}, {"TipoCone", "1"}});
        outra.transacao.commit();
    };
    janela->sbtDelClick();
    ASSERT_EQ(acting.messages.size(), 2u);
    EXPECT_TRUE(acting.messages[1].text.startsWith("Não é possivel excluir o Dr(a) Ana."));
    EXPECT_EQ(count("SELECT COUNT(*) FROM Medicos"), 1);
}

TEST_F(Medicos, ADoctorDeletedElsewhereWhileChangedIsNotASave) {
    const int ana = insertMedico("Ana");
    abre();
    janela->sbtAlterarClick();
    digita(janela, "edtCRM", "CRM novo");
    dm->execProcedure("Execute Procedure DeleteMedicosByCodigo :Codigo", {{"Codigo", ana}});
    seam.answers = {MsgAnswer::No};
    janela->sbtAtualizarClick();
    EXPECT_TRUE(seam.messages.back().text.startsWith("O médico foi excluído em outra estação de trabalho"));
    EXPECT_EQ(janela->modo(), "Atualiza");
    EXPECT_EQ(filho<QLineEdit>(janela, "edtCRM")->text(), "CRM novo");
    seam.answers = {MsgAnswer::Yes};
    janela->sbtAtualizarClick();
    const int nova = valor("SELECT MAX(Codigo) AS V FROM Medicos");
    EXPECT_GT(nova, ana);
    EXPECT_EQ(medico(nova, "CRM"), "CRM novo");
    EXPECT_EQ(janela->buffer().storedInt("CODIGO"), nova);
}

TEST_F(Medicos, TheLookupFindsContainedTextLiterallyAndPositionsTheWindow) {
    const int zeca = insertMedico("Zeca");
    const int bia = insertMedico("Bia");
    const int dalva = insertMedico("Dalva d'Ávila");
    insertMedico("Eli");
    dm->execProcedure("UPDATE Medicos SET Crm = 'CRM 1234' WHERE Nome = 'Zeca'", {});
    dm->execProcedure("UPDATE Medicos SET Crm = '777' WHERE Nome = 'Dalva d''Ávila'", {});
    dm->execProcedure("UPDATE Medicos SET Crm = '91235', Cpf = '52998224725' WHERE Nome = 'Bia'", {});
    dm->execProcedure("UPDATE Medicos SET Crm = '100%_A' WHERE Nome = 'Eli'", {});
    abre();
    localiza("123", "rbtCRM", [&](QWidget* w) {
        EXPECT_EQ(resultado(w), QStringList({QString::number(bia) + " Bia", QString::number(zeca) + " Zeca"}));
    });
    localiza(QStringLiteral("d'á"), "rbtNome", [&](QWidget* w) {
        EXPECT_EQ(resultado(w), QStringList({QString::number(dalva) + " Dalva d'Ávila"}));
        auto* lista = filho<QTreeWidget>(w, "lswResultado");
        lista->setCurrentItem(lista->topLevelItem(0));
        static_cast<TfrmConsultaMedicos*>(w)->lswResultadoDblClick();
        EXPECT_FALSE(w->isVisible());
    });
    EXPECT_EQ(janela->buffer().storedInt("CODIGO"), dalva);
    localiza("0%", "rbtCRM", [&](QWidget* w) { EXPECT_EQ(resultado(w).size(), 1); });
    localiza("%_", "rbtCRM", [&](QWidget* w) { EXPECT_EQ(resultado(w).size(), 1); });
    localiza("0_", "rbtCRM", [&](QWidget* w) { EXPECT_TRUE(resultado(w).isEmpty()); });
    localiza("982.247", "rbtCPF", [&](QWidget* w) { EXPECT_EQ(resultado(w), QStringList({QString::number(bia) + " Bia"})); });
    localiza("654", "rbtRG", [&](QWidget* w) { EXPECT_EQ(resultado(w).size(), 4); });

    // "Consultar Agora" waits for a text; a doctor deleted since the search is not chosen.
    quandoAbrir(QStringLiteral("frmConsultaMedicos"), [&](QWidget* w) {
        EXPECT_FALSE(filho<QPushButton>(w, "btnConsultar")->isEnabled());
        digita(w, "edtPesquisa", "Bia");
        EXPECT_TRUE(filho<QPushButton>(w, "btnConsultar")->isEnabled());
        filho<QPushButton>(w, "btnConsultar")->click();
        dm->execProcedure("Execute Procedure DeleteMedicosByCodigo :Codigo", {{"Codigo", bia}});
        auto* lista = filho<QTreeWidget>(w, "lswResultado");
        lista->setCurrentItem(lista->topLevelItem(0));
        static_cast<TfrmConsultaMedicos*>(w)->lswResultadoDblClick();
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(lista->topLevelItemCount(), 0);
    });
    janela->sbtFindClick();
    EXPECT_TRUE(todasAbriram());
    EXPECT_EQ(texts(), "Este médico não está mais cadastrado: foi excluído em outra estação de trabalho.");
    EXPECT_EQ(janela->buffer().storedInt("CODIGO"), dalva);
}
