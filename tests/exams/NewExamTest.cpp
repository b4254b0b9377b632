// The new-exam window's step machine: one eye through its four steps with the step display,
// two eyes interleaved, the blue labels, the layouts, closing, the opener, the bad input of
// the modules, and the orthokeratology kind.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <QToolButton>

#include "NewExamSupport.h"
#include "config/SharedRecords.h"
#include "records/UArquivosExame.h"
#include "records/UDExames.h"
#include "records/UDMedicos.h"

using norvix::registerNewExamWindow;
using norvix::TfrmExames;
using norvix::TfrmNovoExame;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using newexam::NewExam;
constexpr int R = TfrmNovoExame::kDireito;
constexpr int L = TfrmNovoExame::kEsquerdo;
using Tipo = TfrmNovoExame::Tipo;
using norvix::setRecordText;

QStringList fields(const QString& recordLine) { return recordLine.split('|'); }

TEST_F(NewExam, OneEyeWalksItsStepsWithTheStepDisplay) {
    open();
    auto* executar = window->findChild<QPushButton*>("sbtExecutarD");
    auto* fechar = window->findChild<QPushButton*>("sbtFechar");
    auto* combo = window->findChild<QComboBox*>("ComboMedicos");
    EXPECT_EQ(window->passo(R), 1);
    EXPECT_EQ(window->passo(L), 1);
    EXPECT_TRUE(isBlue(R, 1));
    EXPECT_FALSE(isBlue(R, 2));
    EXPECT_TRUE(window->findChild<QLabel*>("ImgSetaD")->isVisible());
    EXPECT_FALSE(window->findChild<QLabel*>("ImgStep1D")->isVisible());
    EXPECT_EQ(QStringList({combo->itemText(0), combo->itemText(1)}), QStringList({"", "Bruno Alves"}));
    EXPECT_EQ(window->imagemOlho(R).pixel(320, 240), qRgb(0, 0, 0));

    run(R);  // no doctor chosen
    EXPECT_EQ(seam.texts(), QStringList{"Selecione um médico responsável pelo exame."});
    EXPECT_EQ(window->passo(R), 1);
    EXPECT_TRUE(recorded("Digitalizar").isEmpty());

    chooseDoctor();
    run(R);
    const QStringList capture = fields(recorded("Digitalizar").value(0));
    EXPECT_EQ(capture.mid(3, 3), QStringList({"mode=1", "caption=Digitalizando Imagem do Olho", "size=0"}));
    EXPECT_EQ(window->passo(R), 2);
    EXPECT_EQ(fechar->text(), "Cancelar");
    EXPECT_FALSE(combo->isEnabled());
    EXPECT_NE(window->imagemOlho(R).pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_TRUE(isBlue(R, 1) && isBlue(R, 2) && !isBlue(R, 3));
    EXPECT_TRUE(window->findChild<QLabel*>("ImgStep1D")->isVisible());

    run(R);  // the pupil record is zeroed before the module fills it
    EXPECT_EQ(fields(recorded("ProcessaImagem").value(0)).value(4), "pupil=0,0,0,0");
    ASSERT_NE(window->medida(R), nullptr);
    EXPECT_EQ(window->medida(R)->indConf, 91);  // marker 11: the right eye's image
    EXPECT_EQ(window->passo(R), 3);
    EXPECT_FALSE(window->expandido());

    run(R);
    const QString header = fields(recorded("ProcessaMapa").value(0)).value(10);
    const QString today = norvix::Relogio().Agora().toString("dd/MM/yyyy");
    EXPECT_TRUE(header.startsWith(QString("header=Carla Sant'Anna;%1;123456 ;Olho Direito;%2;")
                                      .arg(patient, 4, 10, QChar('0'))
                                      .arg(today)))
        << header.toStdString();
    EXPECT_TRUE(header.endsWith(";Bruno Alves;0;91;/dados/Banco de Dados;91;/dados/Banco de Dados"));
    EXPECT_EQ(window->passo(R), 4);
    EXPECT_TRUE(window->expandido());
    EXPECT_TRUE(window->findChild<QPlainTextEdit*>("Memo3")->isVisible());

    window->findChild<QPlainTextEdit*>("Memo3")->setPlainText(QString(300, QChar(u'ç')));
    run(R);
    EXPECT_EQ(seam.texts().last(), "Exame gravado com sucesso");
    EXPECT_EQ(window->passo(R), 5);
    for (int tag = 1; tag <= 4; ++tag) EXPECT_FALSE(isBlue(R, tag));
    EXPECT_FALSE(window->findChild<QLabel*>("ImgSetaD")->isVisible());
    EXPECT_TRUE(window->findChild<QLabel*>("ImgStep4D")->isVisible());
    EXPECT_FALSE(executar->isEnabled());
    EXPECT_FALSE(window->expandido());  // the other eye is idle
    EXPECT_EQ(fechar->text(), "&Fechar");
    EXPECT_EQ(dm->selectString("SELECT Diag FROM Exames", {}, "Diag", norvix::TDMPrincipal::Close::Yes),
              QString(240, QChar(u'ç')));
    EXPECT_TRUE(window->findChild<QPushButton*>("sbtExecutarS")->isEnabled());
}

TEST_F(NewExam, TwoEyesInterleavedKeepTheirOwnMeasures) {
    open();
    chooseDoctor();
    run(R);
    run(L);
    run(R);
    run(L);
    EXPECT_EQ(window->medida(R)->indConf, 91);
    EXPECT_EQ(window->medida(L)->indConf, 90);
    EXPECT_EQ(window->medida(R)->pupila[0], 11);
    EXPECT_EQ(window->medida(L)->pupila[0], 10);
    run(L);
    EXPECT_TRUE(window->expandido());
    run(R);
    run(R);  // the right eye is stored while the left one waits at step 4
    EXPECT_TRUE(window->expandido());
    EXPECT_EQ(window->findChild<QPushButton*>("sbtFechar")->text(), "Cancelar");
    run(L);
    EXPECT_FALSE(window->expandido());
    EXPECT_EQ(window->passo(R), 5);
    EXPECT_EQ(window->passo(L), 5);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames WHERE Olho = 'OD' AND IndConf = 91"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames WHERE Olho = 'OS' AND IndConf = 90"), 1);
    EXPECT_EQ(totalExames(), 2);
}

