// The exam browser's doctor filter and patient grid: which patients are listed, in which
// order, and which one is current.
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalBlocker>
#include <QTableView>

#include "PatientGrid.h"
#include "UfrmExames.h"
#include "UfrmExamesShared.h"
#include "config/SharedRecords.h"
#include "platform/ui/MessageSeam.h"
#include "records/UDMedicos.h"
#include "records/UDPacientes.h"
#include "records/UfrmDataModule.h"

namespace norvix {

using namespace norvix::browser;

QStringList TfrmExames::filterEntries() const {
    QStringList out;
    if (!built_) return out;
    for (int i = 0; i < CBMedicos_->count(); ++i) out << CBMedicos_->itemText(i);
    return out;
}

QString TfrmExames::filterText() const {
    return !built_ || CBMedicos_->currentIndex() < 0 ? QString() : CBMedicos_->currentText();
}

int TfrmExames::currentFilterDoctor() const {
    const QString f = filterText();
    if (f.isEmpty() || f == kTodos || f == kSemExames) return 0;
    return norvix::DMedicos().SelectCodigoByNome(f);
}

void TfrmExames::CarregaFiltroMedicos() {
    ensureUi();
    const QString active = norvix::recordText(norvix::infos().MedicoAtivo);
    const QStringList names = norvix::DMedicos().NomesMedicos();
    const QSignalBlocker block(CBMedicos_);
    CBMedicos_->clear();
    int selected = -1;
    for (const QString& n : names) {
        CBMedicos_->addItem(n);
        if (n == active) selected = CBMedicos_->count() - 1;
    }
    if (norvix::DPacientes().ExistemPacientesSemExames()) {  // the count itself is not needed
        CBMedicos_->addItem(kSemExames);
        if (active == kSemExames) selected = CBMedicos_->count() - 1;
    }
    if (CBMedicos_->count() > 0) {
        CBMedicos_->addItem(kTodos);
        if (active.isEmpty() || active == kTodos) selected = CBMedicos_->count() - 1;
    }
    CBMedicos_->setCurrentIndex(selected);
}

void TfrmExames::CBMedicosChange() { SelecionaPacientePorCodigo(patientCode(), filterText()); }

void TfrmExames::SelecionaPaciente(const QString& name, const QString& filter) {
    ensureUi();
    {
        const QSignalBlocker block(CBMedicos_);
        CBMedicos_->setCurrentIndex(CBMedicos_->findText(filter, Qt::MatchExactly | Qt::MatchCaseSensitive));
    }
    CarregaPacientes(byName_);
    moveToPatientPrefix(name);
}

void TfrmExames::SelecionaPacientePorCodigo(int code, const QString& filter) {
    ensureUi();
    {
        const QSignalBlocker block(CBMedicos_);
        CBMedicos_->setCurrentIndex(CBMedicos_->findText(filter, Qt::MatchExactly | Qt::MatchCaseSensitive));
    }
    reloadPatients(byName_, code);
}

bool TfrmExames::SelecionaCodigoPaciente(int code) {
    ensureUi();
    if (patientModel_->codeAt(patientModel_->rowOfCode(code)) == code) {
        selectGridRow(patientModel_->rowOfCode(code));
        return true;
    }
    loadingPatients_ = true;
    const int row = patientModel_->jumpToCode(code);
    loadingPatients_ = false;
    if (row < 0) return false;
    selectGridRow(row);
    return true;
}

void TfrmExames::CarregaPacientes(bool byName) {
    ensureUi();
    // The patient of the last session, under the filter of the last session: found before the
    // list stands anywhere, so that no other patient is loaded on the way.
    const bool lastSession = filterText() == norvix::recordText(norvix::infos().MedicoAtivo);
    reloadPatients(byName, 0, lastSession ? norvix::recordText(norvix::infos().PacienteAtivo) : QString());
}

void TfrmExames::reloadPatients(bool byName, int code, const QString& name) {
    finishPendingEdit();
    byName_ = byName;
    // The list is read a page at a time, so a load takes milliseconds whatever the clinic's
    // size; the wait window still comes up for the reloads the operator starts, but not while the
    // browser itself is opening, where it would only flash over it.
    const bool wait = shownOnce_ && !opening_;
    if (wait) showWait();
    const QString filter = filterText();
    TPatientGridModel::Filter kind = TPatientGridModel::Filter::Todos;
    int doctor = 0;
    if (filter == kSemExames) {
        kind = TPatientGridModel::Filter::SemExames;
    } else if (!filter.isEmpty() && filter != kTodos) {
        kind = TPatientGridModel::Filter::Medico;
        doctor = norvix::DMedicos().SelectCodigoByNome(filter);
    }
    loadingPatients_ = true;
    int row = -1;
    if (code > 0 || !name.isEmpty()) {
        patientModel_->resetEmpty(kind, doctor, byName);
        row = code > 0 ? patientModel_->jumpToCode(code) : patientModel_->jumpToName(name);
        if (row < 0) patientModel_->jumpToStart();
    } else {
        patientModel_->reset(kind, doctor, byName);
    }
    loadingPatients_ = false;
    if (patientModel_->rowCount() == 0) {
        DMPrincipal().IBQueryPacientes.close();
        clearExamList();
        setPatientEditButtons(false);
        patient_.reset();
        for (QLabel* l : {lblID_, lblNomePaciente_, lblConvenio_, lblUltimoExame_, lblTotalExames_}) l->clear();
    } else {
        selectGridRow(row >= 0 ? row : 0);
    }
    updateShowAllBox();
    FormResize();
    if (wait) hideWait();
}

void TfrmExames::selectGridRow(int row) {
    const QModelIndex index = patientModel_->index(row, 0);
    if (!index.isValid()) return;
    if (DBGridPacientes_->currentIndex() == index) {
        // Same row, new content (a reload): the current-row signal does not come.
        openCurrentPatient(row);
        DBEditControleChange();
    } else {
        DBGridPacientes_->setCurrentIndex(index);
    }
    DBGridPacientes_->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

void TfrmExames::openCurrentPatient(int row) {
    patient_ = norvix::DPacientes().AbrePacienteAtual(patientModel_->codeAt(row));
}

void TfrmExames::moveToPatientPrefix(const QString& prefix, bool exactIgnoringCase) {
    if (prefix.isEmpty() || patientModel_->rowCount() == 0) return;
    loadingPatients_ = true;
    const int row = exactIgnoringCase ? patientModel_->jumpToName(prefix) : patientModel_->jumpToPrefix(prefix);
    loadingPatients_ = false;
    if (row >= 0) {
        selectGridRow(row);
    } else if (!DBGridPacientes_->currentIndex().isValid()) {
        selectGridRow(0);  // the rows were kept, but a reset may have cleared the selection
    }
}

void TfrmExames::DBEditControleChange() {
    if (!DMPrincipal().IBQueryPacientes.active()) return;
    if (!patient_) {
        // The patient of this row is gone (another workstation deleted it): say so and show
        // the list as it is now, once the grid is done with this row.
        clearExamList();
        showMessage(QStringLiteral("O paciente selecionado não existe mais; a lista será atualizada."),
                    QStringLiteral("Informação"), MsgIcon::Information, MsgButtons::Ok, this);
        QMetaObject::invokeMethod(
            this, [this] { CarregaPacientes(byName_); }, Qt::QueuedConnection);
        return;
    }
    const norvix::TPaciente& p = *patient_;
    lblID_->setText(QStringLiteral("%1").arg(p.codigo, 4, 10, QLatin1Char('0')));
    lblNomePaciente_->setText(p.nome);
    lblNomePaciente_->setToolTip(QStringLiteral("Data de criação: ") +
                                 p.dtCadastro.toString(QStringLiteral("dd/MM/yyyy")));
    lblConvenio_->setText(p.convenio);
    lblUltimoExame_->setText(p.ultimoExame);
    lblTotalExames_->setText(QString::number(p.totalExames));
    AtualizaPaciente();
}

void TfrmExames::AtualizaPaciente() {
    showPatientToolBar();
    if (!patient_) {
        clearExamList();
        setPatientEditButtons(false);
        return;
    }
    CarregaExames(patient_->codigo);
    setPatientEditButtons(true);
    tbLocPacExam_->setEnabled(true);
    tbtCadPaciente_->setEnabled(true);
}

void TfrmExames::setPatientEditButtons(bool enabled) {
    tbtAlterarPaciente_->setEnabled(enabled);
    tbtExcluirPaciente_->setEnabled(enabled);
}

void TfrmExames::refreshCurrentPatientRow() {
    // The patient's counters changed: read the list again and stand on the same patient.
    reloadPatients(byName_, patientCode());
}

void TfrmExames::returnGridToRow() {
    // A commit reopened the patient query on its statement: the same patient again.
    const int row = patientModel_->rowOfCode(patientCode());
    if (row >= 0) DBGridPacientes_->setCurrentIndex(patientModel_->index(row, 0));
}

void TfrmExames::DBGridPacientesCellClick() {
    if (edtFindGrid_->isVisible()) edtFindGrid_->clear();
    showPatientToolBar();
    lswPrincipal_->clearSelection();
}

void TfrmExames::DBGridPacientesDblClick() { tbtAlterarPacienteClick(); }

void TfrmExames::tbOrdemAlfaClick() {
    tbOrdemAlfa_->setChecked(true);
    reloadPatients(true, patientCode());
}

void TfrmExames::tbOrdemCriacaoClick() {
    tbOrdemCriacao_->setChecked(true);
    reloadPatients(false, patientCode());
}

void TfrmExames::focusPatientGrid() { DBGridPacientes_->setFocus(); }

}  // namespace norvix
