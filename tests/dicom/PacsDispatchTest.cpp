// Sending exams of a demonstration clinic to a real Orthanc on loopback through the outbox:
// stored, kept while the PACS is down, sent once it is back, replaced on a resend, refused
// without a PACS; and the time of 100 exams against DCMTK's storescu.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include "config/UBIniSettings.h"
#include "dicom/ExamVisit.h"
#include "dicom/ExportInstallation.h"
#include "dicom/PacsDispatch.h"
#include "records/UDExames.h"
#include "shell/DemoInstallation.h"

using namespace norvix;
using namespace norvix::dicom;

namespace {

int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t n = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), n);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(s);
    return ntohs(a.sin_port);
}
bool answers(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

// Orthanc and storescu with Nagle's algorithm off, as our client has it.
QProcessEnvironment noDelay() {
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert("TCP_NODELAY", "1");
    return e;
}

// Orthanc on the given DICOM port, its storage in a temporary folder, stopped (its own pid,
// through QProcess) with the test; its REST interface read with curl.
struct Orthanc {
    QProcess p;
    QTemporaryDir dir;
    int port, http = freePort();
    explicit Orthanc(int dicomPort) : port(dicomPort) {
        const QJsonObject config{{"Name", "teste"}, {"StorageDirectory", dir.filePath("s")},
                                 {"IndexDirectory", dir.filePath("i")}, {"HttpPort", http}, {"DicomPort", port},
                                 {"DicomAet", "ORTHANC"}, {"DicomCheckCalledAet", true},
                                 {"RemoteAccessAllowed", false}, {"AuthenticationEnabled", false}, {"SaveJobs", false}};
        QFile f(dir.filePath("orthanc.json"));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(QJsonDocument(config).toJson()) > 0);
        f.close();
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
        p.setProcessEnvironment(noDelay());
        p.start(QStringLiteral("Orthanc"), {f.fileName()});
        for (int i = 0; i < 300 && !(answers(port) && answers(http)); ++i) QThread::msleep(50);
        EXPECT_TRUE(answers(port) && answers(http)) << "Orthanc não abriu as portas";
    }
    ~Orthanc() {
        p.terminate();
        if (!p.waitForFinished(5000)) p.kill(), p.waitForFinished();
    }
    QJsonDocument get(const QString& path, const char* method = "GET") {
        QProcess c;
        c.start(QStringLiteral("curl"), {"-s", "-X", method, QStringLiteral("http://127.0.0.1:%1%2").arg(http).arg(path)});
        c.waitForFinished(10000);
        return QJsonDocument::fromJson(c.readAllStandardOutput());
    }
    int instances() { return int(get("/instances").array().size()); }
    void empty() {
        for (const QJsonValue& id : get("/patients").array()) get("/patients/" + id.toString(), "DELETE");
    }
};

PacsPeer peer(int port, const char* ae = "ORTHANC") { return {"NORVIX", ae, "127.0.0.1", port, 5}; }

struct Clinic {
    DemoInstallation demo{false, true};
    ExportInstallation installation;
    int right = 0, left = 0;  // the two eyes of one visit
};
Clinic* clinic = nullptr;

class PacsDispatchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        clinic = new Clinic;
        ASSERT_TRUE(clinic->demo.ok()) << clinic->demo.scriptOutput().toStdString();
        QString why;
        ASSERT_TRUE(clinic->installation.open(clinic->demo.root(), &why)) << why.toStdString();
        for (int code = 1; code < 200 && !clinic->right; ++code) {
            const std::optional<TExame> e = DExames().SelectExameByCodigo(code);
            if (!e) continue;
            const ExamVisit v = visitOf(*e, DExames().SelectExamesByPaciente(e->paciente));
            if (v.exams.size() == 2) clinic->right = v.exams[0].codigo, clinic->left = v.exams[1].codigo;
        }
        ASSERT_TRUE(clinic->right) << "a clínica de demonstração não tem uma visita dos dois olhos";
    }
    static void TearDownTestSuite() { delete clinic; }

    PacsDispatch dispatch(int port, const QString& ae = "ORTHANC") const {
        return {peer(port, ae.toLatin1().constData()), clinic->installation.station(), out_.filePath("Saida")};
    }
    QTemporaryDir out_;
};

