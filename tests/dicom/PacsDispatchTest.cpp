// A demonstration clinic's exams sent through the outbox to Orthanc on loopback.
#include <QBuffer>
#include <QMap>
#include <QSet>
#include <QPainter>
#include <QPdfWriter>

#include "dicom/ExamVisit.h"
#include "dicom/ExportInstallation.h"
#include "dicom/PacsDispatch.h"
#include "dicom/PacsServers.h"
#include "platform/Errors.h"
#include "records/UArquivosExame.h"
#include "records/Exclusao.h"
#include "records/LaudoNovo.h"
#include "records/UDExames.h"
#include "records/UDLagrima.h"
#include "records/UDLaudos.h"
#include "records/UfrmDataModule.h"
#include "tearfilm/TearFilm.h"
#include "records/UDPacientesRis.h"
#include "records/UDPedidosRis.h"
#include "shell/DemoInstallation.h"

using namespace norvix;
using namespace norvix::dicom;
using namespace pacstest;

namespace {

struct Clinic {
    DemoInstallation demo{false, true};
    ExportInstallation installation;
    int first = 0, second = 0;  // the two eyes of one visit
    QList<ExamVisit> others;    // a visit of both eyes of each other patient that has one
};
Clinic* clinic = nullptr;

class PacsDispatchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        clinic = new Clinic;
        QString why;
        ASSERT_TRUE(clinic->demo.ok() && clinic->installation.open(clinic->demo.root(), &why)) << why.toStdString();
        QSet<int> patients;
        for (int code = 1; code < 200; ++code)
            if (const std::optional<TExame> e = DExames().SelectExameByCodigo(code))
                if (const ExamVisit v = visitOf(*e, DExames().SelectExamesByPaciente(e->paciente));
                    v.exams.size() == 2 && !patients.contains(e->paciente)) {
                    patients << e->paciente;
                    if (!clinic->first) clinic->first = v.exams[0].codigo, clinic->second = v.exams[1].codigo;
                    else clinic->others << v;
                }
        ASSERT_TRUE(clinic->first) << "a clínica de demonstração não tem uma visita dos dois olhos";
    }
    static void TearDownTestSuite() { delete clinic; }
    QTemporaryDir out_;
};

TEST_F(PacsDispatchTest, KeptWhilePacsIsDownSentWhenBackAndAResendReplaces) {
    const PacsDispatch d(peer(freePort(), "ORTHANC"), clinic->installation.station(), out_.filePath("S"));
    QString error, key;
    ASSERT_TRUE(d.queue(clinic->second, &error, &key)) << error.toStdString();
    EXPECT_EQ(key, QStringLiteral("E%1").arg(clinic->first));  // the visit's, whichever eye was asked
    const Outbox::Flush down = d.flush();
    EXPECT_EQ(std::pair(down.sent, down.failed), std::pair(0, 1));
    EXPECT_TRUE(sendOutcomeText(0, 1, down.error, d.waitingText()).endsWith(" 1 exame aguardando envio ao PACS."));
    Orthanc orthanc(d.peer().port);
    const struct { const char* name; QList<int> queued; int sent; } rounds[] = {
        {"o PACS de volta", {clinic->first}, 1}, {"reenviado", {clinic->first, clinic->second}, 1}, {"nada", {}, 0}};
    for (const auto& r : rounds) {
        for (int code : r.queued) ASSERT_TRUE(d.queue(code, &error)) << r.name << error.toStdString();
        EXPECT_EQ(d.waiting(), r.queued.isEmpty() ? 0 : 1) << r.name;
        const Outbox::Flush f = d.flush();
        EXPECT_EQ(std::pair(f.sent, f.failed), std::pair(r.sent, 0)) << r.name << f.error.toStdString();
        EXPECT_EQ(orthanc.instances(), 10) << r.name;  // two eyes, photograph and four maps each, never twice
        EXPECT_EQ(d.waitingText(), "Nenhum exame aguardando envio ao PACS") << r.name;
    }
}

