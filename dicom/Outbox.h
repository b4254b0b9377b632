#pragma once
// The objects waiting for the PACS: a folder of the installation with one subfolder per exam,
// so an exam taken while the PACS is down (or the network is) is sent on a later try instead
// of being lost. An exam's folder goes away only once the PACS has stored every one of its
// files; a resend replaces in the PACS, since the objects' UIDs are stable.
#include <QString>
#include <QStringList>
#include <functional>

#include "dicom/PacsClient.h"

namespace norvix::dicom {

// What a waiting visit holds, kept beside its files so that what is deleted in the program can
// be taken out of the outbox, and a send can check that it all still exists.
struct QueuedVisit {
    int patient = 0;  // 0: not known (a visit queued before this was kept)
    QList<int> exams, tearFilms, reports;
    bool recorded = false;  // read from its contents file; false: only the key's exam is known
    bool holds(int exam, int tearFilm, int report, int patientCode) const;
};

class Outbox {
public:
    explicit Outbox(const QString& folder);

    // Copies `files` into the exam's folder under `key` (e.g. the exam code), with what they
    // hold. Files of the same name already waiting are replaced, each in one step. A copy that
    // fails (missing file, full disk) leaves nothing of this call in the outbox, and `error`
    // says why in Portuguese.
    bool enqueue(const QString& key, const QStringList& files, QString* error, const QueuedVisit& contents = {});

    // What the waiting visit holds; for one queued without it, the exam its key names.
    QueuedVisit contents(const QString& key) const;
    // Takes a waiting visit out, all of it or nothing (moved aside in one step, then removed).
    bool withdraw(const QString& key, QString* error);
    // Work folders a kill left behind (a copy into the outbox, a withdrawal cut short); the
    // ones that could not be removed.
    QStringList removeLeftovers() const;
    // Removes the folders of visits sent in full (a send leaves their contents file behind).
    // On the thread that queues, so that a visit queued again at that moment is not touched.
    void removeSent() const;

    QStringList pending() const;  // keys of the exams waiting, sorted
    int count() const;
    QStringList files(const QString& key) const;  // an exam's waiting files, sorted

    struct Flush {
        int sent = 0;    // exams stored in full and taken out of the outbox
        int failed = 0;  // exams still waiting
        QString error;   // Portuguese, empty when everything went
    };
    // Sends every waiting exam in one association. `progress` counts files.
    Flush flush(const PacsPeer& peer, const SendProgress& progress = {});

    // "N exames aguardando envio ao PACS" (1: "1 exame ...", 0: "Nenhum exame ...").
    static QString countText(int n);

private:
    QString folder_;
    QString examFolder(const QString& key) const;
};

}  // namespace norvix::dicom