TEST_F(NewExam, BlueLabelsRunTheirStepAgainRedOnesDoNothing) {
    open();
    chooseDoctor();
    run(R, 2);
    window->lblDigitDClick(4);  // red
    EXPECT_EQ(recorded("ProcessaMapa").size(), 0);
    EXPECT_EQ(window->passo(R), 3);
    window->lblDigitDClick(1);  // blue: captures again and leaves the eye at step 2
    EXPECT_EQ(recorded("Digitalizar").size(), 2);
    EXPECT_EQ(window->passo(R), 2);
    // Clicking the label on screen does the same.
    QTest::mouseClick(label(R, 2), Qt::LeftButton);
    EXPECT_EQ(recorded("ProcessaImagem").size(), 2);
    EXPECT_EQ(window->passo(R), 3);
    // Run again and failing (the map module gone), a step leaves the eye where it was.
    run(R);
    QFile::rename(maps.file("Halden.so"), maps.file("Halden.so.fora"));
    window->lblDigitDClick(3);
    EXPECT_EQ(window->passo(R), 4);
    QFile::rename(maps.file("Halden.so.fora"), maps.file("Halden.so"));
    run(R);
    window->lblDigitDClick(1);  // stored: no label reacts
    EXPECT_EQ(recorded("Digitalizar").size(), 2);
    EXPECT_EQ(window->passo(R), 5);
}