// A visit and its saved report through the outbox, read back from Orthanc's REST interface: the
// instances, their classes, the patient, the laterality and the maps' keratometry.
TEST_F(PacsDispatchTest, AVisitWithItsReportAsOrthancHoldsIt) {
    const std::optional<TExame> exam = DExames().SelectExameByCodigo(clinic->first);
    ASSERT_TRUE(exam);
    TLaudoNovo report{exam->paciente, exam->direito() ? clinic->first : clinic->second,
                      exam->direito() ? clinic->second : clinic->first, exam->data, QTime(11, 0), {}};
    report.caixas[3] = QStringLiteral("Córneas regulares.");
    const int code = GravaLaudoNovo(report);
    const ReportPrinter printer = [code](int asked, QString*) -> std::optional<QByteArray> {
        EXPECT_EQ(asked, code);
        QByteArray pdf;
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        QPainter(&writer).drawText(100, 100, QStringLiteral("Córneas regulares."));
        return pdf;
    };
    Orthanc orthanc;
    const PacsDispatch d(peer(orthanc.port, "ORTHANC"), clinic->installation.station(), out_.filePath("S"), printer);
    QString error;
    ASSERT_TRUE(d.queue(clinic->first, &error)) << error.toStdString();
    ASSERT_EQ(d.flush().sent, 1);
    ASSERT_EQ(orthanc.instances(), 11);  // two eyes, photograph and four maps each, and the report
    QMap<QString, int> classes;
    for (const QJsonValue& id : orthanc.get("/instances").array()) {
        const QJsonObject tags = orthanc.get("/instances/" + id.toString() + "/simplified-tags").object();
        const QString sopClass = tags["SOPClassUID"].toString();
        ++classes[sopClass];
        EXPECT_EQ(tags["PatientID"].toString(), localPatientId(clinic->installation.station().installationId, exam->paciente).id);
        EXPECT_FALSE(tags["PatientName"].toString().isEmpty());
        if (sopClass == "1.2.840.10008.5.1.4.1.1.104.1") continue;  // the report: both eyes
        EXPECT_TRUE(tags["ImageLaterality"] == "R" || tags["ImageLaterality"] == "L");
        if (sopClass != "1.2.840.10008.5.1.4.1.1.82.1") continue;
        const double steep = tags["SteepKeratometricAxisSequence"][0]["KeratometricPower"].toString().toDouble();
        const double flat = tags["FlatKeratometricAxisSequence"][0]["KeratometricPower"].toString().toDouble();
        EXPECT_TRUE(flat > 38 && steep >= flat && steep < 52) << steep << " " << flat;
    }
    EXPECT_EQ(classes, (QMap<QString, int>{{"1.2.840.10008.5.1.4.1.1.104.1", 1},
                                            {"1.2.840.10008.5.1.4.1.1.77.1.5.1", 2},
                                            {"1.2.840.10008.5.1.4.1.1.82.1", 8}}));
}

