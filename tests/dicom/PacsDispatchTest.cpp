// A demonstration clinic's exams sent through the outbox to Orthanc on loopback.
#include "dicom/ExamVisit.h"
#include "dicom/ExportInstallation.h"
#include "dicom/PacsDispatch.h"
#include "dicom/PacsServers.h"
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

}  // namespace