TEST_F(PacsDispatchTest, StoredKeptWhileDownSentWhenBackAndAResendReplaces) {
    const int port = freePort();  // nothing listens there yet
    const PacsDispatch d = dispatch(port);
    QString error, key;
    ASSERT_TRUE(d.queue(clinic->left, &error, &key)) << error.toStdString();
    EXPECT_EQ(key, QStringLiteral("E%1").arg(clinic->right));  // the visit's, whichever eye was asked
    ASSERT_TRUE(d.queue(clinic->right, &error)) << error.toStdString();
    EXPECT_EQ(d.waiting(), 1);

    const Outbox::Flush down = d.flush();
    EXPECT_EQ(down.sent, 0);
    EXPECT_EQ(down.failed, 1);
    EXPECT_FALSE(down.error.isEmpty());
    EXPECT_EQ(d.waitingText(), QStringLiteral("1 exame aguardando envio ao PACS"));
    EXPECT_TRUE(sendOutcomeText(down.sent, down.failed, down.error, d.waitingText())
                    .endsWith(QStringLiteral("1 exame aguardando envio ao PACS.")));

    Orthanc orthanc(port);
    // Each round: what is queued, then what the PACS holds and what still waits after the send.
    const struct { const char* name; QList<int> queued; int sent, instances; } rounds[] = {
        {"o PACS de volta", {}, 1, 4},  // two eyes, photograph and map each
        {"reenviado", {clinic->right}, 1, 4},
        {"os dois olhos de novo", {clinic->left, clinic->right}, 1, 4},
        {"nada na fila", {}, 0, 4},
    };
    for (const auto& r : rounds) {
        for (int code : r.queued) ASSERT_TRUE(d.queue(code, &error)) << r.name << error.toStdString();
        const Outbox::Flush f = d.flush();
        EXPECT_EQ(f.sent, r.sent) << r.name << f.error.toStdString();
        EXPECT_EQ(f.failed, 0) << r.name;
        EXPECT_EQ(orthanc.instances(), r.instances) << r.name;
        EXPECT_EQ(d.waitingText(), QStringLiteral("Nenhum exame aguardando envio ao PACS")) << r.name;
    }
    EXPECT_EQ(orthanc.get("/studies").array().size(), 1);  // one visit, one study
    EXPECT_EQ(sendOutcomeText(1, 0, {}, d.waitingText()), QStringLiteral("Exame enviado ao PACS."));
}

TEST_F(PacsDispatchTest, WithoutAPacsNothingIsWritten) {
    TBIniSettings settings;
    ASSERT_TRUE(settings.LoadAll(3));
    const struct { const char* name; QString ae, host, port; QString says; } cases[] = {
        {"sem PACS", "", "", "104", "O PACS não está configurado"},
        {"sem endereço", "ORTHANC", "", "104", "O PACS não está configurado"},
        {"sem AE title", "", "127.0.0.1", "104", "O PACS não está configurado"},
        {"AE title só de espaços", "   ", "127.0.0.1", "104", "O PACS não está configurado"},
    };
    for (const auto& c : cases) {
        clinic->demo.set("DICOM", "PACS_AETITLE", c.ae);
        clinic->demo.set("DICOM", "PACS_HOST", c.host);
        clinic->demo.set("DICOM", "PACS_PORTA", c.port);
        ASSERT_TRUE(settings.LoadDicom(3));
        const PacsDispatch d = PacsDispatch::fromSettings(settings, out_.path(), {});
        EXPECT_EQ(d.outbox(), out_.filePath("DICOM/Saida")) << c.name;
        QString error;
        EXPECT_FALSE(d.queue(clinic->right, &error)) << c.name;
        EXPECT_TRUE(error.startsWith(c.says)) << c.name << ": " << error.toStdString();
        EXPECT_TRUE(d.notConfigured().startsWith(c.says)) << c.name;
        EXPECT_FALSE(QFileInfo::exists(d.outbox())) << c.name;
        EXPECT_EQ(d.waitingText(), QStringLiteral("Nenhum exame aguardando envio ao PACS")) << c.name;
    }
    clinic->demo.set("DICOM", "PACS_AETITLE", "ORTHANC");
    clinic->demo.set("DICOM", "PACS_HOST", "127.0.0.1");
    ASSERT_TRUE(settings.LoadDicom(3));
    EXPECT_EQ(PacsDispatch::fromSettings(settings, out_.path()).notConfigured(), QString());
}

