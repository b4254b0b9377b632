// The tear-film road with the recording and the analysis injected, on a real database: what the
// operator is told and what is stored for each outcome; the result window as the operator
// drives it; and the browser listing, opening and deleting the exam.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "config/SharedRecords.h"
#include "db/DbTestSupport.h"
#include "exams/TearFilmExam.h"
#include "exams/UfrmExames.h"
#include "exams/UfrmLagrima.h"
#include "platform/ui/MessageSeam.h"

using namespace norvix;

namespace {

lagrima::TearFilmResult altered() {
    lagrima::TearFilmResult r;
    r.firstS = 6.2;
    r.averageS = 9.8;
    r.recordedS = 11.5;
    r.blinkS = 11.5;
    r.fps = 30;
    r.breakS.assign(lagrima::kBands * lagrima::kGroups, lagrima::TearFilmResult::kNone);
    r.breakS[9] = 6.2;
    r.brokenArea = {{0, 0}, {6.2, 3}, {11.5, 40}};
    return r;
}

const QByteArray kFilm("filme de teste\0com bytes", 24);

class TearFilm : public dbtest::DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        qputenv("NORVIX_ROOT", dir.path().toUtf8());
        patient = insertPaciente("ANA LIMA");
        insertMedico("DR BRUNO");
    }
    void TearDown() override {
        qunsetenv("NORVIX_ROOT");
        DbTest::TearDown();
    }
    // The road with fakes: the recording's outcome, the analysis's, and the operator's choice.
    int road(StepOutcome recorded, bool analysed, bool keep, bool withSeams = true) {
        TearFilmExam::Seams s;
        if (withSeams) {
            s.record = [=](QWidget*, int, const QString& path, int) {
                if (recorded.ok) {
                    QFile f(path);
                    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
                    f.write(kFilm);
                }
                return recorded;
            };
            s.analyse = [=](const QString&, lagrima::TearFilmResult* r, QString* error, const std::function<bool(int, int)>& p) {
                p(1, 2);
                if (analysed) *r = altered();
                else *error = QStringLiteral("nenhum anel foi encontrado (olho fechado?).");
                return analysed;
            };
        }
        s.decide = [&, keep](QWidget*, const QString& name, const TExameLagrima& e, const lagrima::TearFilmResult& r) {
            decided << name + " " + e.olho + " " + lagrima::reportSentence(r);
            return keep;
        };
        return TearFilmExam(nullptr, patient, "ANA LIMA", s).run(TearFilmExam::Choice{0, "DR BRUNO"});
    }
    int patient = 0;
    QStringList decided;
    RecordingMessageSeam seam;
};

}  // namespace

