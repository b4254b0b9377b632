// The PACS client against real servers on loopback: DCMTK's storescp and wlmscpfs, and Orthanc
// with its REST interface to read back what was stored.
#include <dcmtk/dcmdata/dcfilefo.h>
#include <gtest/gtest.h>
#include <QBuffer>
#include <QCoreApplication>
#include <QFileInfo>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "dicom/DicomObjects.h"
#include "dicom/Outbox.h"
#include "dicom/PacsDispatch.h"
#include "dicom/PacsServers.h"
#include "platform/Sobras.h"

using namespace norvix::dicom;
using namespace pacstest;

namespace {

// An exam's objects: right photograph (JPEG), left one (uncompressed), a map, a report.
QStringList writeExam(const QString& folder, const QString& code, bool all = true) {
    static QByteArray jpeg;
    if (QBuffer b(&jpeg); jpeg.isEmpty() && b.open(QIODevice::WriteOnly))
        QImage(320, 240, QImage::Format_Grayscale8).save(&b, "JPG");
    const Patient patient{"P-0042", "João Ávila da Conceição", QDate(1961, 2, 28), "M"};
    const Visit visit{
        "instalação-teste", code, QDateTime(QDate(2026, 12, 10), QTime(9, 30)), "SALA 2", "Clínica", "", {}};
    Written photo, left, map, pdf;
    QString why;
    QDir().mkpath(folder);
    EXPECT_TRUE(writePhotograph(patient, visit, {Eye::Right, jpeg, {}, 0.025}, folder, &photo, &why))
        << why.toStdString();
    TopographyMap t;
    t.width = t.height = 128, t.indices = QByteArray(128 * 128, 5), t.palette = QVector<QRgb>(27, 0),
    t.mmPerPixel = 0.08;
    t.analysis = {{64, 64}, {}, {}, 45, 90, 43, 180, {}, {}, {}, {}, {}};
    t.source = {photo.sopClassUid, photo.sopInstanceUid};
    EXPECT_TRUE(writeTopographyMap(patient, visit, t, folder, &map, &why)) << why.toStdString();
    if (!all) return {photo.filePath, map.filePath};
    EXPECT_TRUE(writePhotograph(patient, visit, {Eye::Left, {}, QImage(64, 48, QImage::Format_RGB32), 0.025}, folder,
                                &left, &why));
    EXPECT_TRUE(writeReport(patient, visit, {"%PDF-1.4\n%%EOF\n", {}, "a"}, folder, &pdf, &why));
    return {photo.filePath, left.filePath, map.filePath, pdf.filePath};
}

}  // namespace

TEST(Pacs, EchoSaysWhatWentWrong) {
    Server storescp, wlm;
    Orthanc orthanc;
    QTemporaryDir in;
    storescp.start("storescp", {"-od", in.path(), "-aet", "RECEPTOR", QString::number(storescp.port)});
    wlm.start("wlmscpfs", {"-s", "-dfp", in.path(), QString::number(wlm.port)});
    int silentPort;
    const int silent = socketOn(&silentPort, true);
    const int nobody = freePort();
    const struct {
        PacsPeer peer;
        bool ok;
        QString says;
    } cases[] = {
        {peer(storescp.port, "RECEPTOR"), true, "Conexão com o PACS bem-sucedida (RECEPTOR em 127.0.0.1:"},
        {peer(orthanc.port, "ORTHANC"), true, "bem-sucedida"},
        {peer(orthanc.port, "ERRADO"), false, "O PACS recusou a associação: verifique o título AE do PACS (\"ERRADO\""},
        {peer(wlm.port, "OUTRO"), false, "verifique o título AE do PACS (\"OUTRO\" não é reconhecido"},
        {peer(nobody, "X"), false,
         QStringLiteral("O PACS não responde em 127.0.0.1:%1 (conexão recusada)").arg(nobody)},
        {{"NORVIX", "X", "127.0.0.1", silentPort, 1}, false, "não respondeu em 1 s"},
        {peer(0, "X"), false, "A porta do PACS (0) deve estar entre 1 e 65535."},
        {peer(104, "TÍTULO"), false, "O título AE do PACS (\"TÍTULO\")"},
    };
    for (const auto& c : cases) {
        QString answer;
        EXPECT_EQ(echo(c.peer, &answer), c.ok) << answer.toStdString();
        EXPECT_TRUE(answer.contains(c.says)) << answer.toStdString();
    }
    ::close(silent);
}

