// The exam browser offscreen on a fresh database: the doctor filter and its special entries,
// the exam-list rule of "Exibir todos os exames", deleting exams and patients with their
// counters and files, the caption lookup, the export round trip, the examples page, the keys
// and what closing keeps.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QListWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <functional>

#include "config/SharedRecords.h"
#include "config/UBIniSettings.h"
#include "db/DbTestSupport.h"
#include "exams/ExamExport.h"
#include "dicom/Outbox.h"
#include "exams/UfrmExames.h"
#include "platform/Cp1252.h"
#include "platform/ui/FileDialogSeam.h"
#include "platform/ui/MessageSeam.h"
#include "platform/ProfileFile.h"
#include "records/UArquivosExame.h"
#include "records/Exclusao.h"
#include "records/UDLaudos.h"
#include "shell/UfrmAguarde.h"

using norvix::MsgAnswer;
using norvix::TBIniSettings;
using norvix::TExamExport;
using norvix::TfrmAguarde;
using norvix::TfrmExames;

namespace {

const QDate kDay(2025, 3, 14);

class Browser : public dbtest::DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        norvix::resetSharedRecords();
        norvix::setRecordText(norvix::paths().Exames, files.path() + "/Exames");
        norvix::setRecordText(norvix::paths().Laudos, files.path() + "/Laudos");
        norvix::setRecordText(norvix::paths().DirQV, files.path());
        norvix::setRecordText(norvix::paths().DirMapas, files.path() + "/Mapas");
        norvix::infos().NumAneis = 32;
    }
    void TearDown() override {
        if (browser) browser->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        DbTest::TearDown();
    }
    void open() {
        browser = new TfrmExames(nullptr);
        browser->show();
        QCoreApplication::processEvents();
    }
    // A patient with exams: total counts them as a new exam would.
    int patientWithExams(const QString& name, int doctor, int exams, int otherDoctor = 0, int otherExams = 0) {
        const int p = insertPaciente(name, exams + otherExams);
        for (int i = 0; i < exams; ++i) insertExame(p, doctor, kDay.addDays(i), QTime(9, 0, i));
        for (int i = 0; i < otherExams; ++i) insertExame(p, otherDoctor, kDay.addDays(10 + i), QTime(10, 0, i), "OS");
        return p;
    }
    void writeExamFiles(int patient, int exam) {
        QDir().mkpath(files.path() + "/Exames/" + QString::number(patient));
        for (char letter : {'a', 'd', 'm'}) {
            QFile f(norvix::CaminhoArquivoExame(patient, exam, letter));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(1, letter) + "1.00\r\n2.00\r\n");
        }
    }
    template <typename T>
    T* child(const char* name) {
        T* w = browser->findChild<T*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QListWidget* list() { return child<QListWidget>("lswPrincipal"); }
    void selectItem(int row) {
        list()->setCurrentRow(row);
        QCoreApplication::processEvents();
    }
    void chooseFilter(const QString& entry) {
        auto* combo = child<QComboBox>("CBMedicos");
        combo->setCurrentIndex(combo->findText(entry));
        browser->CBMedicosChange();
    }

    QTemporaryDir files;
    norvix::RecordingMessageSeam seam;
    QPointer<TfrmExames> browser;
};

}  // namespace

TEST_F(Browser, DoctorFilterListsNamesThenTheSpecialEntriesWhenTheyApply) {
    const int bruno = insertMedico("Bruno Alves");
    insertMedico("Ana Lima");
    patientWithExams("Carla", bruno, 1);
    open();
    EXPECT_EQ(browser->filterEntries(), QStringList({"Ana Lima", "Bruno Alves", "*** Todos"}));
    EXPECT_EQ(browser->filterText(), "*** Todos");  // MEDICOATIVO empty
    browser->close();

    insertPaciente("Davi");  // no exam
    norvix::setRecordText(norvix::infos().MedicoAtivo, "Bruno Alves");
    open();
    EXPECT_EQ(browser->filterEntries(), QStringList({"Ana Lima", "Bruno Alves", "*** Sem Exames", "*** Todos"}));
    EXPECT_EQ(browser->filterText(), "Bruno Alves");
    chooseFilter("*** Sem Exames");
    EXPECT_EQ(browser->patientName(), "Davi");
}