// The send on a worker thread: the progress and the outcome reach a receiver through its event
// loop; a receiver gone before the end misses them, and the exam the PACS did not take stays.
TEST_F(PacsDispatchTest, InTheBackgroundAndWithItsWindowClosed) {
    const int port = freePort();
    const PacsDispatch d = dispatch(port);
    QString error;
    ASSERT_TRUE(d.queue(clinic->right, &error)) << error.toStdString();
    {
        auto* window = new QObject;
        PacsSendJob* job = PacsSendJob::start(d);
        QPointer<PacsSendJob> watch(job);
        bool reached = false;
        QObject::connect(job, &PacsSendJob::finished, window, [&] { reached = true; });
        delete window;  // closed while the send runs
        for (int i = 0; i < 400 && watch; ++i) {
            QThread::msleep(25);
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        EXPECT_FALSE(watch) << "o envio não terminou";
        EXPECT_FALSE(reached);
        EXPECT_EQ(d.waiting(), 1);
    }
    Orthanc orthanc(port);
    PacsSendJob* job = PacsSendJob::start(d);
    QSignalSpy progress(job, &PacsSendJob::progress), finished(job, &PacsSendJob::finished);
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_EQ(progress.size(), 4);
    EXPECT_EQ(progress.last(), (QList<QVariant>{4, 4}));
    EXPECT_EQ(finished.first().value(0).toInt(), 1);  // sent
    EXPECT_EQ(finished.first().value(1).toInt(), 0);  // failed
    EXPECT_EQ(finished.first().value(4).toString(), QStringLiteral("Nenhum exame aguardando envio ao PACS"));
    EXPECT_EQ(orthanc.instances(), 4);
}

// 100 exams (each visit written under its own installation identity, so each is another study)
// sent by the dispatch, against storescu sending the same files: at most 1.5 times its time.
TEST_F(PacsDispatchTest, AHundredExamsWithinOneAndAHalfStorescu) {
    Orthanc orthanc(freePort());
    const PacsDispatch d = dispatch(orthanc.port);
    Outbox outbox(d.outbox());
    QStringList all;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 50; ++i) {  // 50 visits of two eyes: 100 exams, 200 objects
        Station s = clinic->installation.station();
        s.installationId = QStringLiteral("bancada-%1").arg(i);
        const PacsDispatch writer(peer(orthanc.port), s, out_.filePath(QStringLiteral("w%1").arg(i)));
        QString error;
        ASSERT_TRUE(writer.queue(clinic->right, &error)) << error.toStdString();
        const QStringList files = Outbox(writer.outbox()).files(Outbox(writer.outbox()).pending().value(0));
        ASSERT_TRUE(outbox.enqueue(QStringLiteral("B%1").arg(i), files, &error)) << error.toStdString();
        all += files;
    }
    const qint64 queued = clock.elapsed();
    ASSERT_EQ(all.size(), 200);
    auto timed = [&](const std::function<void()>& run) {
        orthanc.empty();
        clock.restart();
        run();
        const qint64 ms = clock.elapsed();
        EXPECT_EQ(orthanc.instances(), 200);
        return ms;
    };
    auto storescu = [&] {
        QProcess p;
        p.setProcessEnvironment(noDelay());
        p.start("storescu", QStringList{"-R", "-xy", "-aet", "NORVIX", "-aec", "ORTHANC", "127.0.0.1",
                                        QString::number(orthanc.port)} + all);
        p.waitForFinished(120000);
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    };
    // Alternating, the best of two each: the dispatch sends and then empties the outbox.
    const qint64 theirs1 = timed(storescu);
    const qint64 ours1 = timed([&] { EXPECT_EQ(d.flush().sent, 50); });
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(outbox.enqueue(QStringLiteral("B%1").arg(i), all.mid(4 * i, 4), nullptr));
    const qint64 theirs2 = timed(storescu);
    const qint64 ours2 = timed([&] { EXPECT_EQ(d.flush().sent, 50); });
    const qint64 ours = std::min(ours1, ours2), theirs = std::min(theirs1, theirs2);
    std::printf("100 exames (200 objetos): pôr na fila %lld ms; PacsDispatch::flush %lld ms, storescu %lld ms\n",
                queued, ours, theirs);
    EXPECT_LE(ours, theirs * 3 / 2);
    EXPECT_EQ(d.waiting(), 0);
}

}  // namespace
