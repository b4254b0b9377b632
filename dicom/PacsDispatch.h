#pragma once
// Sending an exam's visit to the clinic's PACS from inside the program: the visit's objects are
// written and put in the installation's outbox first, then everything waiting is sent. Nothing
// is sent from anywhere else, so an exam the PACS did not take stays in the outbox for the
// next try (the next send, or the next opening of the exam browser) and is never lost.
#include <QObject>
#include <QString>
#include <QStringList>

#include "dicom/ExamExport.h"
#include "dicom/Outbox.h"
#include "dicom/PacsClient.h"

namespace norvix {
class TBIniSettings;
}

namespace norvix::dicom {

// The installation's outbox: "<installation>/DICOM/Saida", on the station itself (a database
// shared over the network has no part in it).
QString outboxFolder(const QString& installationRoot);

class PacsDispatch {
public:
    PacsDispatch(PacsPeer peer, Station station, QString outboxFolder, ReportPrinter printReport = {});
    // The PACS, this station and the outbox as the settings and the installation name them.
    static PacsDispatch fromSettings(const TBIniSettings& settings, const QString& installationRoot,
                                     ReportPrinter printReport = {});

    // Why no exam can be sent with these settings (no PACS AE title or host, a bad port...),
    // in Portuguese; empty when the PACS is configured.
    QString notConfigured() const;

    // Writes the visit of examCode and puts it in the outbox under the visit's key, replacing
    // what of it was already waiting. Reads the database: the thread that owns it calls this.
    // A part of the visit that cannot be read (an eye without its ring data, a tear-film result,
    // a report) is left out, named in `warnings`, and the rest is queued. False, with the reason
    // in Portuguese, when the PACS is not configured (nothing written), or nothing of the visit
    // could be written (nothing of this call queued).
    bool queue(int examCode, QString* error, QString* key = nullptr, QStringList* warnings = nullptr) const;

    // Takes out of the outbox every waiting visit with an exam, tear film, report or patient no
    // longer in the database (deleted while taking it out failed, or deleted at another station
    // sharing the database), or queued without its contents recorded. A visit whose patient and
    // some exam remain is queued again from what remains; one with neither goes. `dropped` gets
    // one Portuguese line per visit taken out, naming what was missing and what became of the
    // rest. Reads the database: its thread calls this. False, with the reason, when the database
    // cannot tell (then nothing should be sent).
    bool dropDeleted(QStringList* dropped, QString* error) const;

    // Sends everything waiting, without looking at the database (see dropDeleted). Any thread;
    // two sends of one outbox never overlap.
    Outbox::Flush flush(const SendProgress& progress = {}) const;

    int waiting() const;
    QString waitingText() const { return Outbox::countText(waiting()); }
    const QString& outbox() const { return outbox_; }
    const PacsPeer& peer() const { return peer_; }

private:
    PacsPeer peer_;
    Station station_;
    QString outbox_;
    ReportPrinter printReport_;
};

// Listens for deletions in the records (records/Exclusao.h) for as long as the program runs, and
// takes out of this outbox every waiting visit that holds what was deleted. Returns the
// listener's id (records' DeixaDeOuvirExclusoes stops it).
int withdrawOnDeletion(const QString& outboxFolder);

// Listens for RIS links undone (records/UDPacientesRis.h) and takes out of this outbox the
// patient's waiting visits that would go out under the unlinked ID; the text it returns names
// them, and the visits already written under that ID, for the operator. Returns the
// listener's id (DeixaDeOuvirDesvinculos stops it).
int withdrawOnUnlinking(const QString& outboxFolder);

// A send on a worker thread (the window stays free while the network works). The signals reach
// the receivers queued, in their own thread; a receiver closed meanwhile simply misses them,
// and an exam not sent stays in the outbox. The job deletes itself once finished was emitted.
class PacsSendJob : public QObject {
    Q_OBJECT
public:
    // Starts the send at once; connect to the signals straight after (they come queued). On the
    // next turn of the caller's event loop, in the caller's thread (the database's), the visits
    // of deleted exams are dropped first (PacsDispatch::dropDeleted); then the worker sends.
    static PacsSendJob* start(const PacsDispatch& dispatch);

signals:
    void progress(int done, int total);
    // The outcome, and what still waits afterwards as Outbox::countText gives it.
    void finished(int sent, int failed, const QString& error, int waiting, const QString& waitingText);

private:
    PacsSendJob() = default;
};

// For the operator: "Exame enviado ao PACS." or the reason and what still waits.
QString sendOutcomeText(int sent, int failed, const QString& error, const QString& waitingText);

}  // namespace norvix::dicom
