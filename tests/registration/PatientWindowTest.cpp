// The patient registration window through its two openers, offscreen on a fresh database: the
// checks and the two modes, every field with its limit and list as stored, the CPF check
// digits, the edit buffer that writes nothing by itself, and what happens when another
// workstation holds, deletes or registers the same patient.
#include <QButtonGroup>
#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>

#include <QTest>
#include <tuple>

#include "RegistroTest.h"
#include "registration/Documentos.h"
#include "registration/FichaCadastro.h"
#include "registration/RecordBuffer.h"
#include "registration/UfrmCadastroPacientes.h"
#include "records/UDPacientes.h"

using norvix::MsgAnswer;
using norvix::TfrmCadastroPacientes;
using regtest::OutraEstacao;

namespace {

class CadastroPacientes : public regtest::Registro {
protected:
    // Registers through the picker's opener; action fills the window and presses what it wants.
    int inclui(const QString& nome, std::function<void(QWidget*)> action) {
        quandoAbrir(QStringLiteral("frmCadastroPacientes"), std::move(action));
        const int codigo = TfrmCadastroPacientes::Inclui(nome, nullptr);
        EXPECT_TRUE(todasAbriram());
        return codigo;
    }
    int altera(int codigo, std::function<void(QWidget*)> action) {
        quandoAbrir(QStringLiteral("frmCadastroPacientes"), std::move(action));
        return TfrmCadastroPacientes::Altera(codigo, nullptr);
    }
    static void ok(QWidget* w) { filho<QPushButton>(w, "sbtOk")->click(); }
    static void escolhe(QWidget* w, const char* combo, const QString& text) {
        auto* c = filho<QComboBox>(w, combo);
        c->setCurrentIndex(c->findText(text));
    }
    QString paciente(int codigo, const char* column) { return coluna("Pacientes", codigo, column); }
};

}  // namespace

TEST(Cpf, CheckDigitsMaskAndDigits) {
    using namespace norvix::documentos;
    EXPECT_TRUE(cpfValido("52998224725"));
    EXPECT_TRUE(cpfValido("11144477735"));
    EXPECT_TRUE(cpfValido("00000000191"));  // a check digit that comes out as 10 is 0
    EXPECT_FALSE(cpfValido("52998224726"));
    EXPECT_FALSE(cpfValido("52998224735"));
    EXPECT_FALSE(cpfValido("11111111111"));  // right by the arithmetic, no one's number
    EXPECT_FALSE(cpfValido("5299822472"));
    EXPECT_FALSE(cpfValido("abcdefghijk"));
    EXPECT_EQ(formataCpf("52998224725"), "529.982.247-25");
    EXPECT_EQ(formataCpf("5299"), "529.9");
    EXPECT_EQ(formataCep("53000000"), "53000-000");
    EXPECT_EQ(digitos("(81) 9999-0000"), "8199990000");
}

TEST_F(CadastroPacientes, BlankNamesAreRefusedAndNothingIsWritten) {
    for (const QString& nome : {QString(), QStringLiteral(" "), QStringLiteral("   ")}) {
        seam.messages.clear();
        const int codigo = inclui(nome, [&](QWidget* w) {
            ok(w);
            EXPECT_TRUE(w->isVisible());
        });
        EXPECT_EQ(codigo, 0);
        ASSERT_EQ(seam.messages.size(), 1u) << texts().toStdString();
        EXPECT_EQ(seam.messages[0].text, "Digite o nome do paciente ...");
        EXPECT_EQ(seam.messages[0].caption, "Atenção");
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 0);
}