TEST_F(Browser, FilterAndOrderDecideThePatientsShown) {
    const int ana = insertMedico("Ana");
    const int beto = insertMedico("Beto");
    patientWithExams("Zélia", ana, 2);
    patientWithExams("Abel", beto, 1);
    patientWithExams("Márcia", ana, 1, beto, 1);
    open();
    auto* grid = child<QTableView>("DBGridPacientes");
    auto names = [&] {
        QStringList out;
        for (int r = 0; r < grid->model()->rowCount(); ++r) out << grid->model()->index(r, 0).data().toString();
        return out;
    };
    EXPECT_EQ(names(), QStringList({"Abel", "Márcia", "Zélia"}));
    chooseFilter("Ana");
    EXPECT_EQ(names(), QStringList({"Márcia", "Zélia"}));  // DISTINCT: Márcia once
    child<QToolButton>("tbOrdemCriacao")->click();
    EXPECT_EQ(names(), QStringList({"Zélia", "Márcia"}));
}

TEST_F(Browser, ShowAllExamsBoxAppearsForAPatientWithAnotherDoctorsExams) {
    const int ana = insertMedico("Ana");
    const int beto = insertMedico("Beto");
    patientWithExams("Márcia", ana, 2, beto, 1);
    open();
    auto* box = child<QCheckBox>("CBoxExames");
    EXPECT_EQ(list()->count(), 3);  // "*** Todos": every exam
    EXPECT_FALSE(box->isVisible());
    chooseFilter("Ana");
    EXPECT_EQ(list()->count(), 2);
    EXPECT_TRUE(box->isVisible());
    box->click();
    EXPECT_EQ(list()->count(), 3);
    // "Laudo" only for the filter doctor's own exam.
    selectItem(2);
    EXPECT_FALSE(child<QToolButton>("tbLaudo")->isEnabled());
    selectItem(0);
    EXPECT_TRUE(child<QToolButton>("tbLaudo")->isEnabled());
    chooseFilter("*** Todos");
    selectItem(0);
    EXPECT_FALSE(child<QToolButton>("tbLaudo")->isEnabled());
}

TEST_F(Browser, CaptionsFindTheirExamAndAVanishedExamIsReported) {
    const int ana = insertMedico("Ana");
    const int p = patientWithExams("Márcia", ana, 1);
    open();
    ASSERT_EQ(browser->itemCaptions(), QStringList({"OD - 14/03/2025 09:00:00"}));
    EXPECT_TRUE(browser->LocalizaExame("OD - 14/03/2025 09:00:00"));
    EXPECT_FALSE(browser->LocalizaExame("OS - 14/03/2025 09:00:00"));
    EXPECT_FALSE(browser->LocalizaExame("OD - 14/03/2025 09:00:01"));
    EXPECT_FALSE(browser->LocalizaExame("lixo"));
    // Another workstation deletes it while it is listed here.
    dm->execProcedure("DELETE FROM Exames WHERE CodPaciente = :P", {{"P", p}});
    selectItem(0);
    ASSERT_FALSE(seam.messages.empty());
    EXPECT_EQ(seam.messages.back().text, "Erro ao selecionar o exame.");
    EXPECT_EQ(list()->count(), 0);
}

TEST_F(Browser, APatientDeletedElsewhereIsReportedAndLeavesTheList) {
    insertMedico("Ana");
    insertPaciente("Bia");
    const int gone = insertPaciente("Caio");
    open();
    dm->execProcedure("Execute Procedure DeletePacientesByCodigo :Codigo", {{"Codigo", gone}});
    auto* grid = child<QTableView>("DBGridPacientes");
    grid->setCurrentIndex(grid->model()->index(1, 0));  // Caio, still listed here
    QCoreApplication::processEvents();
    EXPECT_EQ(seam.messages.back().text, "O paciente selecionado não existe mais; a lista será atualizada.");
    EXPECT_EQ(grid->model()->rowCount(), 1);
    EXPECT_EQ(browser->patientName(), "Bia");
}

