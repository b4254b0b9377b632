// The real program, offscreen on a demonstration installation, ends on SIGTERM, SIGINT and
// SIGHUP the way its close button ends it: exit status 0 within 5 s, the user's regional values
// back, the database left closed and usable, also while a message box or the start-up window
// is open.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include "DemoInstallation.h"
#include "platform/ProfileFile.h"
#include "records/UfrmDataModule.h"

namespace {

const QString kRegional = QStringLiteral("Control Panel\\International");

struct Situation {
    const char* name;
    // Prepares the installation; returns what standard error shows once the situation is up
    // (empty: the program is idle after its start-up).
    std::function<QString(const DemoInstallation&)> prepare;
};

bool databaseOpenBy(qint64 pid, const QString& database) {
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (QFile::symLinkTarget(fds.filePath(fd)) == database) return true;
    return false;
}

class SignalClose : public ::testing::TestWithParam<int> {};

TEST_P(SignalClose, EndsLikeTheCloseButtonInEverySituation) {
    const int signal = GetParam();
    const Situation situations[] = {
        {"ocioso", [](const DemoInstallation&) { return QString(); }},
        // The general error message of a setting that is not a number.
        {"mensagem",
         [](const DemoInstallation& demo) {
             demo.set("QV", "FatorCorrecao", "abc");
             return QStringLiteral("não é um valor de ponto flutuante válido");
         }},
        // A question (OK or Cancelar) over the start-up window: a database file that is no
        // database. The signal must end the program without anyone answering it.
        {"pergunta",
         [](const DemoInstallation& demo) {
             const QString pasta = demo.root() + "/BancoInvalido";
             QDir().mkpath(pasta);
             QFile lixo(pasta + "/DATABASE.GDB");
             lixo.open(QIODevice::WriteOnly);
             lixo.write(QByteArray(8192, 'x'));
             demo.set("DIRETORIOS", "BANCODADOS", pasta);
             return QStringLiteral("ERRO: ");
         }},
        // A module that does not load: its message over the start-up window.
        {"janela de início",
         [](const DemoInstallation& demo) {
             demo.set("MODULOS", "PROCESSAMENTO", demo.dirQv() + "/NaoExiste.so");
             return QStringLiteral(": 2\n");
         }},
    };
    for (const Situation& situation : situations) {
        SCOPED_TRACE(situation.name);
        DemoInstallation demo;
        ASSERT_TRUE(demo.ok()) << demo.scriptOutput().toStdString();
        const QString shows = situation.prepare(demo);
        // The user's own regional values, which the program replaces while it runs.
        norvix::ProfileFile regional(demo.regionalFile());
        QDir().mkpath(QFileInfo(demo.regionalFile()).absolutePath());
        ASSERT_TRUE(regional.writeString(kRegional, "sDecimal", ","));
        ASSERT_TRUE(regional.writeString(kRegional, "sShortDate", "d/M/yy"));

        QProcess miral;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        miral.setProcessEnvironment(env);
        miral.start(qEnvironmentVariable("NORVIX_BIN_DIR") + "/Miral", {});
        ASSERT_TRUE(miral.waitForStarted(10000));
        struct KillOnFailure {
            QProcess& p;
            ~KillOnFailure() {
                if (p.state() != QProcess::NotRunning) p.kill(), p.waitForFinished(5000);
            }
        } killOnFailure{miral};
        QByteArray err;
        QElapsedTimer up;
        up.start();
        auto ready = [&] {
            err += miral.readAllStandardError();
            return shows.isEmpty() ? databaseOpenBy(miral.processId(), demo.database())
                                   : QString::fromUtf8(err).contains(shows);
        };
        while (!ready() && miral.state() == QProcess::Running && up.elapsed() < 30000)
            miral.waitForReadyRead(100);
        ASSERT_TRUE(ready()) << err.toStdString();
        if (shows.isEmpty()) QThread::msleep(500);  // let the start-up end
        EXPECT_EQ(regional.readString(kRegional, "sDecimal", ""), ".");

        QElapsedTimer closing;
        closing.start();
        ::kill(miral.processId(), signal);
        ASSERT_TRUE(miral.waitForFinished(5000)) << "still running after 5 s";
        EXPECT_LT(closing.elapsed(), 5000);
        EXPECT_EQ(miral.exitStatus(), QProcess::NormalExit);
        err += miral.readAllStandardError();
        EXPECT_EQ(miral.exitCode(), 0) << err.toStdString();
        // Shown once: the program's first show and its first activation make a single run.
        if (!shows.isEmpty()) {
            EXPECT_EQ(QString::fromUtf8(err).count(shows), 1) << err.toStdString();
        }

        EXPECT_EQ(regional.readString(kRegional, "sDecimal", ""), ",");
        EXPECT_EQ(regional.readString(kRegional, "sShortDate", ""), "d/M/yy");
        EXPECT_EQ(regional.readString(kRegional, "sTimeFormat", "absent"), "");
        // Detached and intact: this process opens it at once.
        norvix::TDMPrincipal dm;
        EXPECT_TRUE(dm.PSetDataBaseName(demo.database()));
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalClose, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

}  // namespace
