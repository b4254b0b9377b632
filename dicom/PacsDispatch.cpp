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
#include "records/UDExames.h"

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

bool PacsDispatch::queue(int examCode, QString* error, QString* key) const {
    if (const QString why = notConfigured(); !why.isEmpty()) return fail(error, why);
    if (station_.installationId.isEmpty())  // the UIDs would change once it is given one
        return fail(error, QStringLiteral("A instalação ainda não tem identidade DICOM; nada foi posto na fila."));
    QTemporaryDir staging;
    if (!staging.isValid())
        return fail(error, QStringLiteral("Não foi possível criar uma pasta temporária para os objetos DICOM."));
    const QList<ExamOutcome> outcomes = ExamExport(station_, printReport_).writeVisit(examCode, staging.path());
    QStringList files;
    for (const ExamOutcome& o : outcomes) {
        // Half a visit sent would look complete in the PACS: all of it or nothing.
        if (!o.ok()) return fail(error, QStringLiteral("Exame %1: %2").arg(o.examCode).arg(o.error));
        for (const Written& w : o.written) files << w.filePath;
    }
    if (files.isEmpty()) return fail(error, QStringLiteral("O exame %1 não tem objetos DICOM para enviar.").arg(examCode));
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
    return Outbox(outbox_).enqueue(k, files, error);
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