TEST_F(Browser, DeletingTheLastExamUpdatesTheCountersRemovesTheFilesAndMovesToSemExames) {
    const int ana = insertMedico("Ana");
    const int p = patientWithExams("Márcia", ana, 2);
    const int first = dm->selectInt("SELECT MIN(Codigo) FROM Exames", {}, "MIN", norvix::TDMPrincipal::Close::Yes);
    writeExamFiles(p, first);
    writeExamFiles(p, first + 1);
    open();
    selectItem(1);
    child<QToolButton>("tbtExcluirExame")->click();
    EXPECT_EQ(seam.messages.back().text, "Confirma a exclusão do exame 'OD - 15/03/2025 09:00:01' ?");
    EXPECT_EQ(seam.messages.back().defaultButton, MsgAnswer::No);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames"), 1);
    EXPECT_EQ(dm->selectString("SELECT UltimoExame FROM Pacientes", {}, "UltimoExame", norvix::TDMPrincipal::Close::Yes),
              "OD 14/03/2025 09:00");
    EXPECT_FALSE(QFile::exists(norvix::CaminhoArquivoExame(p, first + 1, 'd')));
    EXPECT_TRUE(QFile::exists(norvix::CaminhoArquivoExame(p, first, 'd')));

    selectItem(0);
    child<QToolButton>("tbtExcluirExame")->click();
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames"), 0);
    EXPECT_EQ(dm->selectString("SELECT UltimoExame FROM Pacientes", {}, "UltimoExame", norvix::TDMPrincipal::Close::Yes),
              "  ");
    EXPECT_EQ(dm->selectInt("SELECT TotalExames FROM Pacientes", {}, "TotalExames", norvix::TDMPrincipal::Close::Yes), 0);
    EXPECT_FALSE(QDir(files.path() + "/Exames/" + QString::number(p)).exists());
    EXPECT_EQ(browser->filterText(), "*** Sem Exames");
    EXPECT_EQ(browser->patientName(), "Márcia");
}

TEST_F(Browser, LinkedReportsAnsweredNoCancelTheWholeDeletion) {
    const int ana = insertMedico("Ana");
    const int p = patientWithExams("Márcia", ana, 1);
    const int exam = dm->selectInt("SELECT Codigo FROM Exames", {}, "Codigo", norvix::TDMPrincipal::Close::Yes);
    norvix::DLaudos().InsertLaudos(p, exam, 0, "", kDay, QTime(11, 0, 0));
    open();
    selectItem(0);
    seam.answers = {MsgAnswer::Yes, MsgAnswer::No};
    child<QToolButton>("tbtExcluirExame")->click();
    ASSERT_GE(seam.messages.size(), 3u);
    EXPECT_EQ(seam.messages[seam.messages.size() - 2].text,
              "Existe(m)  1  Laudo(s) vinculado(s).\rConfirma a exclusão do(s) Laudos(s)?");
    EXPECT_EQ(seam.messages.back().text, "Exclusão cancelada!!!");
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Laudos"), 1);

    seam.answers = {MsgAnswer::Yes, MsgAnswer::Yes};
    selectItem(0);
    child<QToolButton>("tbtExcluirExame")->click();
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Laudos"), 0);
}

TEST_F(Browser, APatientWithExamsCannotBeDeletedOneWithoutCan) {
    const int ana = insertMedico("Ana");
    patientWithExams("Márcia", ana, 1);
    insertPaciente("Davi");
    open();
    ASSERT_EQ(browser->patientName(), "Davi");
    child<QToolButton>("tbtExcluirPaciente")->click();
    EXPECT_EQ(seam.messages.back().text, "Confirma a exclusão do paciente 'Davi'?");
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 1);
    EXPECT_EQ(browser->patientName(), "Márcia");
    child<QToolButton>("tbtExcluirPaciente")->click();
    EXPECT_EQ(seam.messages.back().text, "Não é possivel excluir o paciente Márcia! \n\nPara excluir este paciente é "
                                         "preciso excluir todos os exames.");
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 1);
}

TEST_F(Browser, ExportGivesBackThePlainLinesAndAMissingFileWritesNothing) {
    const int ana = insertMedico("Ana");
    const int p = patientWithExams("João D'Ávila", ana, 1);
    const int exam = dm->selectInt("SELECT Codigo FROM Exames", {}, "Codigo", norvix::TDMPrincipal::Close::Yes);
    writeExamFiles(p, exam);
    QDir().mkpath(files.path() + "/Calibração");
    for (const char* f : {"1.txt", "2.txt", "3.txt", "4.txt", "Coef.txt"}) {
        QFile c(files.path() + "/Calibração/" + f);
        ASSERT_TRUE(c.open(QIODevice::WriteOnly));
        c.write(QByteArray("7.73\r\n") + f + "\r\n");
    }
    open();
    selectItem(0);
    norvix::ScriptedFileDialogSeam dialogs;
    const QString target = files.path() + "/saida";
    dialogs.answers = {target};
    child<QToolButton>("tbExportador")->click();
    EXPECT_EQ(seam.messages.back().text, "Arquivo exportado com sucesso.");
    QFile out(target + ".exp");
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    const QByteArray bytes = out.readAll();
    EXPECT_FALSE(bytes.contains("Ávila"));
    const QStringList lines = TExamExport::Unscramble(bytes);
    ASSERT_GE(lines.size(), 8);
    EXPECT_EQ(lines.mid(0, 8), QStringList({"João D'Ávila", QString::number(p), "123456", "Olho Direito", "14/03/2025",
                                            "09:00:00", "Ana", "#"}));
    EXPECT_EQ(lines.mid(8, 3), QStringList({"d1.00", "2.00", "#"}));
    EXPECT_EQ(lines.last(), "Coef.txt");
    EXPECT_EQ(lines.count("#"), 8);

    // A calibration file missing: a message, and the existing export stays as it was.
    QFile::remove(files.path() + "/Calibração/3.txt");
    dialogs.answers = {target + ".exp"};
    child<QToolButton>("tbExportador")->click();
    EXPECT_TRUE(seam.messages.back().text.startsWith("Erro ao exportar o exame."));
    EXPECT_TRUE(seam.messages.back().text.contains("O instrumento ainda não foi calibrado (falta 3.txt em "))
        << seam.messages.back().text.toStdString();
    QFile again(target + ".exp");
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), bytes);
}

