// The small windows of the shell, the picture buttons, the help pages and the single instance.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLockFile>
#include <QMessageBox>
#include <QTimer>
#include <QSysInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include "HelpViewer.h"
#include "PictureButton.h"
#include "SingleInstance.h"
#include "UfrmAguarde.h"
#include "UfrmDica.h"
#include "platform/QtTranslations.h"
#include "UfrmIniciando.h"
#include "platform/ui/MessageSeam.h"

using norvix::TfrmAguarde;
using norvix::TfrmDica;
using norvix::TfrmIniciando;
using norvix::TPictureButton;
using norvix::TSingleInstance;

TEST(StartingWindow, FourStepsOnlyTheFirstVisibleAndABarThatStopsAt100) {
    TfrmIniciando* w = TfrmIniciando::instance();
    EXPECT_EQ(w->windowTitle(), "Iniciando . . .");
    EXPECT_EQ(w->size(), QSize(342, 178));
    EXPECT_EQ(w->stepText(1), "Verificando a integridade do banco de dados.");
    EXPECT_EQ(w->stepText(4), "Iniciando os módulos instalados.");
    EXPECT_TRUE(w->stepVisible(1));
    EXPECT_FALSE(w->stepVisible(2));
    w->showStep(3);
    EXPECT_TRUE(w->stepVisible(3));
    for (int i = 0; i < 30; ++i) w->advance(6);
    EXPECT_EQ(w->progress(), 100);
    // Closing frees it and clears the process-wide reference; the next use makes a new one.
    w->show();
    w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(TfrmIniciando::exists());
    EXPECT_FALSE(TfrmIniciando::instance()->stepVisible(3));
    TfrmIniciando::instance()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(SearchTipWindow, CaptionSizeTextsAndOkCloses) {
    TfrmDica* tip = TfrmDica::instance();
    EXPECT_EQ(tip->windowTitle(), "Dica de Busca");
    tip->show();
    QCoreApplication::processEvents();
    // 540 wide as designed, as tall as its three paragraphs need: none cut, none overlapping.
    EXPECT_EQ(tip->width(), 540);
    EXPECT_GE(tip->height(), 168);
    int below = 0;
    for (const char* name : {"lblTexto1", "lblTexto2", "lblTexto3"}) {
        auto* l = tip->findChild<QLabel*>(name);
        ASSERT_NE(l, nullptr);
        EXPECT_GE(l->height(), l->heightForWidth(l->width())) << name;
        EXPECT_GE(l->y(), below) << name;
        below = l->geometry().bottom();
    }
    EXPECT_GT(tip->findChild<QPushButton*>("btnOK")->y(), below);
    auto* text1 = tip->findChild<QLabel*>("lblTexto1");
    EXPECT_TRUE(text1->text().startsWith("A busca por Diagnóstico do Exame é sensível"));
    auto* text3 = tip->findChild<QLabel*>("lblTexto3");
    ASSERT_NE(text3, nullptr);
    EXPECT_TRUE(text3->text().contains("Ver Paciente/Exame"));
    EXPECT_EQ(text3->text().count("Painel de Navegação"), 1);
    auto* ok = tip->findChild<QPushButton*>("btnOK");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "&OK");
    tip->show();
    ok->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(TfrmDica::exists());
}

TEST(QtTexts, QtsOwnDialogsSpeakPortuguese) {
    ASSERT_TRUE(norvix::installQtTranslations());
    EXPECT_EQ(QCoreApplication::translate("QPrintPreviewDialog", "Next page"), QString::fromUtf8("Próxima página"));
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "File &name:"), QString::fromUtf8("&Nome do arquivo:"));
}

TEST(WaitWindow, StaysOnTopWithItsText) {
    TfrmAguarde* wait = TfrmAguarde::instance();
    EXPECT_EQ(wait->windowTitle(), "Miral");
    EXPECT_EQ(wait->size(), QSize(191, 62));
    EXPECT_TRUE(wait->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(wait->isHidden());
    wait->showNow();
    EXPECT_TRUE(wait->isVisible());
    EXPECT_EQ(wait->findChild<QLabel*>("lblAguarde")->text(), "Aguarde...");
    wait->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(TfrmAguarde::exists());
}

TEST(PictureButton, SizesToItsPictureAndShowsTheMouseOverPicture) {
    QWidget host;
    host.resize(300, 200);
    TPictureButton button(&host);
    QPixmap normal(40, 20), over(40, 20);
    normal.fill(Qt::blue);
    over.fill(Qt::yellow);
    button.setPictures(normal, normal, over);
    host.show();
    EXPECT_EQ(button.size(), QSize(40, 20));
    EXPECT_EQ(button.currentPicture().cacheKey(), normal.cacheKey());
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QCoreApplication::sendEvent(&button, &enter);
    EXPECT_EQ(button.currentPicture().cacheKey(), over.cacheKey());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&button, &leave);
    EXPECT_EQ(button.currentPicture().cacheKey(), normal.cacheKey());
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
    // The keyboard's focus shows as the mouse-over picture; Enter and Space press the button.
    host.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    button.setFocus(Qt::TabFocusReason);
    EXPECT_EQ(button.currentPicture().cacheKey(), over.cacheKey());
    QTest::keyClick(&button, Qt::Key_Return);
    QTest::keyClick(&button, Qt::Key_Space);
    EXPECT_TRUE(clicked.wait(500) || clicked.count() == 3);
    EXPECT_EQ(clicked.count(), 3);
    QCoreApplication::sendEvent(&button, &leave);  // the click's mouse is gone too
    button.clearFocus();
    EXPECT_EQ(button.currentPicture().cacheKey(), normal.cacheKey());
}

