// The exam browser driven by the keyboard alone, offscreen on a fresh database: a pending
// diagnosis and the quick find with the real message box, Enter on an exam and in the search
// panel, and Tab in the memos.
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include "config/SharedRecords.h"
#include "db/DbTestSupport.h"
#include "exams/UfrmExames.h"
#include "platform/ui/MessageSeam.h"
#include "platform/ui/QuestionGuard.h"

using norvix::TfrmExames;

namespace {

// Keys as the keyboard queues them: each goes to whatever has the focus when its turn comes.
class Keyboard : public QObject {
public:
    void type(int key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
        QCoreApplication::postEvent(this, new QKeyEvent(QEvent::KeyPress, key, mods, text));
        QCoreApplication::postEvent(this, new QKeyEvent(QEvent::KeyRelease, key, mods, text));
    }
    void type(const QString& text) {
        for (QChar c : text) type(c == u' ' ? int(Qt::Key_Space) : int(Qt::Key_A) + c.toLower().unicode() - 'a', {}, c);
    }
    bool event(QEvent* e) override {
        if (e->type() != QEvent::KeyPress && e->type() != QEvent::KeyRelease) return QObject::event(e);
        if (QWidget* to = QApplication::focusWidget()) {
            auto* k = static_cast<QKeyEvent*>(e);
            QKeyEvent copy(k->type(), k->key(), k->modifiers(), k->text());
            QCoreApplication::sendEvent(to, &copy);
        }
        return true;
    }
};

class BrowserKeys : public dbtest::DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        norvix::resetSharedRecords();
        norvix::setRecordText(norvix::paths().Exames, files.path() + "/Exames");
        norvix::setRecordText(norvix::paths().DirQV, files.path());
        ana = insertMedico("Ana");
        beto = insertMedico("Beto");
        clara = insertPaciente("ANA CLARA", 2);
        claraExam = insertExame(clara, ana, QDate(2025, 3, 14), QTime(9, 0, 0));
        claraByBeto = insertExame(clara, beto, QDate(2025, 3, 15), QTime(9, 0, 0), "OS");
        nelson = insertPaciente("NELSON SOUZA", 1);
        insertExame(nelson, ana, QDate(2025, 3, 14), QTime(10, 0, 0));
        dm->execProcedure("UPDATE Exames SET Diag = 'diag' || Codigo, Observacao = 'obs' || Codigo", {});
        browser = new TfrmExames(nullptr);
        browser->show();
        browser->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(browser));
        chooseFilter("Ana");
        ASSERT_TRUE(browser->SelecionaCodigoPaciente(clara));
    }
    void TearDown() override {
        norvix::setMessageSeam(&seam);  // also after a failed case: no real box left waiting
        if (browser) browser->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        DbTest::TearDown();
    }
    template <typename T>
    T* child(const char* name) {
        T* w = browser->findChild<T*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void chooseFilter(const QString& entry) {
        auto* combo = child<QComboBox>("CBMedicos");
        combo->setCurrentIndex(combo->findText(entry));
        browser->CBMedicosChange();
    }
    QString diag(int exam) {
        return dm->selectString("SELECT Diag FROM Exames WHERE Codigo = :C", {{"C", exam}}, "Diag",
                                norvix::TDMPrincipal::Close::Yes);
    }
    QListWidget* list() { return child<QListWidget>("lswPrincipal"); }
    // The widget with the keyboard's focus; offscreen, the wait window that comes and goes
    // leaves no window active, as a desktop would not.
    QWidget* focus() {
        browser->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(browser));
        return QApplication::focusWidget();
    }

    QTemporaryDir files;
    norvix::RecordingMessageSeam seam;
    QPointer<TfrmExames> browser;
    int ana = 0, beto = 0, clara = 0, claraExam = 0, claraByBeto = 0, nelson = 0;
};

}  // namespace