TEST_F(CadastroPacientes, AddStoresEveryFieldAsShownWithTodayAndNoExams) {
    const QString nome = QStringLiteral("Maria d'Ávila Conceição São João Guimarães Peçanha");
    ASSERT_EQ(nome.size(), 50);
    const int codigo = inclui(nome.left(10), [&](QWidget* w) {
        auto* ficha = filho<norvix::TFichaCadastro>(w, "pgcCadastro");
        EXPECT_EQ(ficha->codigoCaption(), "Adcionando um novo paciente");
        EXPECT_FALSE(ficha->codigoVisible());
        EXPECT_TRUE(filho<QRadioButton>(w, "rbtMasculino")->isChecked());
        EXPECT_TRUE(filho<QRadioButton>(w, "rbtSolteiro")->isChecked());
        EXPECT_EQ(w->focusWidget(), filho<QLineEdit>(w, "edtRG"));  // the name came typed
        digita(w, "edtNome", nome);
        digita(w, "edtRG", "12.345.678-X");
        digita(w, "edtCPF", "52998224725");
        EXPECT_EQ(filho<QLineEdit>(w, "edtCPF")->text(), "529.982.247-25");
        digita(w, "edtDataNascimento", "31/02/2020");
        digita(w, "edtConjuge", "José");
        digita(w, "edtNaturalidade", "Recife");
        escolhe(w, "cbxNaturalidadeEstado", "PE");
        digita(w, "edtPai", "João d'Ávila");
        digita(w, "edtMae", "Ana");
        digita(w, "edtProfissao", "Professora");
        digita(w, "edtConvenio", "Particular");
        escolhe(w, "cbxTipoSang", "O-");
        filho<QRadioButton>(w, "rbtFeminino")->click();
        filho<QRadioButton>(w, "rbtCasado")->click();
        digita(w, "edtRua", "Rua do Sol, 10");
        digita(w, "edtComplemento", "ap. 101");
        digita(w, "edtBairro", "Boa Vista");
        digita(w, "edtCidade", "Olinda");
        escolhe(w, "cbxEstado", "PE");
        digita(w, "edtCEP", "53000000");
        EXPECT_EQ(filho<QLineEdit>(w, "edtCEP")->text(), "53000-000");
        digita(w, "edtFone", "(81) 3333-0000");
        digita(w, "edtCelular", "81999990000");
        ok(w);
    });
    ASSERT_GT(codigo, 0) << texts().toStdString();
    // The impossible date is asked about (answered Sim: the seam's first button) and kept.
    ASSERT_EQ(texts(), "Data de nascimento inválida. Deseja gravar assim mesmo?");
    EXPECT_EQ(seam.messages.front().defaultButton, norvix::MsgAnswer::No);
    const std::pair<const char*, QString> esperado[] = {
        {"NOME", nome},         {"RG", "12.345.678-X"},     {"CPF", "52998224725"},  {"SEXO", "F"},
        {"ESTADOCIVIL", "C"},   {"CONJUGE", "José"},        {"DATANASCIMENTO", "31/02/2020"},
        {"NATURALIDADE", "Recife"}, {"NATURALIDADEESTADO", "PE"}, {"PAI", "João d'Ávila"},
        {"MAE", "Ana"},         {"RUA", "Rua do Sol, 10"},  {"COMPLEMENTO", "ap. 101"},  {"BAIRRO", "Boa Vista"},
        {"CIDADE", "Olinda"},   {"ESTADO", "PE"},           {"CEP", "53000-000"},    {"FONE", "8133330000"},
        {"CELULAR", "81999990000"}, {"CONVENIO", "Particular"}, {"PROFISSAO", "Professora"},
        {"TIPOSANG", "O-"},     {"TOTALEXAMES", "0"},       {"ULTIMOEXAME", ""},
        {"DTCADASTRO", QDate::currentDate().toString("dd/MM/yyyy")}};
    for (const auto& [column, value] : esperado) EXPECT_EQ(paciente(codigo, column), value) << column;
    EXPECT_EQ(TfrmCadastroPacientes::ultimoNomeCadastrado(), nome);
    EXPECT_EQ(TfrmCadastroPacientes::ultimoCodigoCadastrado(), codigo);
}