TEST_F(NewExam, LayoutsAndTheHintFollowTheirRules) {
    open();
    auto* bevel2 = window->findChild<QWidget*>("Bevel2");
    auto* fechar = window->findChild<QWidget*>("sbtFechar");
    auto* visMapa = window->findChild<QWidget*>("lblVisMapa");
    auto* axial = window->findChild<QWidget*>("rbtAxial");
    auto top = [&](QWidget* w) { return w->mapTo(window, QPoint(0, 0)).y(); };
    EXPECT_EQ(window->height(), 320);
    EXPECT_EQ(top(bevel2), 250);
    EXPECT_EQ(window->findChild<QWidget*>("Bevel1")->height(), 161);
    EXPECT_EQ(top(fechar), 263);
    EXPECT_EQ(top(visMapa), 267);
    EXPECT_EQ(top(axial), 266);
    window->AumentaForm();
    EXPECT_EQ(window->height(), 582);
    EXPECT_EQ(top(bevel2), 508);
    EXPECT_EQ(window->findChild<QWidget*>("Bevel1")->height(), 430);
    EXPECT_EQ(top(fechar), 521);
    EXPECT_TRUE(window->findChild<QWidget*>("Memo2")->isVisible());
    window->DiminuiForm();
    EXPECT_FALSE(window->findChild<QWidget*>("Memo2")->isVisible());

    auto* icon = window->findChild<QLabel*>("Image4");
    auto* hint = window->findChild<QLabel*>("lblMens3");
    auto move = [&](QPoint p) {
        QMouseEvent e(QEvent::MouseMove, p, icon->mapToGlobal(p), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(icon, &e);
    };
    move({6, 29});
    EXPECT_TRUE(hint->isVisible());
    move({23, 10});
    EXPECT_FALSE(hint->isVisible());
}

TEST_F(NewExam, EveryWayOfClosingAsksWhileAnEyeIsMidWayAndNoKeepsTheWork) {
    open();
    window->sbtFecharClick();  // nothing under way: closes at once
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
    EXPECT_TRUE(seam.messages.empty());

    const std::pair<const char*, std::function<void(TfrmNovoExame*)>> ways[] = {
        {"Cancelar", [](TfrmNovoExame* w) { w->sbtFecharClick(); }},
        {"Esc", [](TfrmNovoExame* w) { QTest::keyPress(w, Qt::Key_Escape); }},
        {"botão de fechar", [](TfrmNovoExame* w) { w->close(); }},
    };
    for (const auto& [way, closeIt] : ways) {
        SCOPED_TRACE(way);
        open();
        chooseDoctor();
        run(R);
        // The release of an Esc pressed in a capture, map or message window arrives here.
        QTest::keyRelease(window, Qt::Key_Escape);
        EXPECT_TRUE(window->isVisible());
        const size_t before = seam.messages.size();
        seam.answers = {norvix::MsgAnswer::No};
        closeIt(window);
        ASSERT_EQ(seam.messages.size(), before + 1);
        EXPECT_EQ(seam.messages.back().text, "Tem ceteza que deseja cancelar o exame?");
        EXPECT_EQ(seam.messages.back().defaultButton, norvix::MsgAnswer::No);
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->passo(R), 2);  // the capture is kept
        seam.answers = {norvix::MsgAnswer::Yes};
        closeIt(window);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(window.isNull());
    }
    EXPECT_EQ(exams(), 0);
}

TEST_F(NewExam, OpenerNeedsAPatientAndOpensTheKindAsked) {
    registerNewExamWindow();
    setRecordText(norvix::infos().MapaPadraoNovoExame, "Tangencial");
    browser = new TfrmExames(nullptr);
    browser->show();
    QCoreApplication::processEvents();
    QString title;
    bool fennic = false, axialShown = true, tangencial = false;
    auto inspect = [&] {
        QTimer::singleShot(0, [&] {
            TfrmNovoExame* w = TfrmNovoExame::instance();
            ASSERT_NE(w, nullptr);
            title = w->windowTitle();
            fennic = w->findChild<QRadioButton*>("rbtFennic")->isChecked();
            axialShown = !w->findChild<QRadioButton*>("rbtAxial")->isHidden();
            tangencial = w->findChild<QRadioButton*>("rbtTangencial")->isChecked();
            w->close();
        });
    };
    inspect();
    browser->tbExameOrtoClick();
    EXPECT_EQ(title, "Assistente para criação do exame - Ortoceratologia");
    EXPECT_TRUE(fennic);
    EXPECT_FALSE(axialShown);
    inspect();
    browser->findChild<QToolButton*>("tbNovoExame1")->click();
    EXPECT_EQ(title, "Assistente para criação do exame");
    EXPECT_TRUE(axialShown);
    EXPECT_TRUE(tangencial);
    TfrmExames::openers().novoExame = nullptr;
}

