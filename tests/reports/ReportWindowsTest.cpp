// The report wizard, editor and printed page offscreen on a fresh database, with a map module
// whose Visualizar fills known values (40 + index) and the real axial module for the maps page.
// The printed page is read back from PDF with pdftotext.
#include <gtest/gtest.h>
#include <cmath>
#include <QPushButton>
#include <QTest>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QTextCursor>
#include <QTimer>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QRadioButton>
#include <QTextEdit>
#include <QTreeWidget>

#include "config/SharedRecords.h"
#include "config/UBIniSettings.h"
#include "platform/ProfileFile.h"
#include "db/DbTestSupport.h"
#include "exams/UfrmExames.h"
#include "modules/ModuleTestSupport.h"
#include "platform/ui/FileDialogSeam.h"
#include "platform/ui/MessageSeam.h"
#include "records/UArquivosExame.h"
#include "records/UDLagrima.h"
#include "tearfilm/TearFilm.h"
#include "reports/UBMapOperation.h"
#include "reports/UfrmLauRelat.h"
#include "reports/UfrmLaudo.h"
#include "reports/UfrmWizLaudo.h"

using norvix::registerReportWindows;
using norvix::TfrmExames;
using norvix::TfrmLaudo;
using norvix::TfrmLauRelat;
using norvix::TfrmWizLaudo;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

using norvix::TipoMapa;

namespace {

const QDate kDay(2025, 3, 14);

norvix::TValoresMapa knownValues() {
    norvix::TValoresMapa v;
    for (int i = 0; i < 9; ++i) v[size_t(i)] = 40.0 + i;
    return v;
}

class Reports : public dbtest::DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        norvix::resetSharedRecords();
        norvix::setRecordText(norvix::paths().Exames, files.path() + "/Exames");
        norvix::setRecordText(norvix::paths().Laudos, files.path() + "/Laudos");
        norvix::setRecordText(norvix::paths().DirMapas, maps.path());
        norvix::setRecordText(norvix::infos().Nome, "Clínica Olhos do Recife");
        norvix::setRecordText(norvix::infos().Telefone, "(81) 3333-0000");
        norvix::infos().NumAneis = 32;
        doctor = insertMedico("Bruno Alves");
        patient = insertPaciente("Carla Nóbrega", 2);
        od = exam(0, "OD");
        os = exam(1, "OS");
    }
    void TearDown() override {
        if (wizard) wizard->close();
        if (browser) browser->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        DbTest::TearDown();
    }
    // cone: the inferior half steepens towards the periphery, as a keratoconus does.
    int exam(int day, const QString& eye, bool cone = false) {
        const int code = insertExame(patient, doctor, kDay.addDays(day), QTime(9, 0, 0), eye);
        QDir().mkpath(files.path() + "/Exames/" + QString::number(patient));
        struct Tables {
            TMatrizAngAnel m, d;
        };
        auto t = std::make_unique<Tables>();
        TMatrizAng meridians{};
        for (int k = 0; k < 360; ++k) {
            meridians[k] = 32;
            for (int i = 0; i <= 32; ++i) {
                t->d[k][i] = 0.3 + 0.13 * i;
                const double inferior = std::max(0.0, -std::sin(k * M_PI / 180));
                t->m[k][i] = cone ? 7.6 - 1.2 * inferior * std::min(1.0, t->d[k][i] / 2.5) : 7.8;
            }
        }
        const QString prefix = norvix::CaminhoArquivoExame(patient, code, 'd').chopped(5);
        for (auto [suffix, bytes] : {std::pair{"m.txt", norvix::TextoTabela(t->m, 32)},
                                     std::pair{"d.txt", norvix::TextoTabela(t->d, 32)},
                                     std::pair{"a.txt", norvix::TextoMeridianos(meridians, 320, 240, {1, 2, 3, 4})}}) {
            QFile f(prefix + suffix);
            EXPECT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }
        return code;
    }
    void install(const char* lib, const QString& as) { ASSERT_FALSE(maps.copy(lib, as).isEmpty()); }
    void openWizard() {
        if (!browser) {
            browser = new TfrmExames(nullptr);
            browser->show();
            QCoreApplication::processEvents();
            browser->SelecionaPaciente("Carla", "Bruno Alves");
        }
        wizard = new TfrmWizLaudo(browser, browser);
        wizard->FormShow();
    }
    QComboBox* combo(const char* name) { return wizard->findChild<QComboBox*>(name); }
    // A new report from the wizard; the editor, or null when none was shown.
    TfrmLaudo* newReport(const QString& odCaption, const QString& osCaption, bool tangential = false) {
        openWizard();
        combo("cmbOD")->setCurrentText(odCaption);
        combo("cmbOS")->setCurrentText(osCaption);
        if (tangential) wizard->findChild<QRadioButton*>("rbTangencial")->setChecked(true);
        wizard->btnOKClick();
        return wizard->editor();
    }
    QString odCaption() const { return "OD - 14/03/2025 09:00:00"; }
    QString osCaption() const { return "OS - 15/03/2025 09:00:00"; }
    QString text(TfrmLaudo* e, TfrmLaudo::Caixa c) { return e->caixa(c)->toPlainText(); }
    // Fills gap n of a box from the tree, as a double-click on the group's phrase does.
    void pick(TfrmLaudo* e, TfrmLaudo::Caixa box, int group, int phrase) {
        e->clicaCaixa(box);
        auto* tree = e->findChild<QTreeWidget*>("trwLaudo");
        ASSERT_GT(tree->topLevelItemCount(), group - 1);
        tree->setCurrentItem(tree->topLevelItem(group - 1)->child(phrase));
        e->trwLaudoDblClick();
    }
    void fillMandatory(TfrmLaudo* e, TfrmLaudo::Caixa box) {
        for (int n : {2, 4, 5, 8, 10, 11}) pick(e, box, n <= (box == TfrmLaudo::CO ? 16 : 7) ? n : 1, 0);
    }
    // The text of a PDF page by page, with pdftotext.
    static QStringList pdfPages(const QString& path) {
        QProcess p;
        p.start("pdftotext", {path, "-"});
        EXPECT_TRUE(p.waitForFinished(20000));
        return QString::fromUtf8(p.readAllStandardOutput()).split('\f', Qt::SkipEmptyParts);
    }
    QString savePdf(TfrmLaudo* e) {
        norvix::ScriptedFileDialogSeam dialog;
        const QString path = files.path() + "/laudo.pdf";
        dialog.answers.push_back(path);
        e->sbtSalvarPdfClick();
        EXPECT_EQ(dialog.requests.size(), 1u);
        if (!dialog.requests.empty()) lastProposedName = dialog.requests.front().proposedName;
        return path;
    }
    // Whether the texts appear in this order.
    static bool inOrder(const QString& text, const QStringList& parts) {
        qsizetype at = 0;
        for (const QString& p : parts) {
            at = text.indexOf(p, at);
            if (at < 0) return false;
            at += p.size();
        }
        return true;
    }

    QTemporaryDir files;
    modtest::MapsDir maps;
    modtest::Record record;
    norvix::RecordingMessageSeam seam;
    norvix::TBMapOperation loader;
    QPointer<TfrmExames> browser;
    QPointer<TfrmWizLaudo> wizard;
    int doctor = 0, patient = 0, od = 0, os = 0;
    QString lastProposedName;
};

}  // namespace