TEST_F(CadastroPacientes, EveryEditStopsAtItsColumnAndTakesOnlyWhatItCanStore) {
    inclui(QString(), [&](QWidget* w) {
        auto* buffer = w->findChild<norvix::TRecordBuffer*>(QStringLiteral("DSPacientes"));
        ASSERT_NE(buffer, nullptr);
        const std::pair<const char*, int> larguras[] = {
            {"edtNome", 50}, {"edtRG", 15}, {"edtConjuge", 25}, {"edtNaturalidade", 40},
            {"edtPai", 50}, {"edtMae", 50}, {"edtProfissao", 40}, {"edtConvenio", 50}, {"edtRua", 40},
            {"edtComplemento", 25}, {"edtBairro", 30}, {"edtCidade", 40}};
        for (const auto& [name, largura] : larguras) {
            digita(w, name, QString(largura + 5, QLatin1Char('x')));
            EXPECT_EQ(filho<QLineEdit>(w, name)->text().size(), largura) << name;
        }
        EXPECT_EQ(buffer->value("NOME").size(), 50);
        digita(w, "edtCPF", "abc529.982.247-25999");  // letters refused, the 12th digit too
        EXPECT_EQ(filho<QLineEdit>(w, "edtCPF")->text(), "529.982.247-25");
        EXPECT_EQ(buffer->value("CPF"), "52998224725");
        digita(w, "edtDataNascimento", "x1503197512");  // digits only, in the mask dd/mm/aaaa
        EXPECT_EQ(filho<QLineEdit>(w, "edtDataNascimento")->text(), "15/03/1975");
        digita(w, "edtCEP", "1234567890");
        EXPECT_EQ(filho<QLineEdit>(w, "edtCEP")->text(), "12345-678");
        digita(w, "edtFone", "81 3333 0000 12 x");
        EXPECT_EQ(filho<QLineEdit>(w, "edtFone")->text(), "81333300001");
        filho<QLineEdit>(w, "edtCelular")->clear();
        filho<QLineEdit>(w, "edtCelular")->insert("(81) 99999-0000");  // pasted whole
        EXPECT_EQ(filho<QLineEdit>(w, "edtCelular")->text(), "81999990000");
        // A character Windows-1252 lacks would be stored as "?": refused; its own are taken.
        digita(w, "edtCidade", QStringLiteral("Łódź"));
        EXPECT_EQ(filho<QLineEdit>(w, "edtCidade")->text(), QStringLiteral("ód"));
        digita(w, "edtBairro", QStringLiteral("Açúcar’s"));
        EXPECT_EQ(filho<QLineEdit>(w, "edtBairro")->text(), QStringLiteral("Açúcar’s"));
        EXPECT_EQ(filho<QComboBox>(w, "cbxEstado")->count(), 27);
        EXPECT_EQ(filho<QComboBox>(w, "cbxTipoSang")->count(), 8);
        filho<QPushButton>(w, "sbtCancelar")->click();
    });
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 0);
}

TEST_F(CadastroPacientes, AnInvalidCpfIsAskedAboutAndNoKeepsTheWindow) {
    seam.answers = {MsgAnswer::No, MsgAnswer::Yes};
    const int codigo = inclui("Bia", [&](QWidget* w) {
        digita(w, "edtCPF", "12345678900");
        filho<QTabWidget>(w, "pgcCadastro")->setCurrentIndex(1);
        ok(w);
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(filho<QTabWidget>(w, "pgcCadastro")->currentIndex(), 0);  // the CPF is shown
        EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 0);
        ok(w);
    });
    ASSERT_EQ(seam.messages.size(), 2u);
    EXPECT_EQ(seam.messages[0].text, "CPF inválido. Deseja gravar assim mesmo?");
    EXPECT_EQ(seam.messages[0].buttons, norvix::MsgButtons::YesNo);
    EXPECT_EQ(paciente(codigo, "CPF"), "12345678900");
}

TEST(DataNascimento, ImpossibleDaysAndTheFutureAreRefused) {
    using norvix::documentos::dataNascimentoValida;
    for (const char* boa : {"", "29/02/2000", "01/01/1900", "15/03/1975"}) EXPECT_TRUE(dataNascimentoValida(boa)) << boa;
    for (const char* ruim : {"31/02/1990", "29/02/1900", "15031975", "15/03", "00/01/2000", "31/12/1899"})
        EXPECT_FALSE(dataNascimentoValida(ruim)) << ruim;
    EXPECT_FALSE(dataNascimentoValida(QDate::currentDate().addDays(1).toString("dd/MM/yyyy")));
}

