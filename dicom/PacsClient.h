#pragma once
// Talking to the clinic's PACS with DCMTK: a connection check (C-ECHO), sending the exam's
// objects (C-STORE) and reading the day's worklist (Modality Worklist C-FIND). Every answer
// meant for the operator is Portuguese; nothing here throws, and a failed peer only ever
// gives a reason, never a lost or altered file.
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTime>
#include <functional>

namespace norvix::dicom {

// Where the PACS is and how this station introduces itself.
struct PacsPeer {
    QString localAeTitle = QStringLiteral("NORVIX");  // this station's AE title (calling)
    QString peerAeTitle;                              // the PACS's AE title (called)
    QString host;
    int port = 104;
    int timeoutSeconds = 10;  // for the connection and for each answer awaited
    // How the answers for the operator name this server: a masculine noun, as it follows "o",
    // "do" and "no" there ("servidor da lista de trabalho" for the worklist's).
    QString serverName = QStringLiteral("PACS");
};

// The settings' own faults (empty AE title, port out of range...), in Portuguese; empty when usable.
QString checkPeer(const PacsPeer& peer);

// C-ECHO. True when the PACS answered; `answer` always says what happened, for the operator.
bool echo(const PacsPeer& peer, QString* answer);

// What became of one file of a send.
struct StoreResult {
    QString file;
    bool stored = false;
    QString reason;  // why not, in Portuguese; a warning status of the PACS when stored
};

// Called after each file: files done so far, and the total.
using SendProgress = std::function<void(int done, int total)>;

// C-STORE of `files` in one association, proposing the SOP classes and transfer syntaxes they
// have (and an uncompressed one besides, for a PACS that does not take JPEG). `results` gets
// one entry per file, in order. True only when every file was stored; otherwise `error` says
// why (a refused or silent peer, or how many files failed). The files are only read.
bool send(const PacsPeer& peer, const QStringList& files, const SendProgress& progress, QList<StoreResult>* results,
          QString* error);

// One scheduled procedure step of the worklist.
struct WorklistItem {
    QString patientName;  // readable, "Given Family"
    QString patientId;
    QString issuerOfPatientId;  // the RIS's authority for patientId; empty when it sent none
    QDate birthDate;  // null when missing or not a valid date
    QString sex;      // "M", "F", "O" or empty
    QString accessionNumber;
    QString studyInstanceUid;  // the study the RIS wants; empty when it gave none (or an invalid UID)
    QString requestedProcedureId, requestedProcedureDescription;
    QString scheduledStepId;
    QDate scheduledDate;
    QTime scheduledTime;  // null when the PACS gave none
    QString procedureDescription;  // the step's, else the requested procedure's: for the operator
};

// "Family^Given^Middle^Prefix^Suffix" (the alphabetic group) as one would write it,
// "Prefix Given Middle Family Suffix", spaces collapsed.
QString readableName(const QString& dicomName);

// The procedure steps scheduled on `day` for `stationAeTitle`. Items without a patient name or
// ID are left out and counted in `note` (Portuguese, empty when nothing was left out).
bool queryWorklist(const PacsPeer& peer, QDate day, const QString& stationAeTitle, QList<WorklistItem>* items,
                   QString* error, QString* note = nullptr);

}  // namespace norvix::dicom