TEST(ExamExportScramble, NoScrambledCharacterBreaksALine) {
    QByteArray bytes;  // every character Windows-1252 defines
    for (int c = 32; c < 256; ++c)
        if (c != 0x81 && c != 0x8D && c != 0x8F && c != 0x90 && c != 0x9D) bytes += char(c);
    const QString every = norvix::fromCp1252(bytes);
    const QByteArray file = TExamExport::Scramble({every, "x"});
    EXPECT_EQ(file.count('\n'), 2);
    EXPECT_EQ(TExamExport::Unscramble(file), QStringList({every.left(TExamExport::kMaxLine), "x"}));
}

TEST_F(Browser, ExamplesPageOffersSevenRowsAndTheirExamples) {
    insertMedico("Ana");
    open();
    child<QTabWidget>("pcExames")->setCurrentIndex(1);
    EXPECT_TRUE(browser->examplesMode());
    auto* grid = child<QTableWidget>("GridExemplos");
    EXPECT_EQ(grid->rowCount(), 7);
    EXPECT_EQ(grid->item(6, 1)->text(), "Ortoceratologia");
    EXPECT_EQ(browser->itemCaptions(), QStringList({"OD - Central01", "OD - Central02", "OD - Central03", "OD - Central04",
                                                    "OS - Central05", "OS - Central06"}));
    grid->setCurrentCell(6, 1);
    EXPECT_EQ(browser->itemCaptions(), QStringList({"Orto01", "Orto02", "Orto03", "Orto04"}));
    for (const char* b : {"tbNovoExame1", "tbtExcluirExame", "tbExportador", "tbLaudo", "tbOrdemAlfa", "tbExameOrto1"})
        EXPECT_FALSE(child<QToolButton>(b)->isEnabled()) << b;
    child<QTabWidget>("pcExames")->setCurrentIndex(0);
    EXPECT_FALSE(browser->examplesMode());
    EXPECT_TRUE(child<QToolButton>("tbOrdemAlfa")->isChecked());
    EXPECT_TRUE(child<QToolButton>("tbNovoExame1")->isEnabled());
}

TEST_F(Browser, KeysJumpToPatientsAndOpenTheQuickFind) {
    insertMedico("Ana");
    for (const char* n : {"Bia", "Célia", "carlos", "Xavier", "ção", "1º Filho"}) insertPaciente(QString::fromUtf8(n));
    open();
    auto* grid = child<QTableView>("DBGridPacientes");
    QTest::keyClick(grid, Qt::Key_X);
    EXPECT_EQ(browser->patientName(), "Xavier");
    QTest::keyClicks(grid, "c");  // upper-cased: "Célia", not "carlos"
    EXPECT_EQ(browser->patientName(), "Célia");
    QTest::keyClick(grid, Qt::Key_1);
    EXPECT_EQ(browser->patientName(), "1º Filho");

    QTest::keyClick(grid, Qt::Key_F, Qt::ControlModifier);
    auto* find = child<QLineEdit>("edtFindGrid");
    EXPECT_FALSE(find->isHidden());
    QTest::keyClicks(find, "car");
    EXPECT_EQ(browser->patientName(), "carlos");
    QTest::keyClick(find, Qt::Key_Escape);
    EXPECT_TRUE(find->isHidden());
    EXPECT_TRUE(find->text().isEmpty());
}

TEST_F(Browser, NewExamWithoutAPatientSaysSo) {
    insertMedico("Ana");
    open();
    child<QToolButton>("tbNovoExame1")->click();
    EXPECT_EQ(seam.messages.back().text, "Selecione um Paciente para efetuar o exame!");
}