TEST(Help, ContextPageOrContentsOrAMessage) {
    QTemporaryDir dir;
    norvix::help::setHelpFolder(dir.path());
    norvix::RecordingMessageSeam seam;
    EXPECT_EQ(norvix::help::pageFor(1), QString());
    EXPECT_EQ(norvix::help::showHelp(1), QString());
    ASSERT_EQ(seam.messages.size(), 1u);

    QFile index(dir.filePath("index.html"));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("<html><body>conteúdo</body></html>");
    index.close();
    QFile one(dir.filePath("1.html"));
    ASSERT_TRUE(one.open(QIODevice::WriteOnly));
    one.write("<html><body>principal</body></html>");
    one.close();
    EXPECT_EQ(norvix::help::pageFor(1), dir.filePath("1.html"));
    EXPECT_EQ(norvix::help::pageFor(25), dir.filePath("index.html"));  // no page of its own
    EXPECT_EQ(norvix::help::pageFor(0), dir.filePath("index.html"));

    QWidget window;
    norvix::help::setContext(&window, 1);
    QWidget child(&window);
    EXPECT_EQ(norvix::help::contextOf(&child), 1);
    EXPECT_EQ(norvix::help::showHelp(norvix::help::contextOf(&child)), dir.filePath("1.html"));
}

TEST(SingleInstance, SecondAsksTheFirstToShowItself) {
    const QString name = QStringLiteral("norvix-test-%1").arg(::getpid());
    TSingleInstance first(name);
    ASSERT_FALSE(first.anotherIsRunning());
    QSignalSpy shown(&first, &TSingleInstance::showRequested);
    TSingleInstance second(name);
    EXPECT_TRUE(second.anotherIsRunning());
    EXPECT_TRUE(shown.wait(2000));
}

TEST(SingleInstance, SocketLeftByAKilledProcessDoesNotBlockTheNextStart) {
    const QString name = QStringLiteral("norvix-stale-%1").arg(::getpid());
    // What a killed process leaves: a bound socket file nobody listens on.
    const QString path = TSingleInstance(name).socketFileName();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, QFile::encodeName(path).constData(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(path));

    TSingleInstance next(name);
    EXPECT_FALSE(next.anotherIsRunning());
    TSingleInstance after(name);
    EXPECT_TRUE(after.anotherIsRunning());
}

TEST(SingleInstance, ALiveHolderThatCannotAnswerStillCounts) {
    // Two starts at the same moment: the first holds the lock but does not listen yet.
    const QString name = QStringLiteral("norvix-busy-%1").arg(::getpid());
    TSingleInstance probe(name);
    QLockFile holder(probe.lockFileName());
    ASSERT_TRUE(holder.tryLock(0));
    TSingleInstance second(name);
    EXPECT_TRUE(second.anotherIsRunning());
    EXPECT_TRUE(QFile::exists(probe.lockFileName()));
    holder.unlock();
    TSingleInstance third(name);
    EXPECT_FALSE(third.anotherIsRunning());
}

TEST(SingleInstance, LockOfAProcessThatNoLongerExistsIsTakenOver) {
    const QString name = QStringLiteral("norvix-deadlock-%1").arg(::getpid());
    TSingleInstance first(name);
    QFile left(first.lockFileName());
    ASSERT_TRUE(left.open(QIODevice::WriteOnly));
    left.write("999999\nMiral\n" + QSysInfo::machineHostName().toUtf8() + "\n");  // no such process
    left.close();
    EXPECT_FALSE(first.anotherIsRunning());
    TSingleInstance second(name);
    EXPECT_TRUE(second.anotherIsRunning());
}

TEST(MessageBoxes, TextIsShownAsWrittenNeverAsMarkup) {
    // A server error or a file name may hold '<'.
    const QString text = "Arquivo <b>laudo</b> & <i>exame</i> não encontrado";
    QString shown;
    Qt::TextFormat format = Qt::AutoText;
    QTimer::singleShot(100, [&] {  // the box drops what was queued before it, then shows
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shown = box->text();
        format = box->textFormat();
        box->buttons().first()->click();
    });
    norvix::showMessage(text, "Erro", norvix::MsgIcon::Error);
    EXPECT_EQ(shown, text);
    EXPECT_EQ(format, Qt::PlainText);
}
