// The browser among several workstations on one database: the diagnosis and the observations
// saved only over the text the operator was shown, and the lists refreshed when the database
// announces what another workstation stored.
#include "UfrmExames.h"
#include "UfrmExamesShared.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include "platform/Errors.h"
#include "platform/ui/MessageSeam.h"
#include "records/UDExames.h"
#include "records/UfrmDataModule.h"

namespace norvix {

using namespace norvix::browser;

namespace {

QString citado(const QString& texto) {
    return texto.isEmpty() ? QStringLiteral("(vazio)") : QLatin1Char('"') + texto + QLatin1Char('"');
}

// Another workstation stored `outro` while this one edited `meu`: which stays. Yes keeps this
// operator's text, No the other's, Cancel goes back to editing (the safe default: Enter
// overwrites nobody).
MsgAnswer perguntaConflito(bool diagnosis, const QString& outro, const QString& meu, QWidget* parent) {
    const QString texto =
        (diagnosis ? QStringLiteral("O diagnóstico deste exame foi alterado em outra estação de trabalho enquanto "
                                    "você o editava.")
                   : QStringLiteral("As observações deste exame foram alteradas em outra estação de trabalho "
                                    "enquanto você as editava.")) +
        QStringLiteral("\n\nGravado pela outra estação:\n") + citado(outro) + QStringLiteral("\n\nSeu texto:\n") +
        citado(meu) + QStringLiteral("\n\nQual texto deve ficar gravado?");
    return showChoice(texto, QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::YesNoCancel,
                      {QStringLiteral("Gravar o meu texto"), QStringLiteral("Manter o da outra estação"),
                       QStringLiteral("Cancelar")},
                      parent, MsgAnswer::Cancel);
}

}  // namespace

bool TfrmExames::saveMemo(bool diagnosis) {
    if (!shown_ || !pnlExame_) return false;
    QPlainTextEdit* memo = diagnosis ? memDiag_ : memObs_;
    const QString text = memo->toPlainText();
    const int code = shown_->codigo;
    for (;;) {
        QString& shownText = diagnosis ? shown_->diag : shown_->observacao;
        std::optional<norvix::TExame> now;
        bool saved = false;
        showWait();
        try {
            saved = diagnosis ? norvix::DExames().UpdateDiagExameSeInalterado(code, shownText, text)
                              : norvix::DExames().UpdateObsExameSeInalterado(code, shownText, text);
            if (!saved) now = norvix::DExames().SelectExameByCodigo(code);
        } catch (const norvix::Error& e) {
            hideWait();
            showMessage((diagnosis ? QStringLiteral("Não foi possível salvar o diagnóstico do exame.\n\n")
                                   : QStringLiteral("Não foi possível salvar as observações do exame.\n\n")) +
                            e.message(),
                        QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
            return false;
        }
        hideWait();
        if (saved) break;
        if (!now) {
            // The text stays in the memo, so the operator can still copy it elsewhere.
            showMessage(QStringLiteral("Este exame foi excluído em outra estação de trabalho; o texto não foi gravado."),
                        QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
            return false;
        }
        const QString stored = diagnosis ? now->diag : now->observacao;
        shownText = stored;  // shown now: the next save is checked against it
        if (selected_ && selected_->codigo == code) (diagnosis ? selected_->diag : selected_->observacao) = stored;
        if (stored == text) break;  // both wrote the same text
        const MsgAnswer answer = perguntaConflito(diagnosis, stored, text, this);
        if (answer == MsgAnswer::Yes) continue;  // over the text just shown, checked again
        if (answer == MsgAnswer::Cancel) {
            memo->setFocus();
            return false;
        }
        memo->setPlainText(stored);  // the other workstation's text stays
        break;
    }
    (diagnosis ? shown_->diag : shown_->observacao) = memo->toPlainText();
    if (selected_ && selected_->codigo == code)
        (diagnosis ? selected_->diag : selected_->observacao) = memo->toPlainText();
    memo->setReadOnly(true);
    (diagnosis ? SpeedButton1_ : SpeedButton4_)->setEnabled(false);
    (diagnosis ? SpeedButton2_ : SpeedButton5_)->setEnabled(true);
    returnGridToRow();
    return true;
}

// ---- notices from the database ------------------------------------------------------------------

void TfrmExames::listenToDatabase() {
    refreshTimer_ = new QTimer(this);
    refreshTimer_->setObjectName(QStringLiteral("tmrAtualizaListas"));
    refreshTimer_->setSingleShot(true);
    refreshTimer_->setInterval(200);
    connect(refreshTimer_, &QTimer::timeout, this, &TfrmExames::refreshFromDatabase);
    if (!hasDMPrincipal()) return;
    norvix::TAvisosBanco& avisos = DMPrincipal().Avisos;
    connect(&avisos, &norvix::TAvisosBanco::examesAlterados, this, [this] { refreshTimer_->start(); });
    connect(&avisos, &norvix::TAvisosBanco::pacientesAlterados, this, [this] {
        refreshPatients_ = true;
        refreshTimer_->start();
    });
}

bool TfrmExames::canRefreshNow() const {
    // Another window or a question over the browser, a list being loaded, the quick find or an
    // edit in progress: the lists must not move under them.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != this) return false;
    if (loadingPatients_ || closing_ || (edtFindGrid_ && edtFindGrid_->isVisible())) return false;
    return !pnlExame_ || (memDiag_->isReadOnly() && memObs_->isReadOnly());
}

void TfrmExames::refreshFromDatabase() {
    if (!built_ || !isVisible() || examplesMode_ || !hasDMPrincipal() || !DMPrincipal().connected()) {
        refreshPatients_ = false;  // the next showing loads everything anyway
        return;
    }
    if (!canRefreshNow()) {
        refreshTimer_->start(1000);
        return;
    }
    const bool patients = std::exchange(refreshPatients_, false);
    const int row = selectedItem();
    const int exam = row >= 0 ? lswPrincipal_->item(row)->data(kCodeRole).toInt() : 0;
    const int tearFilm = row >= 0 ? lswPrincipal_->item(row)->data(kTearFilmRole).toInt() : 0;
    const bool panel = examPanelVisible() && shown_.has_value();
    const int page = pgcInfo_ ? pgcInfo_->currentIndex() : 0;
    const QPointer<QWidget> focus = QApplication::focusWidget();
    try {
        // No wait window for a refresh nobody asked for.
        const bool wasOpening = std::exchange(opening_, true);
        if (patients)
            reloadPatients(byName_, patientCode());  // the patient read again, and his exams
        else if (patient_)
            CarregaExames(patient_->codigo);
        opening_ = wasOpening;
    } catch (const norvix::Error& e) {
        opening_ = false;
        showMessage(QStringLiteral("Não foi possível atualizar a lista com o que outra estação gravou.\n\n") +
                        e.message(),
                    QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
        return;
    }
    for (int i = 0; (exam > 0 || tearFilm > 0) && i < lswPrincipal_->count(); ++i) {
        const QListWidgetItem* item = lswPrincipal_->item(i);
        if ((exam > 0 && item->data(kCodeRole).toInt() == exam) ||
            (tearFilm > 0 && item->data(kTearFilmRole).toInt() == tearFilm)) {
            lswPrincipal_->setCurrentRow(i);  // selects it: the exam is read again by its code
            if (panel && exam > 0) MostraInfoExame(page);
            break;
        }
    }
    if (focus) focus->setFocus();
}

}  // namespace norvix