// What is deleted while its visit waits for a PACS that is down never reaches the PACS once it
// is back: taken out at the deletion, or, when that did not happen (the clean-up failed, another
// station deleted it), dropped by the check before the send. What remains of the visit (the
// other eye, the exams of a deleted report) is queued again and named. A deletion refused keeps
// its visit.
TEST_F(PacsDispatchTest, WhatIsDeletedWhileQueuedNeverReachesThePacs) {
    ASSERT_GE(clinic->others.size(), 5) << "a clínica de demonstração tem poucas visitas dos dois olhos";
    auto deleteAll = [](int patient) {
        for (const TExame& e : DExames().SelectExamesByPaciente(patient)) ExcluiExame(e);
    };
    const ReportPrinter printer = [](int, QString*) -> std::optional<QByteArray> {
        QByteArray pdf;
        QBuffer buffer(&pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        QPainter(&writer).drawText(100, 100, QStringLiteral("Laudo."));
        return pdf;
    };
    auto writeReport = [](const TExame& a, const TExame* b) {
        TLaudoNovo report{a.paciente, -1, -1, a.data, QTime(11, 0), {}};
        for (const TExame* e : {&a, b})
            if (e) (e->direito() ? report.medidaOD : report.medidaOS) = e->codigo;
        report.caixas[3] = QStringLiteral("Córneas regulares.");
        return GravaLaudoNovo(report);
    };
    int report = 0;
    using Step = std::function<TExclusao(const ExamVisit&, const QString& folder)>;
    const struct {
        const char* name;
        int visit;       // in clinic->others
        bool sentFirst;  // queued and sent in full before the deletion
        Step before;     // before the queue
        Step unheard;    // a deletion the outbox does not hear of (failed clean-up, another station)
        Step listening;  // then one it hears of
        Step after;      // after the deletions, before the check
        int waitingAfter, dropped, reachesPacs;
    } cases[] = {
        {"exame excluído", 0, false, {}, {}, [](const ExamVisit& v, const QString&) { return ExcluiExame(v.exams[1]); }, {}, 0, 0, 0},
        {"outro olho excluído em outra estação", 1, false, {},
         [](const ExamVisit& v, const QString&) { return ExcluiExame(v.exams[0]); }, {}, {}, 1, 1, 5},
        {"paciente excluído", 2, false, {},
         [&](const ExamVisit& v, const QString&) {
             deleteAll(v.exams[0].paciente);
             return TExclusao{};
         },
         [](const ExamVisit& v, const QString&) { return ExcluiPaciente(v.exams[0].paciente); }, {}, 0, 0, 0},
        {"exclusão recusada (o paciente tem exames)", 3, false, {}, {},
         [](const ExamVisit& v, const QString&) { return ExcluiPaciente(v.exams[0].paciente); }, {}, 1, 0, 10},
        {"laudo excluído no assistente", 3, false,
         [&](const ExamVisit& v, const QString&) {
             report = writeReport(v.exams[0], &v.exams[1]);
             return TExclusao{};
         },
         [&](const ExamVisit&, const QString&) {
             DLaudos().DeleteLaudosByCodigo(report);  // as the wizard does, with no one told
             return TExclusao{};
         },
         {}, {}, 1, 1, 10},
        // The contents left by a send in full describe nothing queued: a new report with the
        // remaining eye goes, not dropped for the eye deleted since.
        {"reenvio depois de um envio completo", 3, true, {}, {},
         [](const ExamVisit& v, const QString&) { return ExcluiExame(v.exams[1]); },
         [&](const ExamVisit& v, const QString&) {
             writeReport(v.exams[0], nullptr);
             return TExclusao{};
         },
         1, 0, 11},
        // Queued before the contents were kept: only the key's exam is known there.
        {"visita sem conteúdo registrado", 4, false, {},
         [](const ExamVisit& v, const QString& folder) {
             EXPECT_TRUE(QFile::remove(folder + QStringLiteral("/E%1/.conteudo").arg(v.exams[0].codigo)));
             return TExclusao{};
         },
         [](const ExamVisit& v, const QString&) { return ExcluiExame(v.exams[1]); }, {}, 1, 1, 5},
    };
    int row = 0;
    for (const auto& c : cases) {
        const ExamVisit& visit = clinic->others[c.visit];
        const QString folder = out_.filePath(QString::number(row++));
        Orthanc orthanc;
        const PacsDispatch down(peer(freePort(), "ORTHANC"), clinic->installation.station(), folder, printer);
        const PacsDispatch up(peer(orthanc.port, "ORTHANC"), clinic->installation.station(), folder, printer);
        QString error;
        if (c.before) c.before(visit, folder);
        const PacsDispatch& first = c.sentFirst ? up : down;
        ASSERT_TRUE(first.queue(visit.exams[0].codigo, &error)) << c.name << error.toStdString();
        ASSERT_EQ(first.flush().failed, c.sentFirst ? 0 : 1) << c.name;
        TExclusao done;
        if (c.unheard) c.unheard(visit, folder);
        const int listener = withdrawOnDeletion(folder);
        try {
            if (c.listening) done = c.listening(visit, folder);
        } catch (const Error&) {
        }
        DeixaDeOuvirExclusoes(listener);
        if (c.after) {
            c.after(visit, folder);
            ASSERT_TRUE(up.queue(visit.exams[0].codigo, &error)) << c.name << error.toStdString();
        }
        EXPECT_EQ(up.waiting(), c.waitingAfter) << c.name;
        EXPECT_TRUE(done.avisos.isEmpty()) << c.name << done.avisos.join(' ').toStdString();
        if (row == 1) EXPECT_EQ(done.retiradosDaFila, (QList<int>{visit.exams[0].codigo, visit.exams[1].codigo}));
        QStringList dropped;
        Outbox(folder).removeSent();  // as the send does first
        ASSERT_TRUE(up.dropDeleted(&dropped, &error)) << c.name << error.toStdString();
        EXPECT_EQ(dropped.size(), c.dropped) << c.name << dropped.join('\n').toStdString();
        if (c.dropped && c.reachesPacs)  // what was missing named, the rest queued again
            EXPECT_TRUE(dropped.join(' ').contains(QStringLiteral("posto na fila de novo"))) << c.name << dropped.join('\n').toStdString();
        const Outbox::Flush f = up.flush();
        EXPECT_EQ(f.failed, 0) << c.name << f.error.toStdString();
        EXPECT_EQ(orthanc.instances(), c.reachesPacs) << c.name;
        EXPECT_EQ(up.waiting(), 0) << c.name;
        Outbox(folder).removeSent();
        EXPECT_TRUE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty()) << c.name;
    }
}

