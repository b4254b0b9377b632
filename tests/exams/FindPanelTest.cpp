// The browser's search panel, driven through the real browser offscreen on a fresh database.
#include <QTest>
#include <QtWidgets>

#include "UfrmDica.h"
#include "config/SharedRecords.h"
#include "config/UBIniSettings.h"
#include "db/DbTestSupport.h"
#include "exams/UPnlFindPac.h"
#include "exams/UfrmExames.h"
#include "platform/ui/MessageSeam.h"

using norvix::TBIniSettings;
using norvix::TfrmDica;
using norvix::TfrmExames;

using namespace Qt::StringLiterals;
using norvix::MsgAnswer;

namespace {

const QString kNotFound = u"Paciente não encontrado! \n Deseja realizar outra busca?"_s;

class FindPanelTest : public dbtest::DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        qputenv("NORVIX_ROOT", root.path().toLocal8Bit());
        QDir(root.path()).mkpath(u"OrventDuo"_s);
        QFile ini(root.path() + u"/OrventDuo/Orvent.ini"_s);  // DICAS off, no option missing
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly) &&
                    ini.write("[OPCOES]\r\nDICAS=0\r\nQUALIDADEIMAGEM=50\r\nTINCREMENTO=2\r\nDELAYAUTOPCAPTURA=500\r\n"
                              "TIPOCALIBRADOR=1\r\n[MAPA]\r\nEXIBEGRADE=1\r\nEXIBECERATOMETRIAPONTUAL=0\r\n") > 0);
        ini.close();
        ASSERT_TRUE(settings.LoadAll(3));
        const int ana = insertMedico(u"Dra. Ana Reis"_s), bruno = insertMedico(u"Dr. Bruno Melo"_s);
        for (const char* name : {"Maria d'Ávila", "100% Silva", "1000 Silva", "Ana_Paula Lima", "Ana Paula Lima",
                                 "José Santos", "Joana Prado", "Carlos Lima", "Carlos Lima", "Zeca", "Zuza"})
            codes << insertPaciente(QString::fromUtf8(name));
        dm->execProcedure(u"UPDATE Pacientes SET Rg = 'MG-6.345' WHERE Codigo = :c"_s, {{"c", codes[6]}});
        exam(codes[5], ana, 0, "Astigmatismo irregular", "Sem queixas");
        joanaExam = exam(codes[6], bruno, 1, "Normal", "Retorno em seis meses");
        exam(codes[8], ana, 2, "Normal", "Sem queixas");
        exam(codes[8], ana, 3, "Ceratocone", "Adaptar lente rígida");
        browser = new TfrmExames(&settings);
        browser->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(browser));
        browser->findPanel();  // made at its first use
        edtFind = child<QLineEdit>("edtFind");
        grid = child<QTableView>("dbGridPacLoc");
    }
    void TearDown() override {
        delete browser.data();
        norvix::resetSharedRecords();
        qunsetenv("NORVIX_ROOT");
        DbTest::TearDown();
    }

    // Its item reads "OD - 04/03/2025 09:00:0<second>", "OS" for an odd second.
    int exam(int patient, int doctor, int second, const char* diag, const char* obs) {
        const int code = insertExame(patient, doctor, QDate(2025, 3, 4), QTime(9, 0, second), second % 2 ? "OS" : "OD");
        dm->execProcedure(u"UPDATE Exames SET Diag = :d, Observacao = :o WHERE Codigo = :c"_s,
                          {{"d", diag}, {"o", obs}, {"c", code}});
        return code;
    }
    template <class T>
    T* child(const char* name) { return browser->findChild<T*>(QLatin1String(name)); }
    QToolButton* toggle() { return child<QToolButton>("tbLocPacExam"); }
    void kind(int k) { child<QRadioButton>(qPrintable(u"rgpPaciente%1"_s.arg(k)))->click(); }
    void search(int k, const QString& text) { kind(k); edtFind->setText(text); child<QPushButton>("btnLocPac")->click(); }
    QStringList listed() {
        QStringList out;
        for (int r = 0; r < grid->model()->rowCount(); ++r) out << grid->model()->index(r, 1).data().toString();
        return out;
    }

    norvix::RecordingMessageSeam seam;
    QTemporaryDir root;
    TBIniSettings settings;
    QPointer<TfrmExames> browser;
    QLineEdit* edtFind = nullptr;
    QTableView* grid = nullptr;
    QList<int> codes;
    int joanaExam = 0;
};

TEST_F(FindPanelTest, EachKindFindsItsPatientsWithTheTypedTextTakenLiterally) {
    toggle()->click();
    ASSERT_TRUE(QString::number(codes[9]).startsWith(QString::number(codes[0])));  // code 1 is not 10
    const std::tuple<int, QString, QStringList> cases[] = {
        {1, u"d'á"_s, {u"Maria d'Ávila"_s}},  // an apostrophe; accents upper-cased on both sides
        {2, QString::number(codes[0]), {u"Maria d'Ávila"_s}},   {3, u"-6."_s, {u"Joana Prado"_s}},
        {4, QString::number(joanaExam), {u"Joana Prado"_s}},    {5, u"irreg"_s, {u"José Santos"_s}},
        {6, u"RÍGIDA"_s, {u"Carlos Lima"_s}},                   {1, u"100%"_s, {u"100% Silva"_s}},
        {1, u"a_p"_s, {u"Ana_Paula Lima"_s}},                   {2, u"1%"_s, {}},
        {3, u"_"_s, {}},                                        {1, u"\\"_s, {}},
        {6, QString(240, u'%'), {}},  // the longest text, every sign escaped
    };
    for (const auto& [k, text, found] : cases) {
        seam.answers = {MsgAnswer::Yes};
        search(k, text);
        EXPECT_EQ(listed(), found) << k << text.toStdString();
        EXPECT_EQ(seam.texts(), found.isEmpty() ? QStringList{kNotFound} : QStringList{}) << text.toStdString();
        EXPECT_EQ(child<QPushButton>("btnLocDBGrid")->isEnabled(), !found.isEmpty());
        seam.messages.clear();
    }
}