TEST(Pacs, SendStoresEachKindAndReportsEachFile) {
    QTemporaryDir out, in;
    Server storescp;
    storescp.start("storescp", {"-od", in.path(), "-aet", "RECEPTOR", QString::number(storescp.port)});
    QStringList files = writeExam(out.path(), "E1");
    write(out.filePath("lixo.dcm"), "não é DICOM");
    files.insert(1, out.filePath("lixo.dcm"));
    QList<StoreResult> results;
    QString error;
    int calls = 0;  // counts the calls that came in order
    auto progress = [&](int done, int total) { calls += done == calls + 1 && total == 5; };
    EXPECT_FALSE(send(peer(storescp.port, "RECEPTOR"), files, progress, &results, &error));
    EXPECT_EQ(calls, 5);
    EXPECT_TRUE(error.startsWith("1 de 5 arquivos não foram guardados")) << error.toStdString();
    ASSERT_EQ(results.size(), 5);
    EXPECT_TRUE(!results[1].stored && results[1].reason == "não é um arquivo DICOM válido");
    files.removeAt(1);
    // What arrived (storescp names a file "<modality>.<SOP Instance UID>"): the instances sent, which
    // are still here; the JPEG photograph decoded, as storescp takes no JPEG.
    QStringList arrived = QDir(in.path()).entryList(QDir::Files), sent;
    for (QString& name : arrived) name = name.section(u'.', 1) + ".dcm";
    for (const QString& f : files) sent << (QFile::exists(f) ? QFileInfo(f).fileName() : "");
    arrived.sort(), sent.sort();
    EXPECT_EQ(arrived, sent);
    DcmFileFormat photo;
    const QStringList named = QDir(in.path()).entryList({"*." + QFileInfo(files[0]).completeBaseName()});
    ASSERT_EQ(named.size(), 1);
    photo.loadFile(in.filePath(named[0]).toUtf8().constData());
    EXPECT_EQ(photo.getDataset()->getOriginalXfer(), EXS_LittleEndianExplicit);
    // Nobody there: every file fails with the reason.
    const int nobody = freePort();
    EXPECT_FALSE(send(peer(nobody, "RECEPTOR"), files, {}, &results, &error));
    EXPECT_TRUE(error.startsWith("O PACS não responde em")) << error.toStdString();
    for (const StoreResult& r : results) EXPECT_TRUE(!r.stored && r.reason == error);
}

