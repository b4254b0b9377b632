#pragma once
// The DICOM objects of an exam's visit, read from an open installation: for each eye of the
// visit (see ExamVisit.h), the stored central ring picture as an ophthalmic photograph, the
// axial curvature map of the ring data with its figures, pointing at that photograph (and the
// tangential, refractive and elevation maps whose modules are installed), and,
// when the patient has a saved report on the exam, that report's printed page as a PDF; and
// the break-time map of a tear-film exam taken in the same sitting, as a derived photograph.
//
// Everything is read through the records layer: the data module must be connected and the
// shared path records (exams, reports) filled, as ExportInstallation leaves them. Not the .exp
// file of the exam browser (exams/ExamExport.h): that one is for another workstation.
#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "dicom/DicomObjects.h"

namespace norvix {
struct TExame;
}

namespace norvix::dicom {

struct ExamVisit;

// Who writes: the installation and this station as every object names them.
struct Station {
    QString installationId;  // never changed once set (the UIDs derive from it)
    QString stationName;     // this station's AE title
    QString institution;     // the clinic's name
    bool fixedIncrement = false;  // the map's colour scale as the map window chooses it
    double increment = 0;
    // Where the map modules are installed: the tangential, refractive and elevation maps are
    // written when theirs are (the axial map always is).
    QString mapsFolder;
};

// What was written for one exam (one eye), or why nothing was.
struct ExamOutcome {
    int examCode = 0;
    QList<Written> written;  // photograph, maps (axial first), then any report
    QString error;           // Portuguese; empty when written
    // Parts joined to this eye that could not be read and were left out (a report that cannot
    // be printed, an unreadable tear-film result), each naming the part, in Portuguese.
    QStringList warnings;
    bool ok() const { return error.isEmpty(); }
};

// What a visit holds: its patient, its exams (every eye of it, written or not), and the tear
// films and reports written with it.
struct VisitParts {
    int patient = 0;
    QList<int> exams, tearFilms, reports;
};

// A saved report printed to PDF bytes as the report window prints it; none, with the
// reason in *error, when it cannot be printed. Given by the caller that can print.
using ReportPrinter = std::function<std::optional<QByteArray>(int reportCode, QString* error)>;

// ---- who the objects say the patient is ----
//
// Outside this system a patient is the pair (issuer, ID). A patient the RIS never named goes
// out under this installation's own ID, never the bare code (every installation and every RIS
// also counts from 1), with the installation's identity as issuer. A patient linked to the RIS
// goes out under the RIS's ID (and the RIS's issuer when the worklist gave one); the other IDs
// go along in Other Patient IDs. The identity a visit first went out under stays that visit's
// (records/UDVisitasDicom.h): a link made later applies to new visits.

// This installation's own ID for a patient: "NORVIX-", the first 8 characters of the
// installation's identity and the code ("NORVIX-3F2A9C1B-17"), issued by the identity itself.
IssuedId localPatientId(const QString& installationId, int patientCode);
// The RIS IDs linked to the patient, the one the objects carry first; none when not linked.
QList<IssuedId> risIdentities(int patientCode);
// Every identity of the patient, the one a new visit goes out under first. Reads the database.
QList<IssuedId> patientIdentities(const QString& installationId, int patientCode);

// A visit of the patient already written under an ID a new visit would not get now.
struct SentVisit {
    QString key;
    IssuedId sentAs;
    QDate date;
};
// Reads the database (raises Error). For the place where a link is made: what to tell.
QList<SentVisit> visitsSentUnderAnotherId(const QString& installationId, int patientCode);
// The question for the operator about them (empty when there are none): they keep their ID, and
// whether to pass them to the current one (after deleting them on the PACS, and sending again).
QString sentUnderAnotherIdQuestion(const QList<SentVisit>& visits, const IssuedId& now);
// The operator said yes: the patient's visits forget the identity they went out under, and
// their next send or export takes the current one. How many. Raises Error.
int passVisitsToCurrentId(int patientCode);

class ExamExport {
public:
    explicit ExamExport(Station station, ReportPrinter printReport = {});

    // Every eye of the visit of examCode into folder. One outcome per exam of the visit, the
    // one asked for first; just that one, with the reason, when it cannot be read at all (no
    // such exam, the database failing).
    QList<ExamOutcome> writeVisit(int examCode, const QString& folder, VisitParts* parts = nullptr) const;

private:
    // reportsWritten: the reports already written for the visit (a report on both eyes is
    // written once, with the first eye), and this eye's added.
    ExamOutcome writeEye(const TExame& exam, const Patient& patient, const Visit& visit, const QString& folder,
                         QSet<int>* reportsWritten) const;
    // The eye's maps, the axial first; false with the reason when the ring data cannot be read.
    bool maps(const TExame& exam, double framePitchMm, QList<TopographyMap>* maps, QString* error) const;
    void writeReports(const TExame& exam, const Patient& patient, const Visit& visit, const QString& folder,
                      QSet<int>* written, ExamOutcome* out) const;
    // The patient's identity and the RIS's order for the visit; the reason when they cannot be read.
    QString identify(int patientCode, const ExamVisit& exams, Patient* patient, Visit* visit) const;
    void writeTearFilms(int patientCode, const QDateTime& start, const Patient& patient, const Visit& visit,
                        const QString& folder, QList<ExamOutcome>* outcomes, QList<int>* written) const;

    Station station_;
    ReportPrinter printReport_;
};

}  // namespace norvix::dicom
