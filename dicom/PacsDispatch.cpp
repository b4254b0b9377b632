#include "dicom/PacsDispatch.h"

#include <QDebug>
#include <QDir>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QTemporaryDir>
#include <QThreadPool>

#include "config/UBIniSettings.h"
#include "dicom/ExamVisit.h"
#include "dicom/ExportInstallation.h"
#include "platform/Sobras.h"
#include "records/Exclusao.h"
#include "records/UDExames.h"
#include "records/UDLaudos.h"
#include "records/UDPacientes.h"
#include "records/UDPacientesRis.h"
#include "records/UDVisitasDicom.h"
#include "records/UfrmDataModule.h"

namespace norvix::dicom {

namespace {
bool fail(QString* error, const QString& why) {
    if (error) *error = why;
    return false;
}

// One send at a time per outbox in this process: a retry at the browser's opening and the
// operator's send would otherwise store the same files twice and race to delete them.
QMutex& sendLock(const QString& outbox) {
    static QMutex guard;
    // Kept for the program's life, never destroyed: a send may outlast its window, and even the
    // exit of main while the thread pool finishes it.
    static auto* locks = new QHash<QString, QMutex*>;
    const QMutexLocker hold(&guard);
    QMutex*& m = (*locks)[QDir::cleanPath(outbox)];
    if (!m) m = new QMutex;
    return *m;
}
}  // namespace

QString outboxFolder(const QString& installationRoot) {
    return QDir::cleanPath(installationRoot + QStringLiteral("/DICOM/Saida"));
}

PacsDispatch::PacsDispatch(PacsPeer peer, Station station, QString outboxFolder, ReportPrinter printReport)
    : peer_(std::move(peer)),
      station_(std::move(station)),
      outbox_(std::move(outboxFolder)),
      printReport_(std::move(printReport)) {}

PacsDispatch PacsDispatch::fromSettings(const TBIniSettings& settings, const QString& installationRoot,
                                        ReportPrinter printReport) {
    PacsPeer peer;
    peer.localAeTitle = settings.DicomAeTitle();
    peer.peerAeTitle = settings.PacsAeTitle();
    peer.host = settings.PacsHost();
    peer.port = settings.PacsPorta();
    return {peer, stationOf(settings), outboxFolder(installationRoot), std::move(printReport)};
}

QString PacsDispatch::notConfigured() const {
    if (peer_.peerAeTitle.trimmed().isEmpty() || peer_.host.trimmed().isEmpty())
        return QStringLiteral("O PACS não está configurado: informe o AE title e o endereço do PACS na seção "
                              "[DICOM] da configuração (PACS_AETITLE e PACS_HOST).");
    return checkPeer(peer_);
}

bool PacsDispatch::queue(int examCode, QString* error, QString* key, QStringList* warnings) const {
    if (const QString why = notConfigured(); !why.isEmpty()) return fail(error, why);
    if (station_.installationId.isEmpty())  // the UIDs would change once it is given one
        return fail(error, QStringLiteral("A instalação ainda não tem identidade DICOM; nada foi posto na fila."));
    // Beside the outbox, named for this process: a kill while writing leaves nothing of the
    // patient's in the system's temporary folder, and the next start removes it.
    QDir().mkpath(outbox_);
    QTemporaryDir staging(modeloPastaDoProcesso(outbox_, QStringLiteral(".entrada-")));
    if (!staging.isValid())
        return fail(error, QStringLiteral("Não foi possível criar uma pasta temporária para os objetos DICOM em %1.").arg(outbox_));
    VisitParts parts;
    const QList<ExamOutcome> outcomes = ExamExport(station_, printReport_).writeVisit(examCode, staging.path(), &parts);
    QStringList files, leftOut;
    for (const ExamOutcome& o : outcomes) {
        // What cannot be read is left out and said; the rest of the visit goes.
        if (!o.ok()) leftOut << QStringLiteral("Exame %1: %2").arg(o.examCode).arg(o.error);
        for (const QString& w : o.warnings) leftOut << QStringLiteral("Exame %1: %2").arg(o.examCode).arg(w);
        for (const Written& w : o.written) files << w.filePath;
    }
    if (files.isEmpty())
        return fail(error, leftOut.isEmpty() ? QStringLiteral("O exame %1 não tem objetos DICOM para enviar.").arg(examCode)
                                             : leftOut.join(u' '));
    // The visit's key (its first exam) whichever eye was asked for, so a resend replaces.
    QString k;
    try {
        if (const std::optional<TExame> exam = DExames().SelectExameByCodigo(examCode))
            k = visitOf(*exam, DExames().SelectExamesByPaciente(exam->paciente)).key;
    } catch (const std::exception& e) {
        return fail(error, QStringLiteral("Erro no banco de dados: %1").arg(QString::fromUtf8(e.what())));
    }
    if (k.isEmpty()) return fail(error, QStringLiteral("O exame %1 não foi encontrado.").arg(examCode));
    if (key) *key = k;
    if (!Outbox(outbox_).enqueue(k, files, error, {parts.patient, parts.exams, parts.tearFilms, parts.reports})) return false;
    if (warnings) *warnings << leftOut;
    return true;
}

bool PacsDispatch::dropDeleted(QStringList* dropped, QString* error) const {
    Outbox box(outbox_);
    TDMPrincipal& dm = DMPrincipal();
    auto exists = [&dm](const char* sql, int code) {
        return dm.selectInt(QLatin1String(sql), {{"Codigo", code}}, QStringLiteral("COUNT"), TDMPrincipal::Close::Yes) > 0;
    };
    // A visit missing only a part (an eye, a tear film, a report) is written again from what
    // remains; only a visit with no exam or no patient left goes whole.
    struct Gone {
        QString key, what;
        QList<int> remaining;
    };
    QList<Gone> gone;
    try {
        for (const QString& k : box.pending()) {
            const QueuedVisit v = box.contents(k);
            QStringList what;
            QList<int> remaining;
            if (v.patient > 0 && !exists("SELECT COUNT(*) FROM Pacientes WHERE Codigo = :Codigo", v.patient)) {
                gone.append({k, QStringLiteral("paciente %1 excluído").arg(v.patient), {}});
                continue;
            }
            for (const int e : v.exams) {
                // The exam, and still the same patient's (a code is never another's, but say so).
                const std::optional<TExame> exam = DExames().SelectExameByCodigo(e);
                if (exam && (v.patient <= 0 || exam->paciente == v.patient)) remaining << e;
                else what << QStringLiteral("exame %1 excluído").arg(e);
            }
            for (const int t : v.tearFilms)
                if (!exists("SELECT COUNT(*) FROM ExamesLagrima WHERE Codigo = :Codigo", t))
                    what << QStringLiteral("filme lacrimal %1 excluído").arg(t);
            for (const int r : v.reports)
                if (!exists("SELECT COUNT(*) FROM Laudos WHERE Codigo = :Codigo", r))
                    what << QStringLiteral("laudo %1 excluído").arg(r);
            // Queued before its contents were kept: only the key's exam is known, so an eye
            // deleted since could still be among its files. Written again from what exists.
            if (!v.recorded && what.isEmpty()) what << QStringLiteral("conteúdo da visita não registrado");
            if (!what.isEmpty()) gone.append({k, what.join(QStringLiteral(", ")), remaining});
        }
    } catch (const std::exception& e) {
        return fail(error, QStringLiteral("Não foi possível conferir no banco de dados os exames da fila de envio ao "
                                          "PACS; nada foi enviado: %1").arg(QString::fromUtf8(e.what())));
    }
    QString why;
    for (const Gone& g : std::as_const(gone)) {
        if (!box.withdraw(g.key, &why)) return fail(error, why);
        QString line = QStringLiteral("Visita %1 retirada da fila de envio ao PACS (%2)").arg(g.key, g.what);
        if (!g.remaining.isEmpty()) {
            QString again;
            if (queue(g.remaining.first(), &again)) line += QStringLiteral("; o restante da visita foi posto na fila de novo.");
            else line += QStringLiteral("; o restante da visita não pôde ser posto na fila de novo: %1").arg(again);
        } else {
            line += u'.';
        }
        if (dropped) *dropped << line;
    }
    return true;
}

int withdrawOnDeletion(const QString& outboxFolder) {
    return OuveExclusoes([outboxFolder](const TExcluido& gone, QList<int>* withdrawn) -> QString {
        QString why;
        auto holds = [&gone](const QueuedVisit& v) {
            if (gone.pacienteInteiro && v.holds(0, 0, 0, gone.paciente)) return true;
            for (const int e : gone.exames)
                if (v.holds(e, 0, 0, 0)) return true;
            for (const int t : gone.examesLagrima)
                if (v.holds(0, t, 0, 0)) return true;
            for (const int r : gone.laudos)
                if (v.holds(0, 0, r, 0)) return true;
            return false;
        };
        Outbox box(outboxFolder);
        for (const QString& k : box.pending()) {
            const QueuedVisit v = box.contents(k);
            if (!holds(v)) continue;
            if (box.withdraw(k, &why)) *withdrawn << v.exams;
        }
        if (why.isEmpty()) return {};
        return why + QStringLiteral(" O exame excluído não será enviado: a fila confere os exames antes de cada envio.");
    });
}

int withdrawOnUnlinking(const QString& outboxFolder) {
    return OuveDesvinculos([outboxFolder](int patient, const QString& risId) -> QString {
        // A visit keeps the identity of its first write: one queued under the ID would still go
        // out under it, now perhaps another person's. Taken out; the operator decides the rest.
        Outbox box(outboxFolder);
        QStringList withdrawn, failed;
        QString why;
        for (const QString& k : box.pending()) {
            const QueuedVisit v = box.contents(k);
            int owner = v.patient;
            if (owner <= 0 && !v.exams.isEmpty())
                if (const std::optional<TExame> e = DExames().SelectExameByCodigo(v.exams.first())) owner = e->paciente;
            if (owner != patient) continue;
            const std::optional<TVisitaDicom> sent = DVisitasDicom().DaVisita(k);
            if (sent && sent->idPaciente != risId) continue;
            if (box.withdraw(k, &why)) withdrawn << k;
            else failed << why;
        }
        QStringList sentUnder;
        for (const TVisitaDicom& v : DVisitasDicom().DoPaciente(patient))
            if (v.idPaciente == risId && !withdrawn.contains(v.visita))
                sentUnder << QStringLiteral("%1 (%2)").arg(v.visita, v.data.toString(QStringLiteral("dd/MM/yyyy")));
        QStringList text;
        if (!withdrawn.isEmpty())
            text << QStringLiteral("Visitas deste paciente gravadas para o PACS com o ID %1 foram retiradas da fila de "
                                   "envio e não serão enviadas: %2. Uma visita conserva o ID com que foi gravada; "
                                   "enviada de novo, irá com esse ID.")
                        .arg(risId, withdrawn.join(QStringLiteral(", ")));
        if (!sentUnder.isEmpty())
            text << QStringLiteral("Visitas deste paciente já gravadas com o ID %1 ficam no PACS com esse ID: %2.").arg(risId, sentUnder.join(QStringLiteral(", ")));
        text << failed;
        return text.join(u' ');
    });
}

Outbox::Flush PacsDispatch::flush(const SendProgress& progress) const {
    const QMutexLocker hold(&sendLock(outbox_));
    return Outbox(outbox_).flush(peer_, progress);
}

int PacsDispatch::waiting() const { return Outbox(outbox_).count(); }

PacsSendJob* PacsSendJob::start(const PacsDispatch& dispatch) {
    auto* job = new PacsSendJob;
    // Started on the next turn of the event loop, once the caller has connected.
    QMetaObject::invokeMethod(
        job,
        [job, dispatch] {
            // Here, in the database's thread: what was deleted does not go, even if taking it
            // out at the deletion failed or another station deleted it.
            QString refused;
            QStringList dropped;
            Outbox(dispatch.outbox()).removeSent();
            const bool checked = dispatch.dropDeleted(&dropped, &refused);
            for (const QString& line : std::as_const(dropped)) qWarning().noquote() << line;
            if (!checked) {
                const int waiting = dispatch.waiting();
                emit job->finished(0, waiting, refused, waiting, Outbox::countText(waiting));
                job->deleteLater();
                return;
            }
            QThreadPool::globalInstance()->start([job, dispatch] {
                const Outbox::Flush r = dispatch.flush([job](int done, int total) { emit job->progress(done, total); });
                const int waiting = dispatch.waiting();
                emit job->finished(r.sent, r.failed, r.error, waiting, Outbox::countText(waiting));
                job->deleteLater();
            });
        },
        Qt::QueuedConnection);
    return job;
}

QString sendOutcomeText(int sent, int failed, const QString& error, const QString& waitingText) {
    if (failed == 0) return sent == 1 ? QStringLiteral("Exame enviado ao PACS.")
                          : sent == 0 ? QStringLiteral("Nenhum exame aguardava envio ao PACS.")
                                      : QStringLiteral("%1 exames enviados ao PACS.").arg(sent);
    QString text = error.isEmpty() ? QStringLiteral("O PACS não recebeu o exame.") : error;
    if (!text.endsWith(u'.')) text += u'.';
    return text + QStringLiteral(" O exame fica na fila e será enviado na próxima tentativa: %1.").arg(waitingText);
}

}  // namespace norvix::dicom