TEST(Pacs, OutboxKeepsWhatThePacsDidNotTakeAndResendsWithoutDuplicates) {
    for (const auto& [n, text] : {std::pair{0, "Nenhum exame aguardando envio ao PACS"},
                                  {1, "1 exame aguardando envio ao PACS"},
                                  {2, "2 exames aguardando envio ao PACS"}})
        EXPECT_EQ(Outbox::countText(n), text);
    QTemporaryDir objects, box;
    Orthanc orthanc;
    Outbox outbox(box.path());
    QString error;
    const QStringList keys = {"../fora", "E/1", "Exame ção", "."};
    for (const QString& key : keys)
        ASSERT_TRUE(outbox.enqueue(key, writeExam(objects.filePath(key.toUtf8().toHex()), key), &error));
    EXPECT_FALSE(outbox.enqueue("E9", {objects.filePath("não existe.dcm")}, &error));
    EXPECT_TRUE(error.contains("não existe")) << error.toStdString();
    EXPECT_EQ(outbox.pending(), QStringList({".", "../fora", "E/1", "Exame ção"}));
    EXPECT_EQ(QDir(box.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(), 4);
    // Refused: everything stays.
    Outbox::Flush f = outbox.flush(peer(orthanc.port, "ERRADO"));
    EXPECT_TRUE(f.failed == 4 && f.error.contains("título AE") && outbox.count() == 4) << f.error.toStdString();
    // An exam with a file the PACS cannot take stays; the others go.
    write(objects.filePath("lixo.dcm"), "não é DICOM");
    ASSERT_TRUE(outbox.enqueue("Ruim", {objects.filePath("lixo.dcm")}, &error));
    f = outbox.flush(peer(orthanc.port, "ORTHANC"));
    EXPECT_TRUE(f.sent == 4 && f.failed == 1 && outbox.pending() == QStringList{"Ruim"}) << f.error.toStdString();
    ASSERT_EQ(orthanc.instances(), 16);
    QStringList classes;
    for (const QJsonValue& id : orthanc.get("/instances").array()) {
        const QJsonObject tags = orthanc.get("/instances/" + id.toString() + "/simplified-tags").object();
        EXPECT_EQ(tags["PatientName"].toString(), "da Conceição^João Ávila");
        const bool pdf = tags["SOPClassUID"] == "1.2.840.10008.5.1.4.1.1.104.1";
        EXPECT_TRUE(pdf || tags["ImageLaterality"] == "R" || tags["ImageLaterality"] == "L");
        classes << tags["SOPClassUID"].toString();
    }
    classes.removeDuplicates(), classes.sort();
    EXPECT_EQ(classes, QStringList({"1.2.840.10008.5.1.4.1.1.104.1", "1.2.840.10008.5.1.4.1.1.77.1.5.1",
                                    "1.2.840.10008.5.1.4.1.1.82.1"}));
    // Sent again: replaces, no duplicate. Queued once more while that send is under way: the
    // newer copy is not taken for sent, and goes on the next send.
    ASSERT_TRUE(outbox.enqueue("E/1", writeExam(objects.filePath("again"), "E/1"), &error));
    bool requeued = false;
    const auto requeue = [&](int, int) {
        if (!requeued) requeued = outbox.enqueue("E/1", writeExam(objects.filePath("third"), "E/1"), &error);
    };
    EXPECT_EQ(outbox.flush(peer(orthanc.port, "ORTHANC"), requeue).sent, 1);
    EXPECT_TRUE(requeued && outbox.pending().contains("E/1")) << error.toStdString();
    EXPECT_EQ(outbox.flush(peer(orthanc.port, "ORTHANC")).sent, 1);
    EXPECT_EQ(orthanc.instances(), 16);
    QDir(box.filePath("Ruim")).removeRecursively();

    // The benchmark: 100 exams of photograph and map, by the outbox and by storescu.
    QStringList all;
    for (int i = 0; i < 100; ++i) {
        const QString key = QStringLiteral("B%1").arg(i);
        const QStringList files = writeExam(objects.filePath(key), key, false);
        outbox.enqueue(key, files, &error);
        all += files;
    }
    // Each run into an empty Orthanc, alternating, the best of two each.
    auto timed = [&](const std::function<void()>& run) {
        for (const QJsonValue& id : orthanc.get("/patients").array())
            orthanc.get("/patients/" + id.toString(), "DELETE");
        QElapsedTimer clock;
        clock.start();
        run();
        EXPECT_EQ(orthanc.instances(), 200);
        return clock.elapsed();
    };
    auto storescu = [&] {
        QProcess p;
        p.setProcessEnvironment(env());
        p.start("storescu", QStringList{"-R", "-xy", "-aet", "NORVIX", "-aec", "ORTHANC", "127.0.0.1",
                                        QString::number(orthanc.port)} +
                                all);
        p.waitForFinished(60000);
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    };
    const qint64 theirs1 = timed(storescu);
    const PacsDispatch dispatch(peer(orthanc.port, "ORTHANC"), {}, box.path());  // the browser's send
    const qint64 ours1 = timed([&] { EXPECT_EQ(dispatch.flush().sent, 100); });
    const qint64 theirs2 = timed(storescu);
    const qint64 ours2 = timed([&] { EXPECT_TRUE(send(peer(orthanc.port, "ORTHANC"), all, {}, nullptr, &error)); });
    for (int i = 0; i < 100; ++i) outbox.enqueue(QStringLiteral("B%1").arg(i), all.mid(2 * i, 2), &error);
    const qint64 ours3 = timed([&] { EXPECT_EQ(dispatch.flush().sent, 100); });  // twice, as storescu
    // flush also deletes the 200 copies it sent (slow where the disk discards on delete); send does not.
    std::printf("100 exames (200 objetos) ao Orthanc: send %lld ms, PacsDispatch::flush %lld/%lld ms; storescu %lld/%lld ms\n",
                ours2, ours1, ours3, theirs1, theirs2);
}

// What a kill leaves of a patient's in the work folders goes at the next start; the work of a
// program still running stays. A withdrawn visit goes whole, and only it.
TEST(Pacs, LeftoversOfAKillGoAtStartAndAWithdrawnVisitGoesWhole) {
    QTemporaryDir box, objects;
    QProcess running;  // another program still at work
    running.start("sleep", {"30"});
    ASSERT_TRUE(running.waitForStarted());
    QProcess dead;
    dead.start("true");
    ASSERT_TRUE(dead.waitForFinished());
    const QString live = QString::number(running.processId()), gone = QString::number(dead.processId()),
                  self = QString::number(QCoreApplication::applicationPid());
    const struct { QString name; bool stays; } cases[] = {
        {".entrada-" + gone + "-a1B2c3", false}, {".retirada-" + gone + "-x", false},
        {".lagrima-" + gone + "-x", false},      {".entrada-AbCdEf", false},  // an older program's, no id
        {".entrada-" + self + "-x", false},      {".entrada-" + live + "-x", true},
        {".lagrima-" + live + "-x", true},       {"E12", true},  // a visit waiting
    };
    for (const auto& c : cases) {
        QDir().mkpath(box.filePath(c.name));
        write(box.filePath(c.name + "/1.dcm"), "paciente");
    }
    EXPECT_TRUE(Outbox(box.path()).removeLeftovers().isEmpty());
    EXPECT_TRUE(norvix::removeSobras(box.path(), ".lagrima-").isEmpty());
    for (const auto& c : cases) EXPECT_EQ(QFileInfo::exists(box.filePath(c.name)), c.stays) << c.name.toStdString();
    running.kill();
    running.waitForFinished();

    Outbox outbox(box.filePath("S"));
    QString error;
    ASSERT_TRUE(outbox.enqueue("E7", writeExam(objects.filePath("a"), "E7"), &error, {3, {7, 8}, {2}, {5}}));
    ASSERT_TRUE(outbox.enqueue("E9", writeExam(objects.filePath("b"), "E9"), &error, {4, {9}, {}, {}}));
    // Queued again with one eye left out: what waited of the other stays named.
    ASSERT_TRUE(outbox.enqueue("E7", writeExam(objects.filePath("c"), "E7", false), &error, {3, {7}, {}, {}}));
    const QueuedVisit seven = outbox.contents("E7");
    EXPECT_EQ(std::tuple(seven.patient, seven.exams, seven.tearFilms, seven.reports),
              std::tuple(3, QList<int>{7, 8}, QList<int>{2}, QList<int>{5}));
    EXPECT_TRUE(seven.holds(8, 0, 0, 0) && seven.holds(0, 2, 0, 0) && seven.holds(0, 0, 5, 0) && seven.holds(0, 0, 0, 3));
    EXPECT_FALSE(seven.holds(9, 9, 9, 4));
    ASSERT_TRUE(outbox.withdraw("E7", &error)) << error.toStdString();
    EXPECT_EQ(outbox.pending(), QStringList{"E9"});
    EXPECT_EQ(QDir(box.filePath("S")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"E9"});
}

TEST(Pacs, WorklistOfTheDayForThisStation) {
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("WL"));
    QFile(dir.filePath("WL/lockfile")).open(QIODevice::WriteOnly);  // wlmscpfs locks on it
    // Charset, name, ID, birth date, station, day, time; the bytes Latin-1 where `latin1`.
    const struct {
        const char *charset, *name, *id, *birth, *station, *day, *time;
        bool latin1;
        const char* studyUid;  // the last one is no UID (a leading zero)
    } files[] = {
        {"ISO_IR 192", "da Conceição^João Ávila", "P1", "19610228", "NORVIX", "20261210", "093000", false, "1.2.826.0.1.9"},
        {"ISO_IR 100", "Araújo^Maria José", "P2", "", "NORVIX", "20261210", "0800", true, "1.2.826.0.1.10"},
        {"ISO_IR 192", "Gonçalves^Pedro", "P3", "19651345", "NORVIX", "20261210", "101500.25", true, "1.2.03"},  // not UTF-8
        {"", "Sem^Código", "", "19700101", "NORVIX", "20261210", "110000", false, ""},
        {"", "Outra^Sala", "P5", "19700101", "OUTRA", "20261210", "120000", false, ""},
        {"", "Outro^Dia", "P6", "19700101", "NORVIX", "20261211", "120000", false, ""},
    };
    int n = 0;
    for (const auto& f : files) {
        const QString dump =
            QStringLiteral(
                "(0008,0005) CS [%1]\n(0010,0010) PN [%2]\n(0010,0020) LO [%3]\n(0010,0030) DA [%4]\n(0010,0040) CS "
                "[F]\n"
                "(0008,0050) SH [A%5]\n(0040,1001) SH [RP%5]\n(0010,0021) LO [HOSP]\n(0020,000d) UI [%9]\n"
                "(0032,1060) LO [Pedido %5]\n(0040,0100) SQ\n(fffe,e000) -\n(0040,0001) AE [%6]\n"
                "(0040,0002) DA [%7]\n(0040,0003) TM [%8]\n(0008,0060) CS [OP]\n(0040,0007) LO [Topografia córnea]\n"
                "(0040,0009) SH [S%5]\n(fffe,e00d) -\n(fffe,e0dd) -\n")
                .arg(f.charset, QString::fromUtf8(f.name), f.id, f.birth)
                .arg(++n)
                .arg(f.station, f.day, f.time, f.studyUid);
        write(dir.filePath("%1.dump").arg(n), f.latin1 ? dump.toLatin1() : dump.toUtf8());
        ASSERT_EQ(
            QProcess::execute("dump2dcm", {"-q", dir.filePath("%1.dump").arg(n), dir.filePath("WL/%1.wl").arg(n)}), 0);
    }
    Server wlm;
    wlm.start("wlmscpfs", {"-s", "-dfr", "-csk", "-dfp", dir.path(), QString::number(wlm.port)});
    QList<WorklistItem> items;
    QString error, note;
    ASSERT_TRUE(queryWorklist(peer(wlm.port, "WL"), QDate(2026, 12, 10), "NORVIX", &items, &error, &note))
        << error.toStdString();
    EXPECT_EQ(note, "1 agendamento da lista de trabalho foi ignorado por não ter nome ou código do paciente.");
    const struct {
        const char *name, *id;
        QDate birth;
        QTime time;
    } expected[] = {
        {"Maria José Araújo", "P2", {}, QTime(8, 0)},
        {"João Ávila da Conceição", "P1", QDate(1961, 2, 28), QTime(9, 30)},
        {"Pedro Gonçalves", "P3", {}, QTime(10, 15)},
    };
    ASSERT_EQ(items.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const WorklistItem& w = items[i];
        EXPECT_EQ(std::tie(w.patientName, w.patientId, w.birthDate, w.scheduledTime),
                  std::tuple(QString::fromUtf8(expected[i].name), expected[i].id, expected[i].birth, expected[i].time));
        EXPECT_TRUE(w.scheduledDate == QDate(2026, 12, 10) && w.procedureDescription == "Topografia córnea" &&
                    w.sex == "F");
    }
    EXPECT_EQ(items[1].accessionNumber, "A1");
    // What the exam taken for the item carries; a study UID the objects could not carry is dropped.
    const WorklistItem& p1 = items[1];
    EXPECT_EQ(QStringList({p1.issuerOfPatientId, p1.studyInstanceUid, p1.requestedProcedureId,
                           p1.requestedProcedureDescription, p1.scheduledStepId}),
              QStringList({"HOSP", "1.2.826.0.1.9", "RP1", "Pedido 1", "S1"}));
    EXPECT_EQ(items[2].studyInstanceUid, "");
}

TEST(Pacs, ReadableNames) {
    const char* const cases[][2] = {{"da Conceição^João Ávila", "João Ávila da Conceição"},
                                    {"Silva", "Silva"},
                                    {"Souza^Ana^Maria^Dra.^Filha", "Dra. Ana Maria Souza Filha"},
                                    {"^Ana", "Ana"},
                                    {" Silva ^ Ana  Maria =ideographic", "Ana Maria Silva"},
                                    {"", ""},
                                    {"^^^", ""}};
    for (const auto& c : cases) EXPECT_EQ(readableName(QString::fromUtf8(c[0])), QString::fromUtf8(c[1])) << c[0];
}