TEST_F(FindPanelTest, FirstNameNarrowsAsTypedAndOnlyItFollowsTheDoctor) {
    toggle()->click();
    QTest::keyClicks(edtFind, u"jo"_s);
    EXPECT_EQ(listed(), (QStringList{u"Joana Prado"_s, u"José Santos"_s}));
    QTest::keyClicks(edtFind, u"s"_s);
    EXPECT_EQ(listed(), QStringList{u"José Santos"_s});
    edtFind->setText(u"100%"_s);
    EXPECT_EQ(listed(), QStringList{u"100% Silva"_s});
    EXPECT_FALSE(child<QPushButton>("btnLocPac")->isEnabled());
    auto* cbFind = child<QComboBox>("CbFind");
    cbFind->setCurrentIndex(cbFind->findText(u"Dr. Bruno Melo"_s));
    emit cbFind->activated(cbFind->currentIndex());
    EXPECT_EQ(listed(), QStringList{u"Joana Prado"_s});
    search(1, u"lima"_s);  // the doctor stays chosen, and does not count
    EXPECT_TRUE(cbFind->isEnabled());
    EXPECT_EQ(listed(), (QStringList{u"Ana Paula Lima"_s, u"Ana_Paula Lima"_s, u"Carlos Lima"_s, u"Carlos Lima"_s}));
    kind(0);
    edtFind->setText(u"J"_s);
    EXPECT_EQ(listed(), QStringList{u"Joana Prado"_s});
    emit grid->doubleClicked(grid->currentIndex());
    EXPECT_FALSE(toggle()->isChecked());
    EXPECT_EQ(browser->filterText(), u"Dr. Bruno Melo"_s);
    EXPECT_EQ(browser->patientCode(), codes[6]);
}

TEST_F(FindPanelTest, NotFoundAsksForAnotherSearch) {
    toggle()->click();
    kind(3);
    browser->findPanel().btnLocPacClick();
    EXPECT_EQ(seam.texts(), QStringList{u"Campo de busca vazio"_s});
    seam.answers = {MsgAnswer::Yes};
    search(1, u"zzz"_s);
    EXPECT_EQ(seam.messages.back().caption, u"Informação"_s);
    EXPECT_TRUE(toggle()->isChecked() && edtFind->text().isEmpty());
    EXPECT_EQ(QApplication::focusWidget(), edtFind);
    seam.answers = {MsgAnswer::No};  // a click on the empty list asks the same
    QTest::mouseClick(grid->viewport(), Qt::LeftButton);
    EXPECT_EQ(seam.texts().last(), kNotFound);
    EXPECT_FALSE(toggle()->isChecked() || !child<QToolButton>("tbtCadPaciente")->isEnabled());
}

TEST_F(FindPanelTest, ChoosingGoesToThePatientChosenAndItsExam) {
    toggle()->click();
    search(6, u"rígida"_s);  // the second of two namesakes
    child<QPushButton>("btnLocDBGrid")->click();
    EXPECT_FALSE(toggle()->isChecked());
    EXPECT_EQ(browser->patientCode(), codes[8]);
    EXPECT_EQ(browser->selectedCaption(), u"OS - 04/03/2025 09:00:03"_s);
    EXPECT_TRUE(browser->examPanelVisible());
    EXPECT_EQ(child<QTabWidget>("pgcInfo")->currentIndex(), 1);
    EXPECT_EQ(child<QPlainTextEdit>("memObs")->toPlainText(), u"Adaptar lente rígida"_s);

    toggle()->click();  // the code changed into no number before the row is chosen
    search(4, QString::number(joanaExam));
    QTest::keyClicks(edtFind, u"x"_s);
    emit grid->doubleClicked(grid->currentIndex());
    EXPECT_EQ(browser->patientCode(), codes[6]);
    EXPECT_TRUE(seam.texts().value(0).contains(u"digite somente números"_s));
}

TEST_F(FindPanelTest, TipSettingAndKeys) {
    settings.WriteParameter(u"Bool"_s, u"OPCOES"_s, u"DICAS"_s, {}, true);
    bool tipShown = false;
    QTimer::singleShot(0, browser, [&] {
        if ((tipShown = TfrmDica::exists() && TfrmDica::instance()->isVisible())) TfrmDica::instance()->accept();
    });
    toggle()->click();
    EXPECT_TRUE(tipShown);
    auto* dicas = child<QCheckBox>("cbDicas");
    EXPECT_TRUE(dicas->isChecked());
    for (const char* name : {"tbtCadPaciente", "tbNovoExame1", "tbtAlterarPaciente", "tbtExcluirPaciente", "tbExameOrto1"})
        EXPECT_FALSE(child<QToolButton>(name)->isEnabled()) << name;
    dicas->click();
    browser->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(browser));
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Return);  // Enter in the list chooses its patient
    EXPECT_FALSE(toggle()->isChecked());
    auto dicasInFile = [&] { return settings.ReadParameter(settings.FileName(), u"Bool"_s, u"OPCOES"_s, u"DICAS"_s); };
    EXPECT_EQ(dicasInFile(), u"False"_s);
    toggle()->click();
    EXPECT_FALSE(TfrmDica::exists() || dicas->isChecked());
    dicas->click();
    toggle()->click();
    EXPECT_EQ(dicasInFile(), u"True"_s);
}

}  // namespace