// ---- the wizard and the generated report --------------------------------------------------------

TEST_F(Reports, NewReportGeneratesTheSentencesOfBothEyes) {
    install("map_rec", "Halden.so");
    openWizard();
    EXPECT_EQ(combo("cmbOD")->count(), 2);  // the right-eye exam and "Nenhum"
    EXPECT_EQ(combo("cmbOS")->itemText(0), osCaption());
    EXPECT_FALSE(wizard->findChild<QRadioButton*>("rbLauExist")->isEnabled());  // no report yet
    wizard->close();
    TfrmLaudo* e = newReport(odCaption(), osCaption());
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(seam.messages.empty()) << seam.texts().join('|').toStdString();
    EXPECT_EQ(text(e, TfrmLaudo::CE), norvix::FrasesCondicoes().join('\n'));
    EXPECT_EQ(text(e, TfrmLaudo::OD), norvix::FraseOlho(TipoMapa::Axial, knownValues()));
    EXPECT_EQ(text(e, TfrmLaudo::OS), norvix::FraseOlho(TipoMapa::Axial, knownValues()));
    EXPECT_EQ(text(e, TfrmLaudo::CO), norvix::FraseConclusao());
    EXPECT_TRUE(text(e, TfrmLaudo::OD).contains("de 44,00 D @ 46º com meridianos de 40,00 D @ 46º e 41,00 D @ 47º."));
    EXPECT_EQ(e->codigoExame(TfrmLaudo::OD), od);
    EXPECT_EQ(e->codigoExame(TfrmLaudo::OS), os);
}

TEST_F(Reports, TangentialUsesItsOwnModuleAndTemplate) {
    install("map_rec", "Sorvik.so");  // no axial module at all
    TfrmLaudo* e = newReport(odCaption(), "Nenhum", true);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(text(e, TfrmLaudo::OD), norvix::FraseOlho(TipoMapa::Tangencial, knownValues()));
    // The left eye has no exam: its box, label and the same-report box are off; the
    // conclusion keeps all 16 gaps.
    EXPECT_FALSE(e->caixa(TfrmLaudo::OS)->isEnabled());
    EXPECT_FALSE(e->findChild<QLabel*>("lblOlhoEsquerdo")->isEnabled());
    EXPECT_FALSE(e->findChild<QCheckBox*>("chkMesmoLau")->isEnabled());
    EXPECT_EQ(text(e, TfrmLaudo::CO), norvix::FraseConclusao());
    EXPECT_EQ(e->codigoExame(TfrmLaudo::OS), -1);
}

