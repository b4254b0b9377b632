// The exam browser's keys: the shortcuts, the jump to a patient by the first letter, and the
// quick find over the patient grid.
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>

#include "ExamMaps.h"
#include "PatientGrid.h"
#include "UPnlFindPac.h"
#include "UfrmExames.h"

namespace norvix {

bool TfrmExames::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        if (watched == lblNomeMedico_) lblNomeMedicoClick();
        if (watched == imgVisualizar_) maps_->MostraMiniMapa();
    }
    if (event->type() == QEvent::Resize && watched == pcExames_->widget(0)) FormResize();
    if (event->type() == QEvent::KeyPress && handleKey(static_cast<QKeyEvent*>(event), watched)) return true;
    return QDialog::eventFilter(watched, event);
}

void TfrmExames::keyPressEvent(QKeyEvent* event) {
    if (handleKey(event, this)) return;
    // Esc must not close the window as a dialog would: it belongs to the quick find.
    if (event->key() == Qt::Key_Escape) return;
    QDialog::keyPressEvent(event);
}

bool TfrmExames::handleKey(QKeyEvent* event, QObject* source) {
    if (!built_) return false;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool searching = tbLocPacExam_->isChecked();
    const int key = event->key();
    if (ctrl && key == Qt::Key_F) {
        // The name typed next moves the selection: an edit in progress is settled first, by
        // its own question, so that no letter of the name can answer it.
        finishPendingEdit();
        edtFindGrid_->show();
        bbtnBuscaAv_->show();
        edtFindGrid_->setFocus();
        return true;
    }
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && source == lswPrincipal_ && !ctrl) {
        openExamByKeyboard();
        return true;
    }
    if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (source == edtFindGrid_ || edtFindGrid_->isVisible()) {
            hideQuickFind();
            return true;
        }
        if (searching) {
            if (key == Qt::Key_Escape)
                showFindPanel(false);
            else
                findPanel().enterPressed();
            return true;
        }
        return key == Qt::Key_Escape;
    }
    if (ctrl && key == Qt::Key_N) {
        if (tbtCadPaciente_->isEnabled()) tbtCadPacienteClick();
        return true;
    }
    if (ctrl && key == Qt::Key_E) {
        if (tbNovoExame1_->isEnabled()) tbNovoExameClick();
        return true;
    }
    if (ctrl && key == Qt::Key_T) {
        if (tbNovoExame1_->isEnabled() && !examplesMode_) tbFilmeLacrimalClick();
        return true;
    }
    if (ctrl && key == Qt::Key_D) {
        if (!examplesMode_ && tbEnviarPacs_->isEnabled()) tbEnviarPacsClick();
        return true;
    }
    if (ctrl && key == Qt::Key_L) {
        if (!examplesMode_) showFindPanel(true);
        return true;
    }
    if (key == Qt::Key_Delete && !examplesMode_) {
        if (source == lswPrincipal_) {
            deleteExam();
            return true;
        }
        if (source == DBGridPacientes_ && patientModel_->rowCount() > 0) {
            deletePatient();
            return true;
        }
        return false;
    }
    // The grid holds only the rows around the place shown: the list's two ends are fetched.
    if (source == DBGridPacientes_ && (key == Qt::Key_Home || key == Qt::Key_End)) {
        loadingPatients_ = true;
        const int row = key == Qt::Key_Home ? patientModel_->jumpToStart() : patientModel_->jumpToEnd();
        loadingPatients_ = false;
        if (row >= 0) selectGridRow(row);
        return true;
    }
    // A letter, a digit or ç jumps to the first patient beginning with it; never a key that a
    // text field let through (a read-only memo passes its keys up to the window).
    const bool fromText =
        source == this && (qobject_cast<QPlainTextEdit*>(focusWidget()) || qobject_cast<QLineEdit*>(focusWidget()));
    if (!ctrl && !searching && !edtFindGrid_->isVisible() && source != edtFindGrid_ && !examplesMode_ && !fromText) {
        const QString text = event->text();
        if (text.size() == 1) {
            const QChar c = text.at(0);
            const bool cedilla = c.toLower() == QChar(0x00E7);
            if ((c.isLetter() && c.unicode() < 128) || c.isDigit() || cedilla) {
                moveToPatientPrefix(cedilla ? QString(QChar(0x00E7))
                                            : (c.isDigit() ? QString(c) : QString(c.toUpper())));
                return true;
            }
        }
    }
    return false;
}

void TfrmExames::openExamByKeyboard() {
    if (selectedItem() < 0) return;
    if (selectedTearFilmCode() > 0 || examplesMode_) {
        lswPrincipalDblClick();
        return;
    }
    if (!selected_) return;
    if (!examPanelVisible() || shownExamCode() != selected_->codigo)
        MostraInfoExame(pgcInfo_ ? pgcInfo_->currentIndex() : 0);
    // The panel's first control the operator can use: its edit button, else the text to read.
    QPlainTextEdit* memo = pgcInfo_->currentIndex() == 1 ? memObs_ : memDiag_;
    QToolButton* edit = pgcInfo_->currentIndex() == 1 ? SpeedButton5_ : SpeedButton2_;
    if (edit->isEnabled())
        edit->setFocus(Qt::OtherFocusReason);
    else
        memo->setFocus(Qt::OtherFocusReason);
}

void TfrmExames::quickFind(const QString& text) {
    // As the patient picker finds names: in either case, accented letters too.
    int row = -1;
    if (!text.isEmpty() && patientModel_->rowCount() > 0) {
        loadingPatients_ = true;
        row = patientModel_->jumpToPrefixIgnoringCase(text);
        loadingPatients_ = false;
        if (row >= 0) selectGridRow(row);
    }
    const bool none = !text.isEmpty() && row < 0;
    lblFindGrid_->setText(none ? QStringLiteral("Nenhum paciente começa com \u201C%1\u201D.").arg(text) : QString());
    if (lblFindGrid_->isVisible() != none) {
        lblFindGrid_->setVisible(none);
        FormResize();
    }
}

void TfrmExames::hideQuickFind() {
    lblFindGrid_->clear();
    lblFindGrid_->hide();
    edtFindGrid_->clear();
    edtFindGrid_->hide();
    bbtnBuscaAv_->hide();
    focusPatientGrid();
}

}  // namespace norvix