TEST_F(CadastroPacientes, ACpfOfAnotherPatientIsAskedAboutWithNoAsTheDefault) {
    dm->execProcedure(QString::fromLatin1(dbtest::kInsertPacientes),
                      [] {
                          auto p = dbtest::pacienteTexts("Ana Souza");
                          for (auto& param : p)
                              if (param.name == "Cpf") param.value = QStringLiteral("52998224725");
                          p.push_back({"DtCadastro", QDate::currentDate()});
                          p.push_back({"TotalExames", 0});
                          return p;
                      }());
    seam.answers = {MsgAnswer::No, MsgAnswer::Yes};
    const int codigo = inclui("Bia", [&](QWidget* w) {
        digita(w, "edtCPF", "52998224725");
        ok(w);
        EXPECT_TRUE(w->isVisible());
        EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 1);
        ok(w);
    });
    ASSERT_EQ(seam.messages.size(), 2u) << texts().toStdString();
    EXPECT_EQ(seam.messages[0].text, "Já existe um paciente com este CPF (Ana Souza). Deseja gravar assim mesmo?");
    EXPECT_EQ(seam.messages[0].defaultButton, MsgAnswer::No);
    EXPECT_EQ(paciente(codigo, "CPF"), "52998224725");
}

TEST_F(CadastroPacientes, EscOrTheCloseButtonAskBeforeDroppingWhatWasTyped) {
    const std::pair<const char*, std::function<void(QWidget*)>> ways[] = {
        {"Esc", [](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); }},
        {"botão de fechar", [](QWidget* w) { w->close(); }},
    };
    for (const auto& entry : ways) {
        SCOPED_TRACE(entry.first);
        const auto& closeIt = entry.second;  // a named variable: lambdas below capture it
        seam.messages.clear();
        // Nothing typed beyond the name the picker brought: no question.
        EXPECT_EQ(inclui("Caio", [&](QWidget* w) { closeIt(w); }), 0);
        EXPECT_TRUE(seam.messages.empty());
        // Typed: Cancelar stays, Não drops, Sim saves.
        seam.answers = {MsgAnswer::Cancel, MsgAnswer::No};
        EXPECT_EQ(inclui("Caio", [&](QWidget* w) {
                      digita(w, "edtRG", "123");
                      closeIt(w);
                      EXPECT_TRUE(w->isVisible());
                      closeIt(w);
                      EXPECT_FALSE(w->isVisible());
                  }),
                  0);
        EXPECT_EQ(seam.messages.back().text, "Deseja salvar as alterações?");
        seam.answers = {MsgAnswer::Yes};
        const int codigo = inclui("Caio", [&](QWidget* w) {
            digita(w, "edtRG", "456");
            closeIt(w);
        });
        ASSERT_GT(codigo, 0);
        EXPECT_EQ(paciente(codigo, "RG"), "456");
        dm->execProcedure("DELETE FROM Pacientes", {});
    }
}