// A part of a visit that cannot be read is left out and named; the rest is queued.
TEST_F(PacsDispatchTest, AnUnreadablePartIsLeftOutWithAWarningAndTheRestQueued) {
    ASSERT_GE(clinic->others.size(), 6);
    const ExamVisit& visit = clinic->others[5];
    const TExame& gone = visit.exams[1];
    ASSERT_TRUE(QFile::remove(CaminhoArquivoExame(gone.paciente, gone.codigo, 'm')));
    lagrima::TearFilmResult r;
    r.recordedS = 14, r.fps = 30;
    r.breakS.assign(lagrima::kBands * lagrima::kGroups, r.kNone);
    const TExame& e = visit.exams[0];
    const int film = DLagrima().Grava({e.paciente, e.medico, e.data, e.hora.addSecs(60), e.olho}, r, "filme");
    DMPrincipal().execProcedure(QStringLiteral("UPDATE ExamesLagrima SET Resultado = :R WHERE Codigo = :C"),
                                {{"R", QByteArray("[]")}, {"C", film}});
    const PacsDispatch d(peer(freePort(), "ORTHANC"), clinic->installation.station(), out_.filePath("S"));
    QString error, key;
    QStringList warnings;
    ASSERT_TRUE(d.queue(e.codigo, &error, &key, &warnings)) << error.toStdString();
    EXPECT_EQ(Outbox(d.outbox()).files(key).size(), 5);  // the readable eye: photograph and four maps
    ASSERT_EQ(warnings.size(), 2) << warnings.join('\n').toStdString();
    EXPECT_TRUE(warnings.join(' ').contains(QStringLiteral("Exame %1: mapa do olho").arg(gone.codigo))) << warnings.join('\n').toStdString();
    EXPECT_TRUE(warnings.join(' ').contains(QStringLiteral("filme lacrimal do olho %1 deixado de fora").arg(e.olho)));
    // Nothing readable at all: refused with the reasons, nothing queued.
    ASSERT_TRUE(QFile::remove(CaminhoArquivoExame(e.paciente, e.codigo, 'm')));
    const PacsDispatch other(d.peer(), clinic->installation.station(), out_.filePath("T"));
    EXPECT_FALSE(other.queue(e.codigo, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("mapa do olho"))) << error.toStdString();
    EXPECT_EQ(other.waiting(), 0);
}

