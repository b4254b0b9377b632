// Recording the tear film through the installed capture module: the real Grabmod over the
// simulated instrument, the operator acting in its window, and a module without the export.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QLabel>
#include <QRegularExpression>

#include "capture/VideoDevice.h"
#include "config/SharedRecords.h"
#include "exams/TearFilmCapture.h"
#include "tearfilm/TearRecording.h"

namespace {

enum class Act { Keep, Cancel };

// What the operator does in the module's window: starts, stops after a few seconds, then keeps
// the recording or presses Esc. A message box is answered so that nothing waits on it.
class Operator : public QObject {
public:
    explicit Operator(Act act) : act_(act) {
        connect(&timer_, &QTimer::timeout, this, [this] { step(); });
        timer_.start(100);
    }
    QStringList boxes;

private:
    void press(QWidget* w, const char* name) {
        if (auto* b = w->findChild<QPushButton*>(QString::fromLatin1(name)); b && b->isVisible() && b->isEnabled()) b->click();
    }
    void step() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                boxes << box->text();
                box->accept();
                return;
            }
        }
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible() || w->objectName() != QLatin1String("frmGravarLagrima")) continue;
            ++ticks_;
            if (ticks_ == 20) press(w, "btnIniciar");  // the picture has been running a while
            if (act_ == Act::Cancel) {
                if (ticks_ == 55) QTest::keyClick(w, Qt::Key_Escape);
            } else if (!stopped_ && clockSeconds(w) >= 4.0) {
                // By the recording's own clock: a busy machine draws the frames late, and a
                // recording under 3 s cannot be used.
                press(w, "btnParar");
                stopped_ = true;
            } else if (stopped_) {
                press(w, "btnUsar");
            }
        }
    }
    // The running clock's "00:04,1" in seconds; 0 before it shows.
    static double clockSeconds(QWidget* w) {
        const auto* clock = w->findChild<QLabel*>(QStringLiteral("lblRelogio"));
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("(\\d+):(\\d+),(\\d)")).match(clock ? clock->text() : QString());
        return m.hasMatch() ? m.captured(1).toInt() * 60 + m.captured(2).toInt() + m.captured(3).toInt() / 10.0 : 0;
    }
    Act act_;
    bool stopped_ = false;
    int ticks_ = 0;
    QTimer timer_;
};

struct Case {
    const char* what;
    const char* module;
    Act act;
    bool ok;
    const char* message;  // a part of it; "" for none
};

TEST(TearFilmCapture, RecordsThroughTheInstalledModule) {
    const QString bin = qEnvironmentVariable("NORVIX_BIN_DIR");
    QTemporaryDir root;
    QDir(root.path()).mkpath(QStringLiteral("Orvent"));
    QFile ini(root.filePath(QStringLiteral("Orvent/Orvent.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[CAMERA]\r\nBRILHO=128\r\nCONTRASTE=64\r\nCAMERACENTRAL=" +
              QByteArray::number(norvix::captura::videoDevices().deviceNames().size() - 1) +
              "\r\n[SERIAL]\r\nCOM=/dev/nao-existe\r\n");
    ini.close();
    qputenv("NORVIX_ROOT", QFile::encodeName(root.path()));
    qputenv("NORVIX_SIM_TARGET", "cornea olho");

    const Case cases[] = {
        {"kept", "Grabmod.so", Act::Keep, true, ""},
        {"cancelled", "Grabmod.so", Act::Cancel, false, ""},
        {"a module without video", "GrabmodOrto.so", Act::Keep, false, "não grava vídeo"},
        {"no module", "NaoExiste.so", Act::Keep, false, "Não foi possível carregar"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        norvix::setRecordText(norvix::paths().Digitalizacao, bin + QLatin1Char('/') + QLatin1String(c.module));
        const QString path = root.filePath(QStringLiteral("lagrima.nvx"));
        QFile::remove(path);
        QWidget host;
        host.show();
        Operator op(c.act);
        const norvix::StepOutcome out = norvix::recordTearFilm(&host, 1, path, 30);
        EXPECT_EQ(out.ok, c.ok) << out.message.toStdString();
        EXPECT_TRUE(out.message.contains(QString::fromUtf8(c.message))) << out.message.toStdString();
        EXPECT_TRUE(op.boxes.isEmpty()) << op.boxes.join(' ').toStdString();
        EXPECT_EQ(QFile::exists(path), c.ok);
        if (!c.ok) continue;
        norvix::lagrima::RecordingReader reader;
        QString error;
        ASSERT_TRUE(reader.open(path, &error)) << error.toStdString();
        EXPECT_GE(reader.info().frames, 25 * 3);  // about 3.5 s at 30 a second
        EXPECT_EQ(QDir(root.path()).entryList(QDir::Files).size(), 1);  // nothing left aside
    }
    qunsetenv("NORVIX_ROOT");
    qunsetenv("NORVIX_SIM_TARGET");
}

}  // namespace