TEST_F(CadastroPacientes, ChangingKeepsTheStoredNameWhenClearedAndCancelChangesNothing) {
    const int bia = insertPaciente("Bia Souza");
    dm->execProcedure("UPDATE Pacientes SET NaturalidadeEstado = 'XX', Sexo = NULL WHERE Codigo = :C", {{"C", bia}});
    // Each text in its own column: values that differ catch two columns swapped.
    const std::tuple<const char*, QString, const char*> alterados[] = {
        {"edtPai", "Pedro Souza", "PAI"},        {"edtMae", "Rita Souza", "MAE"},
        {"edtConjuge", "Caio", "CONJUGE"},       {"edtNaturalidade", "Mossoró", "NATURALIDADE"},
        {"edtRua", "Rua A, 1", "RUA"},           {"edtComplemento", "casa 2", "COMPLEMENTO"},
        {"edtBairro", "Centro", "BAIRRO"},       {"edtCidade", "Natal", "CIDADE"},
        {"edtProfissao", "Médica", "PROFISSAO"}, {"edtConvenio", "Unimed", "CONVENIO"}};
    EXPECT_EQ(altera(bia, [&](QWidget* w) {
                  EXPECT_EQ(filho<QLineEdit>(w, "edtNome")->text(), "Bia Souza");
                  EXPECT_EQ(w->focusWidget(), filho<QLineEdit>(w, "edtRG"));
                  EXPECT_EQ(filho<QLabel>(w, "dbtCodigo")->text(), QString::number(bia));
                  // A state the list does not offer is shown, and kept; no sex is chosen.
                  EXPECT_EQ(filho<QComboBox>(w, "cbxNaturalidadeEstado")->currentText(), "XX");
                  EXPECT_FALSE(filho<QRadioButton>(w, "rbtMasculino")->isChecked());
                  EXPECT_FALSE(filho<QRadioButton>(w, "rbtFeminino")->isChecked());
                  digita(w, "edtNome", "   ");
                  digita(w, "edtRG", "999");
                  for (const auto& [edit, value, column] : alterados) digita(w, edit, value);
                  ok(w);
              }),
              bia);
    EXPECT_EQ(paciente(bia, "NOME"), "Bia Souza");
    EXPECT_EQ(paciente(bia, "RG"), "999");
    for (const auto& [edit, value, column] : alterados) EXPECT_EQ(paciente(bia, column), value) << column;
    EXPECT_EQ(paciente(bia, "NATURALIDADEESTADO"), "XX");
    EXPECT_EQ(paciente(bia, "SEXO"), "");
    EXPECT_EQ(paciente(bia, "CPF"), "12345678901");  // an invalid CPF stored before: not asked about
    EXPECT_TRUE(seam.messages.empty()) << texts().toStdString();

    EXPECT_EQ(altera(bia, [&](QWidget* w) {
                  digita(w, "edtNome", "Outra");
                  filho<QRadioButton>(w, "rbtMasculino")->click();
                  filho<QPushButton>(w, "sbtCancelar")->click();
              }),
              0);
    EXPECT_EQ(paciente(bia, "NOME"), "Bia Souza");
    EXPECT_EQ(paciente(bia, "SEXO"), "");
    EXPECT_EQ(dm->IBPacientes.filter(), "");  // the opener lifts its restriction
}

TEST_F(CadastroPacientes, APatientLockedElsewhereKeepsTheEditsUntilTheSaveCanBeDone) {
    const int bia = insertPaciente("Bia");
    OutraEstacao outra(path);
    outra.executa("UPDATE Pacientes SET Rg = 'outra' WHERE Codigo = :C", {{"C", bia}});  // not committed
    EXPECT_EQ(altera(bia, [&](QWidget* w) {
                  digita(w, "edtRG", "minha");
                  ok(w);
                  EXPECT_TRUE(w->isVisible());
                  EXPECT_EQ(filho<QLineEdit>(w, "edtRG")->text(), "minha");
                  outra.transacao.rollback();
                  ok(w);
              }),
              bia);
    ASSERT_FALSE(seam.messages.empty());
    EXPECT_EQ(seam.messages[0].text, norvix::DatabaseError::lockConflict().message());
    EXPECT_EQ(paciente(bia, "RG"), "minha");
}