TEST_F(Browser, ClosingKeepsTheDoctorThePatientAndTheSmallMapChoice) {
    const QString ini = files.path() + "/Orvent.ini";
    norvix::ProfileFile settingsFile(ini);
    ASSERT_TRUE(settingsFile.writeString("CLINICA", "MEDICOATIVO", ""));
    qputenv("NORVIX_ROOT", QFile::encodeName(files.path() + "/root"));
    QDir().mkpath(files.path() + "/root/OrventDuo");
    QFile::copy(ini, files.path() + "/root/OrventDuo/Orvent.ini");
    TBIniSettings settings;
    ASSERT_TRUE(settings.LoadAll(3));
    const int ana = insertMedico("Ana");
    patientWithExams("Márcia", ana, 1);
    browser = new TfrmExames(&settings);
    browser->show();
    chooseFilter("Ana");
    selectItem(0);
    browser->MostraInfoExame(0);
    // On a small screen the diagnosis keeps room for its words, and both tabs show whole.
    QApplication::processEvents();
    auto* tabs = child<QTabWidget>("pgcInfo");
    EXPECT_GE(tabs->width(), tabs->tabBar()->sizeHint().width());
    EXPECT_GE(child<QPlainTextEdit>("memDiag")->width(), 150);
    child<QCheckBox>("cBoxMiniMapa")->setChecked(true);
    browser->close();
    const norvix::ProfileFile kept(files.path() + "/root/OrventDuo/Orvent.ini");
    EXPECT_EQ(kept.readString("CLINICA", "MEDICOATIVO", ""), "Ana");
    EXPECT_EQ(kept.readString("CLINICA", "PACIENTEATIVO", ""), "Márcia");
    EXPECT_EQ(kept.readString("OPCOES", "AUTOMINIMAPA", ""), "1");
    EXPECT_EQ(norvix::recordText(norvix::infos().MedicoAtivo), "Ana");
    qunsetenv("NORVIX_ROOT");
}

TEST(BrowserLayout, FractionsFollowTheScreenRatio) {
    EXPECT_EQ(TfrmExames::layoutFractions(1.25), std::make_pair(0.79, 0.855));
    EXPECT_EQ(TfrmExames::layoutFractions(1.3), std::make_pair(0.63, 0.75));
    EXPECT_EQ(TfrmExames::layoutFractions(16.0 / 9), std::make_pair(0.70, 0.80));
}

// ---- every action on the exam and patient the operator sees ----------------------------------

namespace {

// Two namesakes with exams of two doctors: the browser must never take one for the other.
class BrowserIdentity : public Browser {
protected:
    void SetUp() override {
        Browser::SetUp();
        ana = insertMedico("Ana");
        beto = insertMedico("Beto");
        first = patientWithExams("MARIA DA SILVA", ana, 1);
        second = patientWithExams("MARIA DA SILVA", ana, 2, beto, 1);
        dm->execProcedure("UPDATE Exames SET Diag = 'd' || Codigo, Observacao = 'o' || Codigo", {});
        open();
        chooseFilter("Ana");
        ASSERT_TRUE(browser->SelecionaCodigoPaciente(second));
        ASSERT_EQ(browser->patientCode(), second);
    }
    QString diag(int exam) {
        return dm->selectString("SELECT Diag FROM Exames WHERE Codigo = :C", {{"C", exam}}, "Diag",
                                norvix::TDMPrincipal::Close::Yes);
    }
    QString obs(int exam) {
        return dm->selectString("SELECT Observacao FROM Exames WHERE Codigo = :C", {{"C", exam}}, "Observacao",
                                norvix::TDMPrincipal::Close::Yes);
    }
    // The first exam of the patient on show, with the panel open and its diagnosis being edited.
    int editDiagnosis(const QString& text) {
        selectItem(0);
        browser->MostraInfoExame(0);
        const int code = browser->shownExamCode();
        child<QToolButton>("SpeedButton2")->click();
        auto* memo = child<QPlainTextEdit>("memDiag");
        memo->selectAll();
        QTest::keyClicks(memo, text);
        return code;
    }
    QStringList diagnoses() {
        QStringList out;
        norvix::FbQuery& q = dm->openQuery(dm->IBOperation, "SELECT Diag FROM Exames ORDER BY Codigo");
        for (; !q.eof(); q.next()) out << q.asString("DIAG");
        q.close();
        return out;
    }
    int ana = 0, beto = 0, first = 0, second = 0;
};

}  // namespace