// Who Orthanc files a visit under: this installation's own ID, so another installation's patient
// of the same code stays another patient; a RIS ID linked after the visit went out only once the
// operator passes the visit over (having deleted it on the PACS); and the worklist's order.
TEST_F(PacsDispatchTest, AVisitKeepsTheIdItWentOutUnderAndCarriesItsOrder) {
    // A visit the deletion and unreadable-part tests above leave alone.
    ASSERT_GE(clinic->others.size(), 7) << "a clínica de demonstração tem poucas visitas dos dois olhos";
    const TExame exam = clinic->others.last().exams[0];
    const QString installation = clinic->installation.station().installationId, uid = "1.2.826.0.1.3680043.10.999.7";
    const IssuedId local = localPatientId(installation, exam.paciente);
    Orthanc orthanc;
    const PacsDispatch d(peer(orthanc.port, "ORTHANC"), clinic->installation.station(), out_.filePath("S"));
    Photograph photo;
    photo.image = QImage(8, 8, QImage::Format_Grayscale8);
    photo.image.fill(0);
    Written w;
    QString error;
    Visit elsewhere;
    elsewhere.installationId = "outra", elsewhere.examCode = "E1", elsewhere.dateTime = QDateTime::currentDateTime();
    ASSERT_TRUE(writePhotograph({localPatientId("outra", exam.paciente).id, "Outra Pessoa", {}, "F", "outra", {}},
                                elsewhere, photo, out_.path(), &w, &error) &&
                send(d.peer(), {w.filePath}, {}, nullptr, &error))
        << error.toStdString();
    DPedidosRis().Escolhe({exam.paciente, "RIS-7", "", "A123", uid, "RP9", "Topografia", "SPS9", exam.data, {}, 0});
    DPedidosRis().Anexa(exam.paciente, exam.codigo, exam.data);  // as the exam's save does
    const struct { const char* step; std::function<void()> before; QString id, issuer, other; } rounds[] = {
        {"sem vínculo", {}, local.id, installation, ""},
        {"vinculado depois do envio", [&] { DPacientesRis().Vincula(exam.paciente, "RIS-7", ""); }, local.id, installation, "RIS-7"},
        {"passada ao ID do RIS", [&] {
             const QList<SentVisit> sent = visitsSentUnderAnotherId(installation, exam.paciente);
             ASSERT_EQ(sent.size(), 1);
             const QString question = sentUnderAnotherIdQuestion(sent, {"RIS-7", ""});
             EXPECT_TRUE(question.contains(local.id) && question.endsWith("Passar essa visita ao ID RIS-7?")) << question.toStdString();
             for (const QJsonValue& p : orthanc.get("/patients").array())
                 if (orthanc.get("/patients/" + p.toString()).object().value("MainDicomTags")["PatientID"] == local.id)
                     orthanc.get("/patients/" + p.toString(), "DELETE");
             EXPECT_EQ(passVisitsToCurrentId(exam.paciente), 1);
         }, "RIS-7", "", local.id}};
    for (const auto& r : rounds) {
        if (r.before) r.before();
        ASSERT_TRUE(d.queue(exam.codigo, &error) && d.flush().failed == 0) << r.step << error.toStdString();
        EXPECT_EQ(orthanc.get("/patients").array().size(), 2) << r.step;  // never merged with the other installation's
        int ours = 0;
        for (const QJsonValue& i : orthanc.get("/instances").array()) {
            const QJsonObject tags = orthanc.get("/instances/" + i.toString() + "/simplified-tags").object();
            if (tags["StudyInstanceUID"] != uid) continue;
            ++ours;
            EXPECT_EQ(QStringList({tags["PatientID"].toString(), tags["IssuerOfPatientID"].toString(),
                                   tags["OtherPatientIDsSequence"][0]["PatientID"].toString(),
                                   tags["AccessionNumber"].toString(),
                                   tags["RequestAttributesSequence"][0]["RequestedProcedureID"].toString()}),
                      QStringList({r.id, r.issuer, r.other, "A123", "RP9"}))
                << r.step;
        }
        EXPECT_GE(ours, 2) << r.step;  // photograph and map at least, all in the RIS's study
    }
}

// A RIS link undone after a visit was queued under its ID: the visit would go out under an ID
// the operator said is another person's. It is taken out and named; another patient's stays.
TEST_F(PacsDispatchTest, AnUnlinkedRisIdTakesItsQueuedVisitsOut) {
    ASSERT_GE(clinic->others.size(), 8) << "a clínica de demonstração tem poucas visitas dos dois olhos";
    const ExamVisit& visit = clinic->others[6];  // never written by the tests above
    const int patient = visit.exams[0].paciente;
    DPacientesRis().Vincula(patient, QStringLiteral("RIS-777"), QString());
    const PacsDispatch d(peer(freePort(), "ORTHANC"), clinic->installation.station(), out_.filePath("R"));
    QString error, key, other;
    ASSERT_TRUE(d.queue(visit.exams[0].codigo, &error, &key)) << error.toStdString();
    ASSERT_TRUE(d.queue(clinic->first, &error, &other)) << error.toStdString();
    const int listener = withdrawOnUnlinking(d.outbox());
    const QStringList told = DPacientesRis().Desvincula(patient, QStringLiteral("RIS-777"));
    DeixaDeOuvirDesvinculos(listener);
    EXPECT_EQ(Outbox(d.outbox()).pending(), QStringList{other});
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].contains(key) && told[0].contains(QStringLiteral("RIS-777"))) << told[0].toStdString();
}

}  // namespace