TEST_F(Reports, FiguresNeverComeFromAnotherExamOrFromNaN) {
    install("map_rec", "Halden.so");
    TfrmLaudo* first = newReport(odCaption(), "Nenhum");
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(text(first, TfrmLaudo::OD).contains("48,00 D"));
    first->close();
    wizard->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // The module gone, the next report of the same eye has blanks, not the last figures.
    QFile::remove(maps.file("Halden.so"));
    TfrmLaudo* second = newReport(odCaption(), "Nenhum");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(text(second, TfrmLaudo::OD), norvix::FraseOlho(TipoMapa::Axial, std::nullopt));
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_TRUE(seam.messages[0].text.startsWith("Não foi possível usar o módulo de mapas para o exame OD - "));
    EXPECT_EQ(second->codigoExame(TfrmLaudo::OD), od);  // the exam still belongs to the report
    second->close();
    wizard->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // A module that answers NaN, or says it failed (its record filled all the same), is treated alike.
    size_t avisos = 1;
    for (const char* modulo : {"map_rec_nan", "map_rec_falha"}) {
        install(modulo, "Halden.so");
        TfrmLaudo* third = newReport("Nenhum", osCaption());
        ASSERT_NE(third, nullptr);
        EXPECT_EQ(text(third, TfrmLaudo::OS), norvix::FraseOlho(TipoMapa::Axial, std::nullopt)) << modulo;
        EXPECT_EQ(seam.messages.size(), ++avisos) << modulo;
        third->close();
        wizard->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST_F(Reports, EmptyChoiceAndMissingFilesStopTheReport) {
    install("map_rec", "Halden.so");
    openWizard();
    combo("cmbOD")->setCurrentIndex(-1);
    wizard->btnOKClick();
    EXPECT_EQ(wizard->editor(), nullptr);
    EXPECT_EQ(seam.messages.back().caption, "Informação");
    EXPECT_TRUE(seam.messages.back().text.startsWith("Por favor, verifique se umas das caixas está vazia."));
    // An exam whose data files are gone: the loader's message, ERROMAP03, empty boxes.
    QFile::remove(norvix::CaminhoArquivoExame(patient, os, 'm'));
    combo("cmbOD")->setCurrentText("Nenhum");
    combo("cmbOS")->setCurrentText(osCaption());
    wizard->btnOKClick();
    ASSERT_NE(wizard->editor(), nullptr);
    EXPECT_EQ(seam.texts().mid(1), QStringList({"Arquivo m.txt não encontrado!",
                                                "Não foi possível processar o mapa selecionado. ERROMAP03"}));
    EXPECT_TRUE(text(wizard->editor(), TfrmLaudo::CE).isEmpty());
}

TEST_F(Reports, TheBrowsersLaudoButtonOpensTheWizardWithThePatientsExams) {
    openWizard();
    wizard->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    registerReportWindows();
    QStringList offered;
    QTimer::singleShot(0, [&] {
        if (auto* w = qobject_cast<TfrmWizLaudo*>(QApplication::activeModalWidget())) {
            auto* od = w->findChild<QComboBox*>("cmbOD");
            for (int i = 0; i < od->count(); ++i) offered << od->itemText(i);
            w->close();
        }
    });
    browser->tbLaudoClick();
    TfrmExames::openers().laudo = nullptr;
    EXPECT_EQ(offered, QStringList({odCaption(), "Nenhum"}));
}

// ---- gaps, the tree and saving ------------------------------------------------------------------

TEST_F(Reports, TheTreeFillsGapsAndTheSameReportForBothEyes) {
    install("map_rec", "Halden.so");
    TfrmLaudo* e = newReport(odCaption(), osCaption());
    ASSERT_NE(e, nullptr);
    e->clicaCaixa(TfrmLaudo::OD);
    auto* tree = e->findChild<QTreeWidget*>("trwLaudo");
    EXPECT_EQ(tree->topLevelItemCount(), 7);
    EXPECT_EQ(e->findChild<QLabel*>("lblCaixaSelec")->text(), "Textos para o Olho Direito");
    EXPECT_EQ(tree->topLevelItem(0)->child(0)->text(0), "regular");
    e->findChild<QCheckBox*>("chkMesmoLau")->setChecked(true);
    pick(e, TfrmLaudo::OD, 3, 1);
    EXPECT_TRUE(text(e, TfrmLaudo::OD).startsWith("Astigmatismo #1# #2# e #3-contra a regra# #4#,"));
    EXPECT_TRUE(text(e, TfrmLaudo::OS).startsWith("Astigmatismo #1# #2# e #3-contra a regra# #4#,"));
    // In the conclusion only the conclusion changes.
    pick(e, TfrmLaudo::CO, 3, 0);
    EXPECT_TRUE(text(e, TfrmLaudo::CO).contains("#3-a favor da regra#"));
    EXPECT_FALSE(text(e, TfrmLaudo::OD).contains("a favor"));
    // "Em Branco" empties a filled gap.
    pick(e, TfrmLaudo::CE, 1, 0);
    EXPECT_TRUE(text(e, TfrmLaudo::CE).endsWith("#1-gelatinosas# #2# #3#"));
    EXPECT_EQ(tree->topLevelItem(0)->child(3)->text(0), "\"Em Branco\"");
    pick(e, TfrmLaudo::CE, 1, 3);
    EXPECT_TRUE(text(e, TfrmLaudo::CE).endsWith("contato #1# #2# #3#"));
    // By keyboard: Shift+Tab from a box to its texts, Enter on one fills its gap, Tab goes back.
    e->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(e));
    e->caixa(TfrmLaudo::OD)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(e->caixa(TfrmLaudo::OD), Qt::Key_Backtab);
    ASSERT_EQ(QApplication::focusWidget(), tree);
    for (Qt::Key k : {Qt::Key_Home, Qt::Key_Right, Qt::Key_Right, Qt::Key_Return, Qt::Key_Tab}) QTest::keyClick(tree, k);
    EXPECT_TRUE(text(e, TfrmLaudo::OD).startsWith("Astigmatismo #1-regular# #2#"));
    EXPECT_EQ(QApplication::focusWidget(), e->caixa(TfrmLaudo::OD));
}

TEST_F(Reports, GapsAreColouredUpToTheEighteenth) {
    install("map_rec", "Halden.so");
    TfrmLaudo* e = newReport(odCaption(), osCaption());
    ASSERT_NE(e, nullptr);
    QTextEdit* co = e->caixa(TfrmLaudo::CO);
    co->setPlainText(co->toPlainText() + " #17# #18# #19#");
    e->clicaCaixa(TfrmLaudo::CO);
    auto* tree = e->findChild<QTreeWidget*>("trwLaudo");
    tree->setCurrentItem(tree->topLevelItem(1));  // gap 2 selected
    auto colourAt = [&](const QString& mark) {
        QTextCursor c(co->document());
        c.setPosition(int(co->toPlainText().indexOf(mark)) + 1);
        return c.charFormat().foreground().color();
    };
    EXPECT_EQ(colourAt("#2#"), QColor(255, 0, 0));
    EXPECT_EQ(colourAt("#1#"), QColor(0, 0, 255));
    EXPECT_EQ(colourAt("#18#"), QColor(0, 0, 255));
    EXPECT_NE(colourAt("#19#"), QColor(0, 0, 255));
    EXPECT_EQ(co->palette().color(QPalette::Base), QColor(255, 255, 230));
}

TEST_F(Reports, SavingAsksForMandatoryGapsThenStoresRowAndFile) {
    install("map_rec", "Halden.so");
    TfrmLaudo* e = newReport(odCaption(), osCaption());
    ASSERT_NE(e, nullptr);
    for (int n : {2, 4, 5}) pick(e, TfrmLaudo::OD, n, 0);
    for (int n : {4, 5}) pick(e, TfrmLaudo::OS, n, 0);
    for (int n : {2, 4, 5, 8, 10, 11}) pick(e, TfrmLaudo::CO, n, 0);
    e->caixa(TfrmLaudo::CM)->setPlainText("texto #12# do operador #");
    seam.messages.clear();
    seam.answers = {norvix::MsgAnswer::Yes};
    e->sbtSalvarClick();
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text, "Algumas caixas obrigatórias estão sem preencher. Deseja alterá-las?\n\r"
                                     "Caixa Olho Esquerdo: 2 ");
    EXPECT_EQ(count("SELECT COUNT(*) FROM Laudos"), 0);
    EXPECT_TRUE(e->emEdicao());

    seam.answers = {norvix::MsgAnswer::No};
    e->sbtSalvarClick();
    EXPECT_EQ(seam.messages.back().text, "Laudo gravado com sucesso.");
    ASSERT_GT(e->codigoLaudo(), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Laudos WHERE MedidaOD = :OD AND MedidaOS = :OS",
                    {{"OD", od}, {"OS", os}}),
              1);
    QFile f(norvix::CaminhoLaudo(QString::number(patient), QString::number(e->codigoLaudo())));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    std::array<QString, 5> boxes;
    for (int i = 0; i < 5; ++i) boxes[size_t(i)] = text(e, TfrmLaudo::Caixa(i));
    const QByteArray stored = f.readAll();
    EXPECT_EQ(stored, norvix::TextoLaudo(boxes));
    EXPECT_FALSE(stored.contains("#2#"));
    EXPECT_TRUE(stored.endsWith("texto  do operador #\r\n*"));
    // Read only afterwards; the page can still be printed.
    EXPECT_FALSE(e->emEdicao());
    EXPECT_FALSE(e->caixa(TfrmLaudo::OD)->isEnabled());
    EXPECT_FALSE(e->findChild<QTreeWidget*>("trwLaudo")->isEnabled());
}