TEST_F(BrowserIdentity, DiagnosisThenObservationOfOneExamAreBothStoredOnIt) {
    const int exam = editDiagnosis("catarata incipiente");
    child<QToolButton>("SpeedButton1")->click();  // the commit closes every cursor
    child<QToolButton>("SpeedButton5")->click();
    child<QPlainTextEdit>("memObs")->moveCursor(QTextCursor::End);
    QTest::keyClicks(child<QPlainTextEdit>("memObs"), " e revisao em 6 meses");
    child<QToolButton>("SpeedButton4")->click();
    EXPECT_EQ(diag(exam), "catarata incipiente");
    EXPECT_EQ(obs(exam), QStringLiteral("o%1 e revisao em 6 meses").arg(exam));
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames WHERE Diag = 'catarata incipiente'"), 1);
    // At most what the column holds can be typed.
    child<QToolButton>("SpeedButton2")->click();
    QTest::keyClicks(child<QPlainTextEdit>("memDiag"), QString(300, QLatin1Char('x')));
    EXPECT_EQ(child<QPlainTextEdit>("memDiag")->toPlainText().size(), 240);
}

TEST_F(BrowserIdentity, AnEditInProgressGoesToItsOwnExamOrIsDroppedWhateverChangesUnderIt) {
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"outro paciente", [this] { browser->SelecionaCodigoPaciente(first); }},
        {"Exibir todos os exames", [this] { child<QCheckBox>("CBoxExames")->click(); }},
        {"filtro", [this] { chooseFilter("*** Todos"); }},
        {"ordem", [this] { child<QToolButton>("tbOrdemCriacao")->click(); }},
        {"outro exame", [this] { selectItem(1); }},
    };
    for (const auto& [change, doIt] : changes) {
        for (MsgAnswer answer : {MsgAnswer::Yes, MsgAnswer::No}) {
            SCOPED_TRACE(std::string(change) + (answer == MsgAnswer::Yes ? " / Sim" : " / Não"));
            chooseFilter("Ana");
            child<QToolButton>("tbOrdemAlfa")->click();
            browser->SelecionaCodigoPaciente(second);
            if (child<QCheckBox>("CBoxExames")->isChecked()) child<QCheckBox>("CBoxExames")->click();
            const QStringList before = diagnoses();
            const int exam = editDiagnosis("editado");
            seam.answers = {answer};
            doIt();
            EXPECT_EQ(seam.messages.back().text, "Deseja salvar as alterações do diagnóstico?");
            QStringList expected = before;
            if (answer == MsgAnswer::Yes) {
                EXPECT_EQ(diag(exam), "editado");
                expected[expected.indexOf(QStringLiteral("d%1").arg(exam))] = "editado";
            }
            EXPECT_EQ(diagnoses(), expected);  // no other exam touched
            EXPECT_TRUE(child<QPlainTextEdit>("memDiag")->isReadOnly());
            EXPECT_NE(child<QPlainTextEdit>("memDiag")->toPlainText(), "editado");
            dm->execProcedure("UPDATE Exames SET Diag = 'd' || Codigo", {});
        }
    }
}

TEST_F(BrowserIdentity, NamesakesAreFoundAgainByCodeOnEveryPath) {
    const std::pair<const char*, std::function<void()>> paths[] = {
        {"filtro", [this] { chooseFilter("*** Todos"); }},
        {"ordem alfabética", [this] { child<QToolButton>("tbOrdemAlfa")->click(); }},
        {"ordem de criação", [this] { child<QToolButton>("tbOrdemCriacao")->click(); }},
        {"nome do médico",
         [this] {
             selectItem(0);
             browser->MostraInfoExame(0);
             browser->lblNomeMedicoClick();
         }},
        {"Novo Paciente", [this] { browser->tbtCadPacienteClick(); }},
        {"exame excluído",
         [this] {
             selectItem(0);
             child<QToolButton>("tbtExcluirExame")->click();
         }},
    };
    for (const auto& [path, doIt] : paths) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(browser->SelecionaCodigoPaciente(second));
        doIt();
        EXPECT_EQ(browser->patientCode(), second);
        EXPECT_EQ(child<QLabel>("lblID")->text(), QStringLiteral("%1").arg(second, 4, 10, QLatin1Char('0')));
    }
}

TEST_F(BrowserIdentity, AKeyInAReadOnlyMemoNeverMovesThePatient) {
    selectItem(0);
    browser->MostraInfoExame(0);
    auto* memo = child<QPlainTextEdit>("memDiag");
    memo->setFocus();
    QTest::keyClicks(memo, "MX");
    EXPECT_EQ(browser->patientCode(), second);
    EXPECT_EQ(memo->toPlainText(), diag(browser->shownExamCode()));
}

