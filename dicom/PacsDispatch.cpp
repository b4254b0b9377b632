#include "dicom/PacsDispatch.h"

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
    QStringList gone;
    try {
        for (const QString& k : box.pending()) {
            const QueuedVisit v = box.contents(k);
            bool there = v.patient <= 0 || exists("SELECT COUNT(*) FROM Pacientes WHERE Codigo = :Codigo", v.patient);
            for (const int e : v.exams) {
                // The exam, and still the same patient's (a code is never another's, but say so).
                const std::optional<TExame> exam = there ? DExames().SelectExameByCodigo(e) : std::nullopt;
                there = there && exam && (v.patient <= 0 || exam->paciente == v.patient);
            }
            for (const int t : v.tearFilms)
                there = there && exists("SELECT COUNT(*) FROM ExamesLagrima WHERE Codigo = :Codigo", t);
            for (const int r : v.reports)
                there = there && exists("SELECT COUNT(*) FROM Laudos WHERE Codigo = :Codigo", r);
            if (!there) gone << k;
        }
    } catch (const std::exception& e) {
        return fail(error, QStringLiteral("Não foi possível conferir no banco de dados os exames da fila de envio ao "
                                          "PACS; nada foi enviado: %1").arg(QString::fromUtf8(e.what())));
    }
    QString why;
    for (const QString& k : std::as_const(gone)) {
        if (!box.withdraw(k, &why)) return fail(error, why);
        if (dropped) *dropped << k;
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
            Outbox(dispatch.outbox()).removeSent();
            if (!dispatch.dropDeleted(nullptr, &refused)) {
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
