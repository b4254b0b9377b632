// The browser's part in sending to the PACS: which exam, and what the operator sees. The
// writing, the outbox and the network are PacsDispatch's.
#include <QApplication>
#include <QLabel>
#include <QToolButton>

#include "UfrmExames.h"
#include "config/UBIniSettings.h"
#include "dicom/ExportInstallation.h"
#include "dicom/PacsDispatch.h"
#include "platform/Paths.h"
#include "platform/ui/MessageSeam.h"
#include "records/Exclusao.h"
#include "records/UDExames.h"

namespace norvix {

namespace {
dicom::PacsDispatch dispatchOf(const TBIniSettings& settings) {
    return dicom::PacsDispatch::fromSettings(settings, installRoot(), TfrmExames::openers().laudoPdf);
}
}  // namespace

QString TfrmExames::pacsStatusText() const { return lblPacs_ ? lblPacs_->text() : QString(); }

void TfrmExames::resumePacsSend() {
    if (!settings_ || !lblPacs_) return;
    const dicom::PacsDispatch dispatch = dispatchOf(*settings_);
    const int waiting = dispatch.waiting();
    lblPacs_->setText(dicom::Outbox::countText(waiting));
    // A clinic without a PACS never sees it; one with a PACS always knows what waits.
    const bool configured = dispatch.notConfigured().isEmpty();
    lblPacs_->setVisible(configured || waiting > 0);
    if (configured && waiting > 0) startPacsSend(false);
}

void TfrmExames::tbEnviarPacsClick() {
    if (!built_) return;
    // The selected row's own exam, never where a shared query happens to stand.
    const int code = selectedExamCode();
    if (code <= 0) {
        showMessage(QStringLiteral("Por favor, selecione o exame que deseja enviar ao PACS."),
                    QStringLiteral("Informação"), MsgIcon::Information, MsgButtons::Ok, this);
        return;
    }
    finishPendingEdit();
    enviaAoPacs({code}, true);
}

void TfrmExames::afterDeletion(const norvix::TExclusao& done, int deletedExam) {
    // The deletion stands; what could not follow it (taking it out of the PACS outbox) must be known.
    if (!done.avisos.isEmpty())
        showMessage(done.avisos.join(u'\n'), QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
    // A visit is withdrawn whole; the other eye that waited with the deleted one is queued again
    // as a visit of its own.
    QList<int> again;
    for (const int code : done.retiradosDaFila)
        if (code != deletedExam && !again.contains(code) && norvix::DExames().SelectExameByCodigo(code)) again << code;
    if (!again.isEmpty() && pacsConfigurado()) enviaAoPacs(again, false);
    else if (lblPacs_ && settings_) lblPacs_->setText(dicom::Outbox::countText(dispatchOf(*settings_).waiting()));
}

bool TfrmExames::pacsConfigurado() const {
    return settings_ && dispatchOf(*settings_).notConfigured().isEmpty();
}

bool TfrmExames::enviaAoPacs(const QList<int>& examCodes, bool operatorAsked) {
    QString why;
    if (!settings_ || !lblPacs_) {
        why = QStringLiteral("A configuração do programa não está disponível; o exame não foi enviado ao PACS.");
    } else if (why = dispatchOf(*settings_).notConfigured(); why.isEmpty()) {
        dicom::ensureDicomIdentity(*settings_, &why);
    }
    if (!why.isEmpty()) {
        showMessage(why, QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
        return false;
    }
    const dicom::PacsDispatch dispatch = dispatchOf(*settings_);
    // A report's two eyes may be two visits: each is queued, and one that cannot be does not
    // hold back the other.
    QStringList failures, leftOut;
    int queued = 0;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    for (const int code : examCodes) {
        if (code <= 0) continue;
        QString failure;
        if (dispatch.queue(code, &failure, nullptr, &leftOut))
            ++queued;
        else
            failures << failure;
    }
    QApplication::restoreOverrideCursor();
    lblPacs_->setText(dicom::Outbox::countText(dispatch.waiting()));
    lblPacs_->show();
    if (queued > 0) {
        if (pacsSending_)
            pacsAgain_ = true;  // the send under way may have listed the outbox before these exams
        else
            startPacsSend(operatorAsked);
    }
    if (!leftOut.isEmpty()) {
        // The rest of the visit goes; what stays behind is named.
        showMessage(QStringLiteral("O exame foi posto na fila de envio ao PACS sem estas partes, que não puderam ser "
                                   "lidas: %1").arg(leftOut.join(u' ')),
                    QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
    }
    if (!failures.isEmpty()) {
        // What was queued is saved and goes; the operator must know what did not.
        showMessage(QStringLiteral("O exame não foi posto na fila de envio ao PACS. %1").arg(failures.join(u' ')),
                    QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
    }
    return queued > 0 && failures.isEmpty() && leftOut.isEmpty();
}

void TfrmExames::enviaAoPacsSeAutomatico(const QList<int>& examCodes) {
    if (!settings_ || !lblPacs_ || !settings_->EnvioAutomaticoDicom()) return;
    enviaAoPacs(examCodes, false);
}

void TfrmExames::startPacsSend(bool operatorAsked) {
    pacsSending_ = true;
    lblPacs_->setText(QStringLiteral("Enviando ao PACS…"));
    auto* job = dicom::PacsSendJob::start(dispatchOf(*settings_));
    // Both reach this window queued; closed meanwhile, it misses them and the outbox keeps
    // whatever the PACS did not take.
    connect(job, &dicom::PacsSendJob::progress, this, [this](int done, int total) {
        lblPacs_->setText(QStringLiteral("Enviando ao PACS: %1 de %2 objetos…").arg(done).arg(total));
    });
    connect(job, &dicom::PacsSendJob::finished, this,
            [this, operatorAsked](int sent, int failed, const QString& error, int, const QString& waitingText) {
                pacsSending_ = false;
                const QString outcome = dicom::sendOutcomeText(sent, failed, error, waitingText);
                lblPacs_->setText(failed == 0 && sent > 0 ? outcome + QStringLiteral(" ") + waitingText : waitingText);
                lblPacs_->setToolTip(outcome);
                if (pacsAgain_) {
                    pacsAgain_ = false;
                    startPacsSend(operatorAsked);
                } else if (operatorAsked && failed > 0) {
                    showMessage(outcome, QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
                }
            });
}

}  // namespace norvix