TEST_F(BrowserIdentity, AFailedSaveSaysWhyHidesTheWaitAndKeepsTheText) {
    dm->execProcedure("CREATE EXCEPTION FALHA_TESTE 'falha simulada'", {});
    dm->execProcedure("CREATE TRIGGER FALHA_EXAMES FOR EXAMES BEFORE UPDATE AS BEGIN EXCEPTION FALHA_TESTE; END", {});
    const int exam = editDiagnosis("nao grava");
    child<QToolButton>("SpeedButton1")->click();
    EXPECT_TRUE(seam.messages.back().text.startsWith("Não foi possível salvar o diagnóstico do exame."));
    EXPECT_FALSE(TfrmAguarde::exists() && TfrmAguarde::instance()->isVisible());
    EXPECT_EQ(child<QPlainTextEdit>("memDiag")->toPlainText(), "nao grava");
    EXPECT_FALSE(child<QPlainTextEdit>("memDiag")->isReadOnly());
    EXPECT_EQ(diag(exam), QStringLiteral("d%1").arg(exam));
}

TEST_F(Browser, CountersComeFromTheRowsAndTheNewestRemainingExamByDateAndTime) {
    const int ana = insertMedico("Ana");
    const int p = insertPaciente("Márcia", 9);  // a count already wrong
    insertExame(p, ana, QDate(2025, 1, 1), QTime(9, 0, 0), "OD");
    insertExame(p, ana, QDate(2025, 1, 2), QTime(9, 0, 0), "OS");
    const int newest = insertExame(p, ana, QDate(2025, 1, 3), QTime(10, 0, 0), "OD");
    const auto exam = norvix::DExames().SelectExameByCodigo(newest);
    ASSERT_TRUE(exam);
    const norvix::TExclusao done = norvix::ExcluiExame(*exam);
    EXPECT_EQ(done.examesRestantes, 2);
    // The original statement took the 01/01 exam, which shares the time of day.
    EXPECT_EQ(dm->selectString("SELECT UltimoExame FROM Pacientes", {}, "UltimoExame", norvix::TDMPrincipal::Close::Yes),
              "OS 02/01/2025 09:00");
    EXPECT_EQ(dm->selectInt("SELECT TotalExames FROM Pacientes", {}, "TotalExames", norvix::TDMPrincipal::Close::Yes), 2);
}

TEST_F(Browser, APatientWithOnlyAReportWithoutExamsIsDeletedWithIt) {
    insertMedico("Ana");
    const int p = insertPaciente("Rui");
    norvix::DLaudos().InsertLaudos(p, -1, -1, "", kDay, QTime(8, 0, 0));
    const int report = dm->selectInt("SELECT Codigo FROM Laudos", {}, "Codigo", norvix::TDMPrincipal::Close::Yes);
    const QString file = norvix::CaminhoLaudo(QString::number(p), QString::number(report));
    QDir().mkpath(QFileInfo(file).path());
    QFile(file).open(QIODevice::WriteOnly);
    open();
    seam.answers = {MsgAnswer::Yes};
    child<QToolButton>("tbtExcluirPaciente")->click();
    EXPECT_EQ(seam.messages.back().text, "Confirma a exclusão do paciente 'Rui'?\n\nO(s) 1 laudo(s) do paciente também "
                                         "será(ão) excluído(s).");
    EXPECT_EQ(seam.messages.back().defaultButton, MsgAnswer::No);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Pacientes"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Laudos"), 0);
    EXPECT_FALSE(QFile::exists(file));
}

TEST_F(Browser, QuickFindIgnoresCaseAlsoInAccentedLettersAndSaysWhenNothingMatches) {
    insertMedico("Ana");
    for (const char* n : {"ÁUREA LIMA", "Bia", "ÉRICA SOUZA"}) insertPaciente(QString::fromUtf8(n));
    open();
    QTest::keyClick(child<QTableView>("DBGridPacientes"), Qt::Key_F, Qt::ControlModifier);
    auto* find = child<QLineEdit>("edtFindGrid");
    for (const QChar c : QString::fromUtf8("éri")) {  // typed as keys (QTest types ASCII only)
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(find, &key);
    }
    EXPECT_EQ(browser->patientName(), QString::fromUtf8("ÉRICA SOUZA"));
    EXPECT_TRUE(child<QLabel>("lblFindGrid")->isHidden());
    QTest::keyClicks(find, "x");
    EXPECT_EQ(child<QLabel>("lblFindGrid")->text(), QString::fromUtf8("Nenhum paciente começa com “érix”."));
    EXPECT_FALSE(child<QLabel>("lblFindGrid")->isHidden());
    EXPECT_EQ(browser->patientName(), QString::fromUtf8("ÉRICA SOUZA"));
}