TEST_F(TearFilm, EachOutcomeIsToldAndOnlyAKeptResultIsStored) {
    const struct {
        const char* name;
        StepOutcome recorded;
        bool analysed, keep, seams;
        const char* message;  // the message shown ("" none)
        bool decides, stores;
    } cases[] = {
        {"gravação falha", {false, "A câmera não respondeu."}, true, true, true, "A câmera não respondeu.", false, false},
        {"gravação cancelada", {false, ""}, true, true, true, "", false, false},
        {"análise recusa", {true, ""}, false, true, true, "A gravação não pôde ser analisada: nenhum anel", false, false},
        {"sem captura instalada", {true, ""}, true, true, false, "não está disponível nesta instalação", false, false},
        {"descartado", {true, ""}, true, false, true, "", true, false},
        {"gravado", {true, ""}, true, true, true, "", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        seam.messages.clear();
        decided.clear();
        const int code = road(c.recorded, c.analysed, c.keep, c.seams);
        EXPECT_EQ(seam.texts().join("|").contains(c.message) && (*c.message != 0 || seam.messages.empty()), true)
            << seam.texts().join("|").toStdString();
        EXPECT_EQ(decided.size(), c.decides ? 1 : 0);
        EXPECT_EQ(code > 0, c.stores);
        EXPECT_EQ(count("SELECT COUNT(*) FROM EXAMESLAGRIMA"), c.stores ? 1 : 0);
        // The film's temporary folder never stays behind.
        EXPECT_TRUE(QDir(dir.path()).entryList({".lagrima-*"}, QDir::AllEntries | QDir::Hidden).isEmpty());
    }
    EXPECT_EQ(decided.value(0),
              "ANA LIMA OS Tempo de ruptura não invasivo: primeira ruptura em 6,2 s, média 9,8 s (alterado).");
    const auto stored = DLagrima().SelectByPaciente(patient);
    ASSERT_EQ(stored.size(), 1);
    const auto e = DLagrima().SelectByCodigo(stored[0].codigo);
    EXPECT_EQ(e->olho, "OS");
    EXPECT_EQ(e->nomeMedico, "DR BRUNO");
    EXPECT_EQ(e->resultado, lagrima::toJson(altered()));
    EXPECT_EQ(DLagrima().SelectGravacao(e->codigo), kFilm);
}

TEST_F(TearFilm, TheResultWindowShowsTheFiguresAndEnterKeepsEscDiscards) {
    TExameLagrima e;
    e.olho = "OD";
    e.data = QDate(2026, 3, 4);
    e.hora = QTime(9, 30);
    e.nomeMedico = "DR BRUNO";
    QStringList seen;
    for (int key : {Qt::Key_Return, Qt::Key_Escape}) {
        QTimer::singleShot(0, [&, key] {
            auto* w = qobject_cast<TfrmLagrima*>(QApplication::activeModalWidget());
            ASSERT_NE(w, nullptr);
            seen.clear();
            for (const char* name : {"lblPaciente", "lblOlho", "lblData", "lblPrimeira", "lblMedia", "lblClassificacao",
                                     "lblPiscada"})
                if (auto* l = w->findChild<QLabel*>(name)) seen << l->text();
            EXPECT_NE(w->findChild<QLabel*>("imgMapaRuptura")->pixmap().cacheKey(), 0);
            if (key == Qt::Key_Escape) {
                // Giving up a new result asks; "Não" keeps the window, "Sim" discards.
                seam.answers = {MsgAnswer::No, MsgAnswer::Yes};
                QTest::keyClick(w, Qt::Key_Escape);
                EXPECT_TRUE(w->isVisible() && seam.texts().value(0).startsWith("Descartar este exame"));
            }
            QTest::keyClick(w, Qt::Key(key));
        });
        EXPECT_EQ(TfrmLagrima::decide(nullptr, "ANA LIMA", e, altered()), key == Qt::Key_Return);
        EXPECT_EQ(seen, QStringList({"ANA LIMA", "Direito (OD)", "04/03/2026 09:30:00", "Primeira ruptura: 6,2 s",
                                     "Ruptura média: 9,8 s", "Alterado (< 10 s)", "Piscada aos 11,5 s"}));
    }
}

// A recording stopped at 6 s before any break, or with too little of the cornea seen, is never
// shown as normal: the window says "Inconclusivo" and why, as the report sentence does.
TEST_F(TearFilm, TheWindowShowsNoVerdictWithoutTheDataForIt) {
    lagrima::TearFilmResult stopped = altered();
    stopped.firstS = stopped.averageS = stopped.blinkS = lagrima::TearFilmResult::kNone;
    stopped.recordedS = 6.0;
    stopped.breakS.assign(lagrima::kBands * lagrima::kGroups, lagrima::TearFilmResult::kNone);
    lagrima::TearFilmResult hidden = altered();
    hidden.firstS = 12, hidden.recordedS = 20;
    for (int i = 0; i < 17; ++i) hidden.breakS[size_t(i)] = lagrima::kNotAnalysedS;
    const struct { const char* name; lagrima::TearFilmResult r; QString reason; } cases[] = {
        {"parado aos 6 s", stopped, "Motivo: registro de 6,0 s sem ruptura (mínimo 10 s)"},
        {"setores ocultos", hidden, "Motivo: menos da metade dos setores analisados"},
    };
    for (const auto& c : cases) {
        TfrmLagrima w(TExameLagrima{}, c.r, "ANA LIMA", TfrmLagrima::Modo::Gravado);
        EXPECT_EQ(w.findChild<QLabel*>("lblClassificacao")->text(), "Inconclusivo") << c.name;
        auto* motivo = w.findChild<QLabel*>("lblMotivo");
        ASSERT_NE(motivo, nullptr) << c.name;
        EXPECT_EQ(motivo->text(), c.reason) << c.name;
        EXPECT_TRUE(w.findChild<QLabel*>("lblFrase")->text().contains(c.reason.mid(8))) << c.name;
    }
}

// The window's times are cut down as the verdict reads them: 9,97 s is "9,9 s", never "10,0 s".
TEST_F(TearFilm, TheWindowsTimesAgreeWithItsVerdict) {
    lagrima::TearFilmResult early = altered();
    early.firstS = early.averageS = early.breakS[9] = 299 / 30.0;
    lagrima::TearFilmResult stopped = altered();
    stopped.firstS = stopped.averageS = stopped.blinkS = lagrima::TearFilmResult::kNone;
    stopped.recordedS = 299 / 30.0;
    stopped.breakS.assign(lagrima::kBands * lagrima::kGroups, lagrima::TearFilmResult::kNone);
    const struct { const char* name; lagrima::TearFilmResult r; const char* figure; QString figureText; QString verdict; } cases[] = {
        {"ruptura aos 9,97 s", early, "lblPrimeira", "Primeira ruptura: 9,9 s", "Alterado (< 10 s)"},
        {"ruptura aos 9,97 s, média", early, "lblMedia", "Ruptura média: 9,9 s", "Alterado (< 10 s)"},
        {"registro de 9,97 s", stopped, "lblSemRuptura", "Sem ruptura em 9,9 s de registro", "Inconclusivo"},
        {"registro de 9,97 s, duração", stopped, "lblRegistro", "Registro: 9,9 s a 30 quadros/s", "Inconclusivo"},
    };
    for (const auto& c : cases) {
        TfrmLagrima w(TExameLagrima{}, c.r, "ANA LIMA", TfrmLagrima::Modo::Gravado);
        EXPECT_EQ(w.findChild<QLabel*>(c.figure)->text(), c.figureText) << c.name;
        EXPECT_EQ(w.findChild<QLabel*>("lblClassificacao")->text(), c.verdict) << c.name;
        EXPECT_FALSE(w.findChild<QLabel*>("lblFrase")->text().contains("10,0")) << c.name;
    }
}

TEST_F(TearFilm, TheBrowserListsOpensAndDeletesTheExam) {
    QTemporaryDir files;
    resetSharedRecords();
    setRecordText(paths().Exames, files.path() + "/Exames");
    setRecordText(paths().DirQV, files.path());
    const int code = road({true, ""}, true, true);
    ASSERT_GT(code, 0);
    QPointer<TfrmExames> browser = new TfrmExames(nullptr);
    browser->show();
    QCoreApplication::processEvents();
    browser->SelecionaPacientePorCodigo(patient, TfrmExames::kTodos);
    EXPECT_TRUE(browser->itemCaptions().isEmpty());  // the maps and reports never see it
    EXPECT_EQ(browser->tearFilmCaptions(), QStringList({"OS - " + QDate::currentDate().toString("dd/MM/yyyy") + " " +
                                                    DLagrima().SelectByCodigo(code)->hora.toString("HH:mm:ss") +
                                                    "\nNIBUT 6,2 s"}));
    auto* list = browser->findChild<QListWidget*>("lswPrincipal");
    list->setCurrentRow(0);
    EXPECT_EQ(browser->selectedTearFilmCode(), code);
    EXPECT_EQ(browser->selectedExamCode(), 0);  // never taken for a topography
    QTimer::singleShot(0, [] {
        auto* w = QApplication::activeModalWidget();
        ASSERT_TRUE(w && w->objectName() == "frmLagrima");
        EXPECT_TRUE(w->findChild<QPushButton*>("btnFechar")->isDefault());
        QTest::keyClick(w, Qt::Key_Escape);
    });
    browser->lswPrincipalDblClick();
    seam.answers = {MsgAnswer::Yes};
    browser->tbtExcluirExameClick();
    EXPECT_TRUE(browser->tearFilmCaptions().isEmpty());
    EXPECT_EQ(count("SELECT COUNT(*) FROM EXAMESLAGRIMA"), 0);
    browser->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