// A clinic with a PACS: "Enviar ao PACS" waits for the saved report, and with automatic sending
// on, saving queues both eyes' visits (these exams have no images, so each refusal is said and
// the report stays saved). Without a PACS the button is not there.
TEST_F(Reports, ASavedReportGoesToThePacsWithItsExams) {
    install("map_rec", "Halden.so");
    const QString root = files.path() + "/pacs";
    qputenv("NORVIX_ROOT", QFile::encodeName(root));
    QDir().mkpath(root + "/OrventDuo");
    norvix::ProfileFile ini(root + "/OrventDuo/Orvent.ini");
    norvix::TBIniSettings settings;
    const struct { const char* ae; bool shown; } cases[] = {{"", false}, {"ORTHANC", true}};
    for (const auto& c : cases) {
        ASSERT_TRUE(ini.writeString("DICOM", "PACS_HOST", "127.0.0.1") && ini.writeString("DICOM", "PACS_PORTA", "9") &&
                    ini.writeString("DICOM", "PACS_AETITLE", c.ae) &&
                    ini.writeString("DICOM", "ENVIO_AUTOMATICO", "1") && settings.LoadAll(3));
        browser = new TfrmExames(&settings);
        browser->show();
        browser->SelecionaPaciente("Carla", "Bruno Alves");
        TfrmLaudo* e = newReport(odCaption(), osCaption());
        ASSERT_NE(e, nullptr);
        auto* enviar = e->findChild<QPushButton*>("sbtEnviarPacs");
        EXPECT_EQ(enviar->isVisibleTo(e), c.shown) << c.ae;
        EXPECT_FALSE(enviar->isEnabled());
        fillMandatory(e, TfrmLaudo::OD);
        fillMandatory(e, TfrmLaudo::OS);
        fillMandatory(e, TfrmLaudo::CO);
        seam.messages.clear();
        e->sbtSalvarClick();
        EXPECT_EQ(seam.texts().value(0), "Laudo gravado com sucesso.");
        const QString refusal = seam.texts().value(1);
        EXPECT_EQ(c.shown, refusal.contains("Exame " + QString::number(od)) && refusal.contains("Exame " + QString::number(os)))
            << refusal.toStdString();
        EXPECT_TRUE(enviar->isEnabled() && e->codigoLaudo() > 0);
        wizard->close();
        browser->close();  // before its settings go
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    qunsetenv("NORVIX_ROOT");
}

// A keratoconus eye is not reported as astigmatism alone: its box gets the indices and the
// screening, the conclusion names it; the other eye keeps the generated sentence as it is.
TEST_F(Reports, AKeratoconusEyeGetsItsIndicesAndTheConclusionNamesIt) {
    ASSERT_TRUE(QFile::copy(qEnvironmentVariable("NORVIX_BIN_DIR") + "/Halden.so", maps.file("Halden.so")));
    exam(2, "OD", true);
    TfrmLaudo* e = newReport("OD - 16/03/2025 09:00:00", osCaption());
    ASSERT_NE(e, nullptr);
    const QStringList od = text(e, TfrmLaudo::OD).split('\n');
    ASSERT_EQ(od.size(), 2) << od.join(" | ").toStdString();
    EXPECT_TRUE(od[0].startsWith("Astigmatismo #1#"));
    EXPECT_TRUE(od[1].startsWith("Índices de ceratocone do mapa axial: I-S ")) << od[1].toStdString();
    EXPECT_TRUE(od[1].endsWith(". Triagem: Compatível com ceratocone.")) << od[1].toStdString();
    EXPECT_FALSE(text(e, TfrmLaudo::OS).contains('\n'));
    EXPECT_EQ(text(e, TfrmLaudo::CO), norvix::FraseConclusao() + "\nTriagem de ceratocone: compatível com ceratocone em OD.");
}

// Fechar, Esc and the close box with a filled gap: the save is offered; Cancel goes back to
// the report, No drops it, Yes saves it (the mandatory gaps question answered "save anyway").
TEST_F(Reports, ClosingWithUnsavedEditsOffersTheSave) {
    install("map_rec", "Halden.so");
    using norvix::MsgAnswer;
    struct Caso {
        const char* via;
        MsgAnswer resposta;
        bool fecha;
        int gravados;
    };
    for (const Caso& c : {Caso{"Fechar", MsgAnswer::Cancel, false, 0}, Caso{"Esc", MsgAnswer::Cancel, false, 0},
                          Caso{"janela", MsgAnswer::No, true, 0}, Caso{"Esc", MsgAnswer::Yes, true, 1},
                          Caso{"Fechar", MsgAnswer::Yes, true, 1}}) {
        TfrmLaudo* e = newReport(odCaption(), "Nenhum");
        ASSERT_NE(e, nullptr);
        pick(e, TfrmLaudo::OD, 1, 0);
        const int antes = count("SELECT COUNT(*) FROM Laudos");
        seam.messages.clear();
        seam.answers = {c.resposta, MsgAnswer::No, MsgAnswer::Ok};
        if (QString(c.via) == "Fechar") e->findChild<QPushButton*>("sbtFechar")->click();
        else if (QString(c.via) == "Esc") QTest::keyClick(e, Qt::Key_Escape);
        else e->close();
        ASSERT_FALSE(seam.messages.empty()) << c.via;
        EXPECT_EQ(seam.messages[0].text, "Deseja salvar o laudo?") << c.via;
        EXPECT_EQ(e->isVisible(), !c.fecha) << c.via;
        EXPECT_EQ(count("SELECT COUNT(*) FROM Laudos") - antes, c.gravados) << c.via;
        seam.answers = {MsgAnswer::No};
        e->close();
        wizard->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    // A report as generated, untouched, closes without a question.
    TfrmLaudo* e = newReport(odCaption(), "Nenhum");
    ASSERT_NE(e, nullptr);
    seam.messages.clear();
    e->findChild<QPushButton*>("sbtFechar")->click();
    EXPECT_TRUE(seam.messages.empty());
    EXPECT_FALSE(e->isVisible());
}

// ---- opening and deleting -----------------------------------------------------------------------

TEST_F(Reports, OpenAndDeleteStoredReports) {
    install("map_rec", "Halden.so");
    std::array<int, 2> codes{};
    for (int& code : codes) {
        TfrmLaudo* e = newReport(odCaption(), osCaption());
        ASSERT_NE(e, nullptr);
        seam.answers = {norvix::MsgAnswer::No};
        e->sbtSalvarClick();
        code = e->codigoLaudo();
        e->close();
        wizard->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    openWizard();
    QComboBox* open = combo("cmbEscLaudo");
    ASSERT_EQ(open->count(), 2);
    EXPECT_TRUE(open->itemText(1).startsWith(QString("Laudo %1 - ").arg(codes[1])));
    EXPECT_EQ(TfrmWizLaudo::CodigoDoTexto(open->itemText(1)), codes[1]);

    // Opened read-only, as plain text without gaps.
    wizard->escolhe(1);
    open->setCurrentIndex(0);
    seam.messages.clear();
    wizard->btnOKClick();
    TfrmLaudo* e = wizard->editor();
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(seam.messages.empty());
    EXPECT_FALSE(text(e, TfrmLaudo::CO).contains('#'));
    EXPECT_TRUE(text(e, TfrmLaudo::CO).startsWith(" Videoceratografia compatível com astigmatismo"));
    EXPECT_FALSE(e->emEdicao());
    EXPECT_EQ(e->linhaExame(TfrmLaudo::OD), odCaption());
    QTest::keyClick(e, Qt::Key_Escape);  // the wizard goes with the editor, as with "Fechar"
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(wizard.isNull());

    // Deleting the second report removes the second entry of both lists and its file.
    openWizard();
    wizard->escolhe(2);
    combo("cmbExcLaudo")->setCurrentIndex(1);
    const QString entry = combo("cmbExcLaudo")->currentText();
    seam.answers = {norvix::MsgAnswer::Yes};
    QPointer<TfrmWizLaudo> w = wizard;
    w->btnOKClick();
    EXPECT_EQ(seam.messages.back().text, entry + " excluído com sucesso.");
    EXPECT_EQ(count("SELECT COUNT(*) FROM Laudos"), 1);
    EXPECT_FALSE(QFile::exists(norvix::CaminhoLaudo(QString::number(patient), QString::number(codes[1]))));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(w.isNull());  // the wizard closes after a deletion

    // A report whose right-eye exam was deleted opens with the notice; one whose file is gone,
    // or empty, does not open.
    dm->execProcedure("DELETE FROM Exames WHERE Codigo = :C", {{"C", od}});
    openWizard();
    wizard->escolhe(1);
    combo("cmbEscLaudo")->setCurrentIndex(0);
    wizard->btnOKClick();
    EXPECT_EQ(seam.messages.back().text, "Este laudo possui dados de exames já excluídos!");
    ASSERT_NE(wizard->editor(), nullptr);
    EXPECT_TRUE(wizard->editor()->linhaExame(TfrmLaudo::OD).isEmpty());
    wizard->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const QString file = norvix::CaminhoLaudo(QString::number(patient), QString::number(codes[0]));
    {  // written as UTF-8 by another program: the accents still read right
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QString("a\r\n@\r\nb\r\n@\r\nc\r\n@\r\nConclusão sem lesões\r\n@\r\n\r\n*").toUtf8());
    }
    openWizard();
    wizard->escolhe(1);
    combo("cmbEscLaudo")->setCurrentIndex(0);
    wizard->btnOKClick();
    ASSERT_NE(wizard->editor(), nullptr);
    EXPECT_EQ(text(wizard->editor(), TfrmLaudo::CO), " Conclusão sem lesões");
    wizard->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (const QByteArray& content :
         {QByteArray(), QByteArray("sem marcas de fim"), QByteArray("sem # par\r\n@\r\n@\r\n@\r\n@\r\n*")}) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
        f.close();
        openWizard();
        wizard->escolhe(1);
        combo("cmbEscLaudo")->setCurrentIndex(0);
        const size_t before = seam.messages.size();
        wizard->btnOKClick();
        if (content.contains('@')) {  // an unbalanced "#" is shown as it stands
            ASSERT_NE(wizard->editor(), nullptr);
            EXPECT_EQ(text(wizard->editor(), TfrmLaudo::CE), " sem # par");
        } else {  // empty or incomplete: said so, and no editor
            EXPECT_EQ(wizard->editor(), nullptr);
            ASSERT_GT(seam.messages.size(), before);
            EXPECT_TRUE(seam.messages.back().text.startsWith("Arquivo de laudo ")) << seam.messages.back().text.toStdString();
        }
        wizard->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QFile::remove(file);
    openWizard();
    wizard->escolhe(1);
    combo("cmbEscLaudo")->setCurrentIndex(0);
    wizard->btnOKClick();
    EXPECT_EQ(seam.messages.back().text, "Arquivo de laudo não encontrado.");
    EXPECT_EQ(wizard->editor(), nullptr);
}

TEST_F(Reports, ReportsOfOtherDoctorsAreNotOffered) {
    const int other = insertMedico("Dora Lima");
    dm->execProcedure("INSERT INTO Laudos (Codigo, CodPaciente, MedidaOD, MedidaOS, Backup) VALUES (900, :P, :E, -1, '')",
                      {{"P", patient}, {"E", insertExame(patient, other, kDay, QTime(8, 0, 0), "OD")}});
    openWizard();
    EXPECT_EQ(combo("cmbEscLaudo")->count(), 0);
    EXPECT_FALSE(wizard->findChild<QRadioButton*>("rbLauExist")->isEnabled());
    EXPECT_FALSE(wizard->findChild<QRadioButton*>("rbExcLaudo")->isEnabled());
}

// ---- the printed page ---------------------------------------------------------------------------

TEST_F(Reports, PrintedPageAsPdfHasTheTextsInOrder) {
    install("map_rec", "Halden.so");
    TfrmLaudo* e = newReport("Nenhum", osCaption());
    ASSERT_NE(e, nullptr);
    pick(e, TfrmLaudo::OS, 1, 1);
    const QString path = savePdf(e);
    EXPECT_TRUE(lastProposedName.startsWith("Carla Nóbrega "));
    EXPECT_TRUE(lastProposedName.endsWith(".pdf"));
    EXPECT_TRUE(seam.messages.back().text.startsWith("Laudo gravado em PDF: "));
    const QStringList pages = pdfPages(path);
    ASSERT_EQ(pages.size(), 1);
    const QString page = pages[0];
    EXPECT_TRUE(inOrder(page, {"Clínica Olhos do Recife", "(81) 3333-0000", "Carla Nóbrega", "Responsável:",
                               "Data/Hora Emissão:", "Exame(s):", "Nenhum", "OS - 15/03/2025",
                               "Mapa Tipo Axial", "Laudo", "Condições do Exame", "Exames realizado em excelentes",
                               "Olho Direito", "Olho Esquerdo", "Astigmatismo irregular", "Conclusão",
                               "Videoceratografia", "Atenciosamente", "Bruno Alves"}))
        << page.toStdString();
    EXPECT_FALSE(page.contains("Comentários"));  // empty comments print no heading
    EXPECT_FALSE(page.contains('#'));
    // The open gaps leave no debris on the page (the conclusion is all open gaps).
    EXPECT_TRUE(page.simplified().contains("compatível com astigmatismo, em OD e compatível com astigmatismo, em OS."))
        << page.toStdString();
    EXPECT_FALSE(page.contains(QRegularExpression(" [,.]| e,"))) << page.toStdString();
}

TEST_F(Reports, TheEyesLatestTearFilmSentenceIsOfferedAndPrinted) {
    install("map_rec", "Halden.so");
    auto film = [&](const QString& eye, int day, double first) {
        norvix::lagrima::TearFilmResult r;
        r.firstS = first, r.averageS = first + 3.6, r.recordedS = 15, r.fps = 30;
        r.breakS.assign(norvix::lagrima::kBands * norvix::lagrima::kGroups, r.kNone);
        norvix::DLagrima().Grava({patient, doctor, kDay.addDays(day), QTime(10, 0), eye}, r, "filme");
    };
    film("OS", 0, 12.0);
    film("OS", 1, 6.2);  // the newest of the eye is the one reported
    film("OD", 2, 4.0);  // the right eye is not in this report
    openWizard();
    EXPECT_EQ(combo("cmbOS")->count(), 2);  // the topography and "Nenhum": a tear film is no map exam
    wizard->close();
    TfrmLaudo* e = newReport("Nenhum", osCaption());
    ASSERT_NE(e, nullptr);
    const QString sentence = "Filme lacrimal (15/03/2025): Tempo de ruptura não invasivo: primeira ruptura em 6,2 s, "
                             "média 9,8 s (alterado).";
    EXPECT_EQ(text(e, TfrmLaudo::OS).split('\n').last(), sentence);
    EXPECT_FALSE(text(e, TfrmLaudo::OD).contains("Filme lacrimal"));
    const QString page = pdfPages(savePdf(e)).join(' ').simplified();
    EXPECT_TRUE(page.contains("primeira ruptura em 6,2 s, média 9,8 s (alterado).")) << page.toStdString();
}

TEST_F(Reports, ALongConclusionShrinksThenContinuesOnASecondPage) {
    install("map_rec", "Halden.so");
    TfrmLaudo* e = newReport(odCaption(), osCaption());
    ASSERT_NE(e, nullptr);
    QStringList words;
    for (int i = 1; i <= 400; ++i) words << QString("palavra%1").arg(i);
    e->caixa(TfrmLaudo::CO)->setPlainText(words.join(' '));
    e->caixa(TfrmLaudo::CM)->setPlainText("Comentário curto.");
    const QStringList pages = pdfPages(savePdf(e));
    ASSERT_EQ(pages.size(), 2);
    EXPECT_TRUE(inOrder(pages[0], {"Conclusão (continua na página 2)", "palavra1 ", "Comentários",
                                   "Comentário curto.", "Atenciosamente"}))
        << pages[0].toStdString();
    EXPECT_FALSE(pages[0].contains("palavra400"));
    EXPECT_TRUE(inOrder(pages[1], {"Carla Nóbrega", "Bruno Alves", "Laudo (continuação)", "Conclusão (continuação)",
                                   "palavra400"}))
        << pages[1].toStdString();
    // Every word is printed exactly once, in order.
    const QString all = (pages[0] + pages[1]).simplified();
    EXPECT_TRUE(inOrder(all, words.mid(0, 5) + words.mid(395)));
    for (int i : {1, 250, 400}) EXPECT_EQ(all.count(QRegularExpression(QString("\\bpalavra%1\\b").arg(i))), 1);

    // A conclusion without a single blank is not cut either: it goes on to the next page.
    const QString unbroken = QString("abcdefghij").repeated(800) + "FIM";
    e->caixa(TfrmLaudo::CO)->setPlainText(unbroken);
    const QStringList more = pdfPages(savePdf(e));
    ASSERT_GE(more.size(), 2);
    QString printed;
    const QRegularExpression piece("^[a-j]+(FIM)?$");
    for (const QString& page : more)
        for (const QString& line : page.split('\n'))
            if (piece.match(line.trimmed()).hasMatch()) printed += line.trimmed();
    EXPECT_TRUE(printed == unbroken) << printed.size() << " of " << unbroken.size() << " characters printed";
    e->caixa(TfrmLaudo::CO)->setPlainText(words.join(' '));

    // The preview shows the same two pages.
    int previewPages = 0;
    TfrmLaudo::previewHook() = [&](QPrintPreviewDialog& d) {
        auto* w = d.findChild<QPrintPreviewWidget*>();
        ASSERT_NE(w, nullptr);
        w->updatePreview();
        previewPages = w->pageCount();
    };
    e->sbtVisualizarImprClick();
    TfrmLaudo::previewHook() = nullptr;
    EXPECT_EQ(previewPages, 2);
}

TEST_F(Reports, MapsPageWithTheRealAxialModule) {
    ASSERT_TRUE(QFile::copy(qEnvironmentVariable("NORVIX_BIN_DIR") + "/Halden.so", maps.file("Halden.so")));
    TfrmLaudo* e = newReport(odCaption(), osCaption());
    ASSERT_NE(e, nullptr);
    seam.answers = {norvix::MsgAnswer::No};
    e->sbtSalvarClick();
    e->findChild<QCheckBox*>("chkIncluirMapas")->setChecked(true);
    const QStringList pages = pdfPages(savePdf(e));
    ASSERT_EQ(pages.size(), 2);
    EXPECT_TRUE(inOrder(pages[1], {"Mapas Axiais", odCaption(), osCaption()})) << pages[1].toStdString();
    EXPECT_EQ(pages[1].count("Ceratometria simulada: K1 "), 2) << pages[1].toStdString();
    // A saved report prints its stored date, and its doctor through the exam.
    EXPECT_TRUE(pages[0].contains(QDate::currentDate().toString("dd/MM/yyyy")));
}

TEST_F(Reports, PrinterAndPdfFailuresAreReportedAndTheReportKept) {
    install("map_rec", "Halden.so");
    TfrmLaudo* e = newReport(odCaption(), osCaption());
    ASSERT_NE(e, nullptr);
    TfrmLaudo::impressoraHook() = [](QPrinter& p) {
        p.setOutputFormat(QPrinter::PdfFormat);
        p.setOutputFileName("/nao/existe/impressora.pdf");
    };
    e->sbtImprimirClick();
    TfrmLaudo::impressoraHook() = nullptr;
    EXPECT_EQ(seam.messages.back().caption, "Erro");
    EXPECT_TRUE(seam.messages.back().text.startsWith("Não foi possível imprimir o laudo."));
    EXPECT_TRUE(e->emEdicao());

    norvix::ScriptedFileDialogSeam dialog;
    dialog.answers.push_back(files.path() + "/nao-existe/laudo");
    e->sbtSalvarPdfClick();
    EXPECT_TRUE(seam.messages.back().text.startsWith("Não foi possível gravar o arquivo PDF "));
    EXPECT_FALSE(QFile::exists(files.path() + "/nao-existe/laudo.pdf"));
    // Cancelled: nothing happens.
    const size_t before = seam.messages.size();
    e->sbtSalvarPdfClick();
    EXPECT_EQ(seam.messages.size(), before);
}

TEST(Logo, OnlyASensibleBitmapIsUsed) {
    QTemporaryDir dir;
    QString problem;
    EXPECT_TRUE(TfrmLauRelat::CarregaLogo(dir.filePath("LogoClinica.bmp"), &problem).isNull());
    EXPECT_TRUE(problem.isEmpty());  // no file: no logo, nothing to say

    QImage small(20, 10, QImage::Format_RGB32);
    small.fill(Qt::red);
    ASSERT_TRUE(small.save(dir.filePath("ok.bmp"), "BMP"));
    EXPECT_EQ(TfrmLauRelat::CarregaLogo(dir.filePath("ok.bmp"), &problem).size(), QSize(20, 10));
    ASSERT_TRUE(small.save(dir.filePath("png.bmp"), "PNG"));  // a PNG under a bitmap's name
    EXPECT_TRUE(TfrmLauRelat::CarregaLogo(dir.filePath("png.bmp"), &problem).isNull());
    EXPECT_TRUE(problem.contains("não é um bitmap"));

    // The header of a 10,000 × 10,000 bitmap: refused before anything is decoded.
    QByteArray bmp(54, '\0');
    auto put32 = [&](int at, quint32 v) { for (int i = 0; i < 4; ++i) bmp[at + i] = char((v >> (8 * i)) & 0xff); };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, 54 + 300000000u);
    put32(10, 54);
    put32(14, 40);
    put32(18, 10000);
    put32(22, 10000);
    bmp[26] = 1;
    bmp[28] = 24;
    QFile f(dir.filePath("big.bmp"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bmp);
    f.close();
    EXPECT_TRUE(TfrmLauRelat::CarregaLogo(dir.filePath("big.bmp"), &problem).isNull());
    EXPECT_TRUE(problem.contains("grande demais"));
}