TEST_F(NewExam, WithoutDoctorsOnlyTheEmptyItemAndExecutarAsksForOne) {
    norvix::DMedicos().DeleteMedicosByCodigo(doctor);
    open();
    EXPECT_EQ(window->findChild<QComboBox*>("ComboMedicos")->count(), 1);
    run(R);
    run(R);
    EXPECT_EQ(seam.texts(), QStringList(2, "Selecione um médico responsável pelo exame."));
    EXPECT_EQ(window->passo(R), 1);
}

// ---- bad input from the modules ----------------------------------------------------------------

TEST_F(NewExam, CaptureThatBringsNoImageFailsSilentlyAndANonBitmapIsRefused) {
    open();
    chooseDoctor();
    for (const char* kind : {"nada", "curto"}) {
        qputenv("NORVIX_TEST_CAPTURE", kind);
        run(R);
        EXPECT_EQ(window->passo(R), 1) << kind;
        EXPECT_EQ(window->imagemOlho(R).pixel(0, 0), qRgb(0, 0, 0)) << kind;
    }
    setRecordText(norvix::paths().Digitalizacao, maps.path() + "/nao-existe.so");
    run(R);
    EXPECT_EQ(window->passo(R), 1);
    EXPECT_TRUE(seam.messages.empty());
    EXPECT_TRUE(window->findChild<QComboBox*>("ComboMedicos")->isEnabled());

    setRecordText(norvix::paths().Digitalizacao, modtest::lib("capture_exam"));
    qputenv("NORVIX_TEST_CAPTURE", "lixo");
    run(R);
    EXPECT_EQ(window->passo(R), 1);
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_TRUE(seam.texts()[0].startsWith("A imagem recebida do módulo de captura não é um bitmap válido"));

    qputenv("NORVIX_TEST_CAPTURE", "lento=1500");  // an operator who takes a while
    run(R);
    EXPECT_EQ(window->passo(R), 2);
}

TEST_F(NewExam, ProcessingThatFailsOrReturnsNonsenseIsNotStored) {
    open();
    chooseDoctor();
    run(R);
    qputenv("NORVIX_TEST_PROCESS", "0");
    run(R);
    EXPECT_EQ(window->passo(R), 2);
    EXPECT_TRUE(seam.messages.empty());
    for (const char* kind : {"nan", "negativo"}) {
        qputenv("NORVIX_TEST_PROCESS", kind);
        run(R);
        EXPECT_EQ(window->passo(R), 2) << kind;
        EXPECT_TRUE(seam.texts().last().startsWith("O módulo de processamento devolveu medidas inválidas: a matriz m"))
            << seam.texts().last().toStdString();
    }
    EXPECT_EQ(window->medida(R), nullptr);
    qunsetenv("NORVIX_TEST_PROCESS");
    run(R);
    EXPECT_EQ(window->passo(R), 3);
}

TEST_F(NewExam, MissingMapModuleFailsOnlyTheStep) {
    open();
    chooseDoctor();
    run(R, 2);
    QFile::remove(maps.file("Halden.so"));
    run(R);
    EXPECT_EQ(window->passo(R), 3);
    EXPECT_TRUE(window->expandido());
    EXPECT_TRUE(seam.messages.empty());
    window->findChild<QRadioButton*>("rbtTangencial")->setChecked(true);
    run(R);
    EXPECT_EQ(window->passo(R), 4);
    EXPECT_EQ(record.lines().filter("map_novis|ProcessaMapa|").size(), 1);
}

// ---- orthokeratology ---------------------------------------------------------------------------

