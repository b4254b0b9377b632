#pragma once
// The new-exam window offscreen on a fresh database, with the recording test modules: a
// capture module whose bitmaps carry a marker (10 + eye; orthokeratology 10 * (eye + 1) +
// capture), processing modules whose measures follow the marker, map_rec as Halden.so,
// map_novis as Sorvik.so and multi_mapas_orto as Fennic.so. NORVIX_TEST_CAPTURE and
// NORVIX_TEST_PROCESS choose bad input (see tests/modules/testlib).
#include <QDateTime>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>

#include "db/DbTestSupport.h"
#include "exams/UfrmExames.h"
#include "exams/UfrmNovoExame.h"
#include "modules/ModuleTestSupport.h"
#include "platform/ui/MessageSeam.h"
#include "records/ExameNovo.h"

using norvix::TfrmExames;
using norvix::TfrmNovoExame;

class QLabel;

namespace newexam {

// A clock that stands still unless waited on: two saves fall in the same second.
struct StillClock : norvix::TRelogio {
    QDateTime now{QDate(2025, 3, 14), QTime(10, 20, 30, 400)};
    StillClock() { norvix::setRelogio(this); }
    ~StillClock() override { norvix::setRelogio(nullptr); }
    QDateTime Agora() override { return now; }
    void Espera(int ms) override { now = now.addMSecs(ms); }
};

class NewExam : public dbtest::DbTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // The window of that kind for the patient, shown; with the browser when asked.
    TfrmNovoExame* open(TfrmNovoExame::Tipo tipo = TfrmNovoExame::Tipo::Topografia, bool withBrowser = false);
    void chooseDoctor(const QString& name = QStringLiteral("Bruno Alves"));
    // Runs "Executar" of the eye n times.
    void run(int eye, int times = 1);
    // The eye at step 4 (captured, measured, map shown).
    void toStep4(int eye) { run(eye, 3); }
    QLabel* label(int eye, int tag) const;
    bool isBlue(int eye, int tag) const;
    QStringList recorded(const QString& entry) const { return record.lines().filter("|" + entry + "|"); }
    int exams() { return count(QStringLiteral("SELECT COUNT(*) FROM Exames")); }
    int totalExames() {
        return dm->selectInt(QStringLiteral("SELECT TotalExames FROM Pacientes WHERE Codigo = :C"), {{"C", patient}},
                             QStringLiteral("TotalExames"), norvix::TDMPrincipal::Close::Yes);
    }
    // Every file and folder under the exams folder.
    QStringList examsFolder() const;
    // Firebird triggers that fail the insert or update of a table while its name is set with
    // failAt ("EXAMES", "EXAMESORTO", "ARQUIVOS", "PACIENTES"; empty for none).
    void installFailingTriggers();
    void failAt(const QString& table);

    QTemporaryDir files;
    QString examsDir;
    modtest::MapsDir maps;
    modtest::Record record;
    norvix::RecordingMessageSeam seam;
    QPointer<TfrmExames> browser;
    QPointer<TfrmNovoExame> window;
    int doctor = 0, patient = 0;
};

}  // namespace newexam