// An installation at root, made NORVIX_ROOT, whose PACS is on loopback port 9 (nothing answers
// there); its settings file.
static QString installationWithSilentPacs(const QString& root) {
    qputenv("NORVIX_ROOT", QFile::encodeName(root));
    QDir().mkpath(root + "/OrventDuo");
    const QString path = root + "/OrventDuo/Orvent.ini";
    norvix::ProfileFile ini(path);
    EXPECT_TRUE(ini.writeString("DICOM", "PACS_HOST", "127.0.0.1") && ini.writeString("DICOM", "PACS_PORTA", "9"));
    return path;
}

// "Enviar ao PACS" takes the selected row's exam, or says there is no PACS; each opening sends
// what waits in the background (also when closed at once) and says what still waits.
TEST_F(Browser, SendsTheSelectedRowsExamAndRetriesWhatWaitsAtEachOpening) {
    const QString root = files.path() + "/root";
    norvix::ProfileFile ini(installationWithSilentPacs(root));
    norvix::dicom::Outbox outbox(root + "/DICOM/Saida");
    // A visit of an exam that exists waits (one of an exam gone would be dropped before the send).
    const int patient = patientWithExams("Márcia", insertMedico("Ana"), 2);
    const QString waiting = "E" + QString::number(norvix::DExames().SelectExamesByPaciente(patient).value(0).codigo);
    ASSERT_TRUE(outbox.enqueue(waiting, {root + "/OrventDuo/Orvent.ini"}, nullptr));
    TBIniSettings settings;
    const struct { const char* ae; bool closeAtOnce; QString says; } openings[] = {
        {"", false, "O PACS não está configurado"}, {"ORTHANC", true, ""},
        {"ORTHANC", false, "O exame não foi posto na fila de envio ao PACS. Exame %1: "}};
    for (const auto& o : openings) {
        ASSERT_TRUE(ini.writeString("DICOM", "PACS_AETITLE", o.ae) && settings.LoadAll(3));
        seam.messages.clear();
        browser = new TfrmExames(&settings);
        browser->show();
        EXPECT_EQ(browser->pacsSending(), *o.ae != 0) << o.ae;
        for (int i = 0; i < 400 && browser->pacsSending() && !o.closeAtOnce; ++i) QTest::qWait(25);
        if (!o.closeAtOnce) {
            EXPECT_EQ(browser->pacsStatusText(), "1 exame aguardando envio ao PACS") << o.ae;
            selectItem(1);
            QTest::keyClick(list(), Qt::Key_D, Qt::ControlModifier);
            const QString says = QString(o.says).replace("%1", QString::number(browser->itemCodes().value(1)));
            EXPECT_TRUE(seam.texts().value(0).startsWith(says)) << seam.texts().join("|").toStdString();
        }
        browser->close();  // before its settings go
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(outbox.pending(), QStringList{waiting}) << o.ae;
    }
    qunsetenv("NORVIX_ROOT");
}

// After a save the wizard hands the exam to the browser: with automatic sending off nothing
// happens; on, a missing PACS or an exam that cannot be queued is said (the exam stays saved).
TEST_F(Browser, AutomaticSendingAfterASaveFollowsTheSetting) {
    const QString root = files.path() + "/auto";
    norvix::ProfileFile ini(installationWithSilentPacs(root));
    patientWithExams("Márcia", insertMedico("Ana"), 1);
    TBIniSettings settings;
    const struct { const char* automatic; const char* ae; const char* says; } cases[] = {
        {"0", "ORTHANC", nullptr},
        {"1", "", "O PACS não está configurado"},
        {"1", "ORTHANC", "O exame não foi posto na fila de envio ao PACS."},  // its files are not there
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(ini.writeString("DICOM", "ENVIO_AUTOMATICO", c.automatic) &&
                    ini.writeString("DICOM", "PACS_AETITLE", c.ae) && settings.LoadAll(3));
        browser = new TfrmExames(&settings);
        browser->show();
        seam.messages.clear();
        browser->enviaAoPacsSeAutomatico({browser->itemCodes().value(0)});
        if (c.says)
            EXPECT_TRUE(seam.texts().value(0).startsWith(c.says)) << seam.texts().join("|").toStdString();
        else
            EXPECT_TRUE(seam.texts().isEmpty()) << seam.texts().join("|").toStdString();
        browser->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_TRUE(norvix::dicom::Outbox(root + "/DICOM/Saida").pending().isEmpty());
    qunsetenv("NORVIX_ROOT");
}
