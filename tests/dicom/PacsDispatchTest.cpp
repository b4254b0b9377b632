// A demonstration clinic's exams sent through the outbox to Orthanc on loopback.
#include <QBuffer>
#include <QMap>
#include <QPainter>
#include <QPdfWriter>

#include "dicom/ExamVisit.h"
#include "dicom/ExportInstallation.h"
#include "dicom/PacsDispatch.h"
#include "dicom/PacsServers.h"
#include "records/LaudoNovo.h"
#include "records/UDExames.h"
#include "shell/DemoInstallation.h"

using namespace norvix;
using namespace norvix::dicom;
using namespace pacstest;

namespace {

struct Clinic {
    DemoInstallation demo{false, true};
    ExportInstallation installation;
    int first = 0, second = 0;  // the two eyes of one visit
};
Clinic* clinic = nullptr;

class PacsDispatchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        clinic = new Clinic;
        QString why;
        ASSERT_TRUE(clinic->demo.ok() && clinic->installation.open(clinic->demo.root(), &why)) << why.toStdString();
        for (int code = 1; code < 200 && !clinic->first; ++code)
            if (const std::optional<TExame> e = DExames().SelectExameByCodigo(code))
                if (const ExamVisit v = visitOf(*e, DExames().SelectExamesByPaciente(e->paciente)); v.exams.size() == 2)
                    clinic->first = v.exams[0].codigo, clinic->second = v.exams[1].codigo;
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
        EXPECT_EQ(tags["PatientID"].toString(), QString::number(exam->paciente));
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

}  // namespace