TEST_F(CadastroPacientes, APatientDeletedElsewhereWhileChangedIsNotASaveAndMayBeRegisteredAgain) {
    const int bia = insertPaciente("Bia");
    seam.answers = {MsgAnswer::No, MsgAnswer::Yes};
    const int novo = altera(bia, [&](QWidget* w) {
        digita(w, "edtRG", "777");
        dm->execProcedure("Execute Procedure DeletePacientesByCodigo :Codigo", {{"Codigo", bia}});
        ok(w);
        EXPECT_TRUE(w->isVisible());  // No: the window stays with what was typed
        ok(w);
    });
    ASSERT_EQ(seam.messages.size(), 2u) << texts().toStdString();
    EXPECT_TRUE(seam.messages[0].text.startsWith("O paciente foi excluído em outra estação de trabalho"));
    ASSERT_GT(novo, bia);
    EXPECT_EQ(paciente(novo, "NOME"), "Bia");
    EXPECT_EQ(paciente(novo, "RG"), "777");

    // Gone before the window opens: the opener says so and opens nothing.
    seam.messages.clear();
    dm->execProcedure("Execute Procedure DeletePacientesByCodigo :Codigo", {{"Codigo", novo}});
    EXPECT_EQ(TfrmCadastroPacientes::Altera(novo, nullptr), -1);
    EXPECT_EQ(texts(), "O paciente selecionado não existe mais; a lista será atualizada.");
}

TEST_F(CadastroPacientes, TwoWorkstationsRegisteringTheSameNameGetTwoRowsAndEachItsOwn) {
    // Through the window: the other workstation's insert is pending while this one saves.
    OutraEstacao outra(path);
    norvix::FbParams p = dbtest::pacienteTexts("Maria");
    p.push_back({"DtCadastro", QDate::currentDate()});
    p.push_back({"TotalExames", 0});
    outra.executa(dbtest::kInsertPacientes, p);
    const int minha = inclui("Maria", [&](QWidget* w) { ok(w); });
    outra.transacao.commit();
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes WHERE Nome = 'Maria'"), 2);
    EXPECT_EQ(count("SELECT COUNT(DISTINCT Codigo) FROM Pacientes"), 2);
    EXPECT_EQ(paciente(minha, "RG"), "");  // this workstation's row, not the other's

    // The lookup after the insert finds this transaction's row even when the other
    // workstation's, of a higher code, is committed in between.
    {
        norvix::TDMPrincipal::Batch lote(*dm);
        norvix::DPacientes().InsertPacientes("Rosa", "", "", "F", "S", "", "", "", "", "", "", "", "", "", "", "",
                                             "", "", "", "", "", "", QDate::currentDate(), 0);
        outra.executa(dbtest::kInsertPacientes, [] {
            norvix::FbParams q = dbtest::pacienteTexts("Rosa");
            q.push_back({"DtCadastro", QDate::currentDate()});
            q.push_back({"TotalExames", 0});
            return q;
        }());
        outra.transacao.commit();
        const int rosa = norvix::DPacientes().SelectCodigoInseridoByNome("Rosa");
        lote.commit();
        EXPECT_EQ(rosa, valor("SELECT MIN(Codigo) AS V FROM Pacientes WHERE Nome = 'Rosa'"));
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes WHERE Nome = 'Rosa'"), 2);
}

TEST_F(CadastroPacientes, TheBufferHoldsEditsInMemoryOnly) {
    const int bia = insertPaciente("Bia");
    norvix::TRecordBuffer buffer(dm->IBPacientes, "DSPacientes");
    dm->IBPacientes.setFilter("Codigo=" + QString::number(bia));
    buffer.open();
    EXPECT_EQ(buffer.width("NOME"), 50);
    EXPECT_EQ(buffer.width("CEP"), 9);
    EXPECT_EQ(buffer.width("TOTALEXAMES"), 0);
    EXPECT_EQ(buffer.state(), norvix::TRecordBuffer::State::Browse);
    buffer.setValue("NOME", QString(80, QLatin1Char('z')));  // a browsed row is changed first
    EXPECT_EQ(buffer.state(), norvix::TRecordBuffer::State::Edit);
    EXPECT_EQ(buffer.value("NOME"), QString(50, QLatin1Char('z')));
    dm->PCommitDataBase();  // a commit elsewhere writes nothing of the buffer
    EXPECT_EQ(paciente(bia, "NOME"), "Bia");
    buffer.cancel();
    EXPECT_EQ(buffer.value("NOME"), "Bia");
    EXPECT_EQ(buffer.state(), norvix::TRecordBuffer::State::Browse);
    dm->IBPacientes.setFilter(QString());
}