// A name typed into the quick find while a diagnosis is being edited: the question comes at
// Ctrl+F, before the name, and takes no letter of it; only a deliberate answer settles it.
TEST_F(BrowserKeys, QuickFindWithAPendingEditIsAnsweredOnlyOnPurpose) {
    const struct { const char* answer; int key; Qt::KeyboardModifiers mods; bool saved; } cases[] = {
        {"Alt+S", Qt::Key_S, Qt::AltModifier, true},
        {"Alt+N", Qt::Key_N, Qt::AltModifier, false},
        {"Enter", Qt::Key_Return, Qt::NoModifier, true},
    };
    norvix::setMessageSeam(nullptr);  // the real box, with its own keys
    Keyboard keyboard;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        ASSERT_TRUE(browser->SelecionaCodigoPaciente(clara));
        list()->setCurrentRow(0);
        browser->MostraInfoExame(0);
        child<QToolButton>("SpeedButton2")->click();
        auto* memo = child<QPlainTextEdit>("memDiag");
        memo->selectAll();
        QTest::keyClicks(memo, "editado");
        ASSERT_EQ(focus(), memo);

        keyboard.type(Qt::Key_F, Qt::ControlModifier);
        keyboard.type("nelson souza");
        bool asked = false, answered = false;
        QTimer::singleShot(150, [&] {
            QPointer<QMessageBox> box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            asked = box && box->text() == "Deseja salvar as alterações do diagnóstico?";
            if (!box) return;
            EXPECT_EQ(diag(claraExam), QStringLiteral("diag%1").arg(claraExam));  // nothing settled yet
            QTest::keyClicks(box, "sn ");  // the typing goes on
            QTimer::singleShot(norvix::kQuestionQuietMs + 300, [&, box] {
                ASSERT_TRUE(box && QApplication::activeModalWidget() == box);
                QTest::keyClick(box, Qt::Key(c.key), c.mods);
                answered = true;
            });
        });
        for (int i = 0; i < 100 && !answered; ++i) QTest::qWait(20);
        QTest::qWait(50);
        EXPECT_TRUE(asked);
        EXPECT_EQ(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()), nullptr);
        EXPECT_EQ(diag(claraExam), c.saved ? QStringLiteral("editado") : QStringLiteral("diag%1").arg(claraExam));
        EXPECT_TRUE(memo->isReadOnly());
        EXPECT_EQ(browser->patientCode(), clara);  // the letters typed meanwhile moved nothing
        EXPECT_TRUE(child<QLineEdit>("edtFindGrid")->isVisible());
        QTest::keyClick(child<QLineEdit>("edtFindGrid"), Qt::Key_Escape);
        dm->execProcedure("UPDATE Exames SET Diag = 'diag' || Codigo", {});
    }
    norvix::setMessageSeam(&seam);
}

// Enter opens the exam panel, ready to edit; the search panel searches on Enter and chooses on
// the next one; an exam found there is shown under its own doctor, so that it can be edited.
TEST_F(BrowserKeys, EnterOpensTheExamAndTheSearchLeadsToAnEditableDiagnosis) {
    list()->setFocus();
    list()->setCurrentRow(0);
    QTest::keyClick(list(), Qt::Key_Return);
    EXPECT_TRUE(browser->examPanelVisible());
    EXPECT_EQ(browser->shownExamCode(), claraExam);
    EXPECT_EQ(focus(), child<QToolButton>("SpeedButton2"));
    QTest::keyClick(focus(), Qt::Key_Space);
    EXPECT_EQ(focus(), child<QPlainTextEdit>("memDiag"));
    EXPECT_FALSE(child<QPlainTextEdit>("memDiag")->isReadOnly());
    // Tab leaves the memo for the save button; Ctrl+Tab is how a tab character gets in.
    QTest::keyClick(focus(), Qt::Key_Tab);
    EXPECT_EQ(focus(), child<QToolButton>("SpeedButton1"));
    QTest::keyClick(child<QPlainTextEdit>("memDiag"), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_TRUE(child<QPlainTextEdit>("memDiag")->toPlainText().contains('\t'));
    seam.answers = {norvix::MsgAnswer::No};
    chooseFilter("Ana");

    const struct { int kind; QString text; int patient, exam; QString filter; } searches[] = {
        {1, "SOUZ", nelson, 0, TfrmExames::kTodos},
        {4, QString::number(claraByBeto), clara, claraByBeto, "Beto"},
        {5, QStringLiteral("diag%1").arg(claraByBeto), clara, claraByBeto, "Beto"},
        {6, QStringLiteral("obs%1").arg(claraExam), clara, claraExam, "Ana"},
    };
    for (const auto& s : searches) {
        SCOPED_TRACE(s.kind);
        QTest::keyClick(list(), Qt::Key_L, Qt::ControlModifier);
        child<QRadioButton>(qPrintable(QStringLiteral("rgpPaciente%1").arg(s.kind)))->click();
        auto* text = child<QLineEdit>("edtFind");
        QTest::keyClicks(text, s.text);
        QTest::keyClick(text, Qt::Key_Return);  // searches: the list takes the focus
        ASSERT_EQ(focus(), browser->findChild<QWidget*>("dbGridPacLoc"));
        QTest::keyClick(focus(), Qt::Key_Return);  // chooses
        EXPECT_EQ(browser->patientCode(), s.patient);
        EXPECT_EQ(browser->filterText(), s.filter);
        if (s.exam == 0) continue;
        EXPECT_EQ(browser->shownExamCode(), s.exam);
        EXPECT_TRUE(child<QToolButton>(s.kind == 6 ? "SpeedButton5" : "SpeedButton2")->isEnabled());
    }
}