TEST_F(NewExam, OrthokeratologyEyeGoesThroughItsModulesAndStoresFourExams) {
    newexam::StillClock clock;
    open(Tipo::Ortoceratologia);
    chooseDoctor();
    run(L, 3);
    EXPECT_EQ(fields(recorded("DigitalizarOrto").value(0)).mid(3, 2), QStringList({"eye=0", "caption=Digitalizando Imagem do Olho"}));
    EXPECT_EQ(fields(recorded("ProcessaImagemOrto").value(0)).value(3), "markers=10,11,12,13");
    const QStringList map = fields(recorded("ProcessaMapasOrto").value(0));
    EXPECT_EQ(map.value(2), "counts=4,4,4");
    EXPECT_EQ(map.value(4), "table=10.1235,0,7.5,4;11.1235,1,7.6,4;12.1235,2,7.7,4;13.1235,3,7.8,4");
    // Each capture's header carries its own confidence (80 + marker) as line 8; nine lines.
    EXPECT_TRUE(map.value(6).endsWith(";Olho Esquerdo;14/03/2025;10:20:30;Bruno Alves;91;/dados/Banco de Dados"))
        << map.value(6).toStdString();
    EXPECT_EQ(window->confiancasOrto(L)[3], 93);

    run(L);
    EXPECT_EQ(window->passo(L), 5);
    EXPECT_EQ(seam.texts().last(), "Exame gravado com sucesso");
    norvix::FbQuery& q = dm->openQuery(dm->IBOperation,
                                       "SELECT e.Codigo, e.Hora, e.TipoExame, e.IndConf, o.Sag, o.Div, o.Raio, o.Exc "
                                       "FROM Exames e JOIN ExamesOrto o ON o.CodExame = e.Codigo ORDER BY e.Codigo");
    QTime last;
    int n = 0;
    for (; !q.eof(); q.next(), ++n) {
        EXPECT_EQ(q.asString("TIPOEXAME"), "O");
        EXPECT_EQ(q.asDouble("INDCONF"), 90 + n);
        EXPECT_DOUBLE_EQ(q.asDouble("SAG"), 10 + n + 0.1235);
        EXPECT_EQ(q.asDouble("DIV"), n);
        EXPECT_EQ(q.asDouble("EXC"), 0);
        if (n > 0) {
            EXPECT_GE(last.secsTo(q.asTime("HORA")), 1);
        }
        last = q.asTime("HORA");
        const int code = q.asInt("CODIGO");
        const QByteArray a = norvix::LeArquivoDados(norvix::CaminhoArquivoExame(patient, code, 'a'));
        EXPECT_TRUE(a.startsWith("320\r\n240\r\n@\r\n0\r\n0\r\n0\r\n0\r\n32\r\n"));
        EXPECT_EQ(a.count("\r\n"), 367);
        EXPECT_TRUE(norvix::LeArquivoDados(norvix::CaminhoArquivoExame(patient, code, 'm'))
                        .startsWith(QString("%1 ").arg(7 + (10 + n) / 100.0, 0, 'f', 2).toLatin1()));
    }
    q.close();
    EXPECT_EQ(n, 4);
    EXPECT_EQ(totalExames(), 4);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Arquivos"), 0);  // no images for this kind
}

TEST_F(NewExam, OrthokeratologyModulesThatFailOrLieAreRefused) {
    open(Tipo::Ortoceratologia);
    chooseDoctor();
    qputenv("NORVIX_TEST_CAPTURE", "nada");
    run(R);
    EXPECT_EQ(window->passo(R), 1);
    qunsetenv("NORVIX_TEST_CAPTURE");
    run(R);
    for (const char* kind : {"curto", "negativo"}) {
        qputenv("NORVIX_TEST_PROCESS", kind);
        run(R);
        EXPECT_EQ(window->passo(R), 2) << kind;
        EXPECT_TRUE(seam.texts().last().startsWith("O módulo de processamento devolveu medidas inválidas"));
    }
    QFile::remove(maps.file("Fennic.so"));
    qunsetenv("NORVIX_TEST_PROCESS");
    run(R, 2);
    EXPECT_EQ(window->passo(R), 3);
    EXPECT_TRUE(window->expandido());
}

}  // namespace
