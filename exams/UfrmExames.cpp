#include "UfrmExames.h"
#include "UfrmExamesShared.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>

#include "ExamExport.h"
#include "ExamMaps.h"
#include "TearFilmExam.h"
#include "UfrmLagrima.h"
#include "PatientGrid.h"
#include "UPnlFindPac.h"
#include "config/SharedRecords.h"
#include "config/UBIniSettings.h"
#include "modules/MapCatalogue.h"
#include "platform/Convert.h"
#include "platform/Errors.h"
#include "platform/Logging.h"
#include "platform/ui/MemoLimit.h"
#include "platform/ui/MessageSeam.h"
#include "records/Exclusao.h"
#include "records/UArquivosExame.h"
#include "records/UDExames.h"
#include "records/UDLagrima.h"
#include "records/UDLaudos.h"
#include "records/UDMedicos.h"
#include "records/UDPacientes.h"
#include "records/UfrmDataModule.h"
#include "shell/HelpViewer.h"
#include "shell/UfrmAguarde.h"

namespace norvix {

const QString TfrmExames::kSemExames = QStringLiteral("*** Sem Exames");
const QString TfrmExames::kTodos = QStringLiteral("*** Todos");
QPointer<TfrmExames> TfrmExames::instance_;

using namespace norvix::browser;

// ---------------------------------------------------------------------------------------------

TfrmExames::TfrmExames(TBIniSettings* settings, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint), settings_(settings) {
    instance_ = this;
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("frmExames"));
    setWindowTitle(QStringLiteral("Navegador do Miral"));
    setModal(true);
    norvix::help::setContext(this, 5);
    timerAguarde_ = new QTimer(this);
    timerAguarde_->setObjectName(QStringLiteral("TimerAguarde"));
    timerAguarde_->setSingleShot(true);
    timerAguarde_->setInterval(1000);
    connect(timerAguarde_, &QTimer::timeout, this, &TfrmExames::TimerAguardeTimer);
    maps_ = std::make_unique<TExamMaps>(*this);
    setWindowState(windowState() | Qt::WindowMaximized);
    listenToDatabase();
}

void TfrmExames::ensureUi() {
    if (built_) return;
    built_ = true;
    buildUi();
    if (pendingButtons_) {
        placeMapButtons(*pendingButtons_);
        pendingButtons_.reset();
    }
}

TfrmExames::~TfrmExames() = default;

TfrmExames* TfrmExames::instance() { return instance_; }
bool TfrmExames::exists() { return !instance_.isNull(); }

TfrmExames::Openers& TfrmExames::openers() {
    static Openers o;
    return o;
}

std::pair<double, double> TfrmExames::layoutFractions(double r) {
    if (r < 1.3) return {0.79, 0.855};
    if (r < 1.4) return {0.63, 0.75};
    return {0.70, 0.80};
}

// ---- showing and closing ---------------------------------------------------------------------

void TfrmExames::setVisible(bool visible) {
    if (visible && !isVisible()) {
        // The controls are made before the window becomes visible: made in its show event they
        // would each be shown later by a queued call, a good part of the first frame's time.
        ensureUi();
        // The whole work area of the screen, also without a window manager to maximise it: a
        // dialog is otherwise centred over its parent at its size hint, partly off the screen.
        const QWidget* over = parentWidget() ? parentWidget()->window() : nullptr;
        if (const QScreen* s = over && over->screen() ? over->screen() : QGuiApplication::primaryScreen())
            setGeometry(s->availableGeometry());
        setWindowState(windowState() | Qt::WindowMaximized);
    }
    QDialog::setVisible(visible);
}

void TfrmExames::showEvent(QShowEvent* event) {
    ensureUi();
    QDialog::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        FormShow();
    }
}

void TfrmExames::FormShow() {
    TfrmAguarde::instance()->hide();
    ToolBarOrto1_->show();
    ToolBarOrto2_->show();
    pscrollMapas_->setMinimumWidth(300);
    autoMiniMapa_ = norvix::infos().AutoMiniMapa != 0;
    if (cBoxMiniMapa_) cBoxMiniMapa_->setChecked(autoMiniMapa_);
    examplesMode_ = false;
    examView_ = false;
    tbLocPacExam_->setChecked(false);
    CarregaFiltroMedicos();
    opening_ = true;
    CarregaPacientes(true);
    opening_ = false;
    focusPatientGrid();
    showPatientToolBar();
    pcExames_->setCurrentIndex(0);
    if (QWidget* tips = QApplication::activeModalWidget(); tips && tips->objectName() == QLatin1String("frmDica"))
        tips->close();
    // Exams left waiting by an earlier send go now, while the operator works.
    resumePacsSend();
}

void TfrmExames::btnFecharClick() {
    examplesMode_ = false;
    examView_ = false;
    close();
}

void TfrmExames::closeEvent(QCloseEvent* event) {
    if (!closing_ && built_) {
        finishPendingEdit();
        closing_ = true;
        try {
            writeBackSettings();
        } catch (const norvix::SettingsWriteError& e) {
            showMessage(e.message(), QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
        }
        QApplication::processEvents();
        if (TfrmAguarde::exists()) TfrmAguarde::instance()->close();
    }
    QDialog::closeEvent(event);
}

void TfrmExames::writeBackSettings() {
    using norvix::infos;
    using norvix::setRecordText;
    const QString filter = filterText();
    setRecordText(infos().MedicoAtivo, filter);
    setRecordText(infos().PacienteAtivo, patientName());
    infos().AutoMiniMapa = autoMiniMapa_ ? 1 : 0;
    if (TBIniSettings* s = settings_) {
        s->WriteParameter(QStringLiteral("Str"), QStringLiteral("CLINICA"), QStringLiteral("MEDICOATIVO"), filter,
                          false);
        s->WriteParameter(QStringLiteral("Str"), QStringLiteral("CLINICA"), QStringLiteral("PACIENTEATIVO"),
                          patientName(), false);
        s->WriteParameter(QStringLiteral("Bool"), QStringLiteral("OPCOES"), QStringLiteral("AUTOMINIMAPA"), QString(),
                          autoMiniMapa_);
    }
}

// ---- wait window -----------------------------------------------------------------------------

void TfrmExames::showWait() { TfrmAguarde::instance()->showNow(); }
void TfrmExames::hideWait() {
    if (TfrmAguarde::exists()) TfrmAguarde::instance()->hide();
}
void TfrmExames::startWaitTimer() { timerAguarde_->start(); }
void TfrmExames::TimerAguardeTimer() {
    hideWait();
    timerAguarde_->stop();
}

// ---- exams -----------------------------------------------------------------------------------

void TfrmExames::clearExamList() {
    finishPendingEdit();
    const QSignalBlocker block(lswPrincipal_);
    lswPrincipal_->clear();
    selectedCaption_.clear();
    selected_.reset();
    clearExamPanel();
    CBoxExames_->hide();
}

void TfrmExames::CarregaExames(int patientCode) {
    ensureUi();
    finishPendingEdit();
    const QString filter = filterText();
    const bool all = filter == kTodos || filter.isEmpty() || filter == kSemExames || CBoxExames_->isChecked();
    const QList<norvix::TExame> exams =
        norvix::DExames().SelectExamesByPaciente(patientCode, all ? 0 : currentFilterDoctor());
    const QSignalBlocker block(lswPrincipal_);
    clearExamList();
    for (const norvix::TExame& e : exams) {
        const int image = e.ortoceratologia() ? kImageOrto : kImageTopography;
        auto* item = new QListWidgetItem(examIcon(image), e.legenda(), lswPrincipal_);
        item->setData(kImageRole, image);
        item->setData(kCodeRole, e.codigo);
    }
    // The tear-film exams after the others, newest first; a database that could not take their
    // table lists the others all the same.
    if (!norvix::AvisoTabelaLagrima().isEmpty()) {
        updateShowAllBox();
        return;
    }
    try {
        for (const norvix::TExameLagrima& e :
             norvix::DLagrima().SelectByPaciente(patientCode, all ? 0 : currentFilterDoctor())) {
            auto* item = new QListWidgetItem(examIcon(kImageTearFilm), e.legenda(), lswPrincipal_);
            item->setData(kImageRole, kImageTearFilm);
            item->setData(kCodeRole, 0);
            item->setData(kTearFilmRole, e.codigo);
            item->setToolTip(TearFilmExam::kCaption);
        }
    } catch (const norvix::Error& e) {
        qCWarning(lcExams).noquote() << QStringLiteral("Exames de filme lacrimal:") << e.message();
    }
    updateShowAllBox();
}

int TfrmExames::selectedTearFilmCode() const {
    const int row = selectedItem();
    return row < 0 || examplesMode_ ? 0 : lswPrincipal_->item(row)->data(kTearFilmRole).toInt();
}

void TfrmExames::tbFilmeLacrimalClick() {
    if (!patient_) {
        showMessage(QStringLiteral("Selecione um Paciente para efetuar o exame!"), QStringLiteral("Informação"),
                    MsgIcon::Error, MsgButtons::Ok, this);
        return;
    }
    finishPendingEdit();
    const int patient = patient_->codigo;
    const QString doctor = currentFilterDoctor() ? filterText() : QString();
    const int code = TearFilmExam(this, patient, patient_->nome).run(doctor);
    if (code <= 0) return;
    showMessage(QStringLiteral("Exame gravado com sucesso"), QStringLiteral("Informação"), MsgIcon::Information,
                MsgButtons::Ok, this);
    // The new exam selected in the patient's list.
    CarregaExames(patient);
    for (int i = 0; i < lswPrincipal_->count(); ++i) {
        if (lswPrincipal_->item(i)->data(kTearFilmRole).toInt() != code) continue;
        lswPrincipal_->setCurrentRow(i);
        lswPrincipal_->item(i)->setSelected(true);
        break;
    }
}

void TfrmExames::updateShowAllBox() {
    // The patient's exam count (TOTALEXAMES) is of the EXAMES rows only.
    int count = 0;
    for (int i = 0; i < lswPrincipal_->count(); ++i) count += lswPrincipal_->item(i)->data(kTearFilmRole).toInt() == 0;
    const QString filter = filterText();
    const int total = patient_ ? patient_->totalExames : 0;
    if (!CBoxExames_->isChecked()) {
        CBoxExames_->setVisible(count > 0 && count < total && filter != kTodos && !examplesMode_);
    } else {
        const int doctor = currentFilterDoctor();
        CBoxExames_->setVisible(!examplesMode_ && patient_ &&
                                total != norvix::DExames().CountExamesByMedicoPaciente(doctor, patient_->codigo));
    }
}

void TfrmExames::CBoxExamesClick() { CarregaExames(patientCode()); }

// The maps, the multi-map wizards and the report wizard read these: the tear-film items,
// which have no rings' tables, are left out of them.
QStringList TfrmExames::itemCaptions() const {
    QStringList out;
    if (!built_) return out;
    for (int i = 0; i < lswPrincipal_->count(); ++i)
        if (lswPrincipal_->item(i)->data(kTearFilmRole).toInt() == 0) out << lswPrincipal_->item(i)->text();
    return out;
}

QList<int> TfrmExames::itemCodes() const {
    QList<int> out;
    if (!built_) return out;
    for (int i = 0; i < lswPrincipal_->count(); ++i)
        if (lswPrincipal_->item(i)->data(kTearFilmRole).toInt() == 0) out << lswPrincipal_->item(i)->data(kCodeRole).toInt();
    return out;
}

QStringList TfrmExames::tearFilmCaptions() const {
    QStringList out;
    if (!built_) return out;
    for (int i = 0; i < lswPrincipal_->count(); ++i)
        if (lswPrincipal_->item(i)->data(kTearFilmRole).toInt() > 0) out << lswPrincipal_->item(i)->text();
    return out;
}

int TfrmExames::selectedItem() const {
    if (!built_) return -1;
    const QList<QListWidgetItem*> s = lswPrincipal_->selectedItems();
    return s.isEmpty() ? -1 : lswPrincipal_->row(s.first());
}

bool TfrmExames::examPanelVisible() const { return pnlExame_ && pnlExame_->isVisible(); }
bool TfrmExames::automaticSmallMap() const { return autoMiniMapa_; }

std::optional<norvix::TExame> TfrmExames::LocalizaExame(const QString& caption) {
    std::optional<norvix::TExame> exam;
    for (int i = 0; built_ && i < lswPrincipal_->count() && !exam; ++i) {
        const QListWidgetItem* item = lswPrincipal_->item(i);
        if (item->text() == caption && item->data(kCodeRole).toInt() > 0)
            exam = norvix::DExames().SelectExameByCodigo(item->data(kCodeRole).toInt());
    }
    if (!exam && patientCode() > 0) exam = norvix::DExames().SelectExameByLegenda(patientCode(), caption);
    if (exam && exam->paciente != patientCode()) exam.reset();
    if (exam && exam->orto) {
        sag_ = exam->orto->sag;
        div_ = exam->orto->div;
        raio_ = exam->orto->raio;
    }
    return exam;
}

int TfrmExames::selectedExamCode() const {
    const int row = selectedItem();
    return row < 0 || examplesMode_ ? 0 : lswPrincipal_->item(row)->data(kCodeRole).toInt();
}

std::optional<norvix::TExame> TfrmExames::selectedExam() const {
    const int code = selectedExamCode();
    return code > 0 ? norvix::DExames().SelectExameByCodigo(code) : std::nullopt;
}

void TfrmExames::lswPrincipalSelectItem() {
    const int row = selectedItem();
    const int code = selectedExamCode();
    if (!shown_ || shown_->codigo != code) finishPendingEdit();
    selectedCaption_ = row < 0 ? QString() : lswPrincipal_->item(row)->text();
    selected_.reset();
    if (!examplesMode_ && code > 0) {
        selected_ = norvix::DExames().SelectExameByCodigo(code);
        if (!selected_) {
            showMessage(QStringLiteral("Erro ao selecionar o exame."), QStringLiteral("Erro"), MsgIcon::Error,
                        MsgButtons::Ok, this);
            clearExamPanel();
            // Another workstation may have deleted it: show what is there now, once the list is
            // done with this selection.
            QMetaObject::invokeMethod(
                this, [this] { CarregaExames(patientCode()); }, Qt::QueuedConnection);
            return;
        }
        if (selected_->orto) {
            sag_ = selected_->orto->sag;
            div_ = selected_->orto->div;
            raio_ = selected_->orto->raio;
        }
        examView_ = true;
        showExamToolBar();
        if (examPanelVisible()) MostraInfoExame(0);
    } else if (!examplesMode_ && examPanelVisible()) {
        clearExamPanel();
    }
    if (examplesMode_) {
        for (QToolButton* b : {tbNovoExame1_, tbNovoExame2_, tbtExcluirExame_, tbtCadPaciente_, tbLocPacExam_,
                               tbtAlterarPaciente_, tbtExcluirPaciente_})
            b->setEnabled(false);
    } else {
        tbtExcluirExame_->setEnabled(row >= 0);
        // A tear-film exam is not sent to the PACS from here yet.
        tbEnviarPacs_->setEnabled(row >= 0 && selectedTearFilmCode() == 0);
        tbLaudo_->setEnabled(selected_ && selected_->nomeMedico == filterText());
    }
}

void TfrmExames::lswPrincipalDblClick() {
    if (const int tearFilm = selectedTearFilmCode(); tearFilm > 0) {
        TfrmLagrima::mostra(this, tearFilm, patientName());
        return;
    }
    if (examPanelVisible() || examplesMode_) {
        finishPendingEdit();
        if (pnlExame_) pnlExame_->hide();
    } else if (selected_) {
        MostraInfoExame(0);
    }
}

void TfrmExames::SelecionaExame(const QString& caption, int page) {
    ensureUi();
    for (int i = 0; i < lswPrincipal_->count(); ++i) {
        if (!lswPrincipal_->item(i)->text().startsWith(caption) || lswPrincipal_->item(i)->data(kTearFilmRole).toInt() > 0)
            continue;
        lswPrincipal_->setCurrentRow(i);
        lswPrincipal_->item(i)->setSelected(true);
        lswPrincipal_->setFocus();
        MostraInfoExame(page);
        return;
    }
}

void TfrmExames::MostraInfoExame(int page) {
    ensureExamPanel();
    if (!shown_ || !selected_ || shown_->codigo != selected_->codigo) finishPendingEdit();
    SpeedButton1_->setEnabled(false);
    SpeedButton4_->setEnabled(false);
    pgcInfo_->setCurrentIndex(page);
    shown_ = selectedItem() >= 0 ? selected_ : std::nullopt;
    if (!shown_) {
        clearExamPanel();
        pnlExame_->show();
        return;
    }
    const norvix::TExame& exam = *shown_;
    const bool ownDoctor = exam.nomeMedico == filterText();
    SpeedButton2_->setEnabled(ownDoctor);
    SpeedButton5_->setEnabled(ownDoctor);
    // The doctor's name in red when the exam is another doctor's, navy otherwise.
    lblNomeMedico_->setStyleSheet(ownDoctor ? QStringLiteral("color: rgb(0,0,128); text-decoration: underline;")
                                            : QStringLiteral("color: rgb(255,0,0); text-decoration: underline;"));
    lblOlho_->setText(exam.direito() ? QStringLiteral("Olho Direito") : QStringLiteral("Olho Esquerdo"));
    lblCodigoExame_->setText(QStringLiteral("%1").arg(exam.codigo, 4, 10, QLatin1Char('0')));
    lblData_->setText(exam.data.toString(QStringLiteral("dd/MM/yyyy")));
    lblHora_->setText(exam.hora.toString(QStringLiteral("HH:mm:ss")));
    lblNomeMedico_->setText(exam.nomeMedico);
    lblIndConf_->setText(textoDecimal(exam.indConf, 2) + QLatin1Char('%'));
    memDiag_->setPlainText(exam.diag);
    memObs_->setPlainText(exam.observacao);
    if (exam.orto) {
        lblDiv_->setText(textoDecimal(exam.orto->div, 2));
        lblRaio_->setText(textoDecimal(exam.orto->raio, 2));
        lblSag_->setText(textoDecimal(exam.orto->sag, 2));
    }
    gbOrto_->setVisible(exam.orto.has_value());
    memDiag_->setReadOnly(true);
    memObs_->setReadOnly(true);
    pnlExame_->show();
    if (cBoxMiniMapa_->isChecked()) {
        maps_->MostraMiniMapa();
    } else {
        imgVisualizar_->clear();
        smallMapExam_ = -1;
    }
}

void TfrmExames::clearExamPanel() {
    finishPendingEdit();
    shown_.reset();
    if (!pnlExame_) return;
    for (QLabel* l : {lblOlho_, lblCodigoExame_, lblData_, lblHora_, lblNomeMedico_, lblIndConf_}) l->clear();
    memDiag_->clear();
    memObs_->clear();
    memDiag_->setReadOnly(true);
    memObs_->setReadOnly(true);
    for (QToolButton* b : {SpeedButton1_, SpeedButton2_, SpeedButton4_, SpeedButton5_}) b->setEnabled(false);
    gbOrto_->hide();
    imgVisualizar_->clear();
    smallMapExam_ = -1;
    pnlExame_->hide();
}

void TfrmExames::finishPendingEdit() {
    if (!pnlExame_) return;
    for (bool diagnosis : {true, false}) {
        QPlainTextEdit* memo = diagnosis ? memDiag_ : memObs_;
        if (memo->isReadOnly()) continue;
        const QString stored = shown_ ? (diagnosis ? shown_->diag : shown_->observacao) : QString();
        const bool changed = shown_ && memo->toPlainText() != stored;
        if (changed &&
            showMessage(diagnosis ? QStringLiteral("Deseja salvar as alterações do diagnóstico?")
                                  : QStringLiteral("Deseja salvar as alterações das observações?"),
                        QStringLiteral("Informação"), MsgIcon::Question, MsgButtons::YesNo, this,
                        MsgAnswer::Yes) == MsgAnswer::Yes &&  // Enter keeps what was typed
            saveMemo(diagnosis))
            continue;
        // Dropped: the memo shows what is stored again.
        const QSignalBlocker block(memo);
        memo->setPlainText(stored);
        memo->setReadOnly(true);
        (diagnosis ? SpeedButton1_ : SpeedButton4_)->setEnabled(false);
        (diagnosis ? SpeedButton2_ : SpeedButton5_)->setEnabled(shown_.has_value());
    }
}

void TfrmExames::editDiagnosis() {
    ensureExamPanel();
    // Typing in the quick find would move the selection away from the exam being edited.
    if (edtFindGrid_->isVisible()) hideQuickFind();
    memDiag_->setReadOnly(false);
    SpeedButton1_->setEnabled(true);
    SpeedButton2_->setEnabled(false);
    memDiag_->setFocus();
}

void TfrmExames::editObservations() {
    ensureExamPanel();
    if (edtFindGrid_->isVisible()) hideQuickFind();
    memObs_->setReadOnly(false);
    SpeedButton4_->setEnabled(true);
    SpeedButton5_->setEnabled(false);
    memObs_->setFocus();
}

void TfrmExames::lblNomeMedicoClick() { SelecionaPacientePorCodigo(patientCode(), lblNomeMedico_->text()); }

void TfrmExames::showPatientToolBar() { stkToolBars_->setCurrentIndex(0); }
void TfrmExames::showExamToolBar() { stkToolBars_->setCurrentIndex(1); }

void TfrmExames::setPatientButtonsEnabled(bool enabled) {
    for (QToolButton* b : {tbtCadPaciente_, tbNovoExame1_, tbNovoExame2_, tbtAlterarPaciente_, tbtExcluirPaciente_,
                           tbExameOrto1_, tbExameOrto2_})
        b->setEnabled(enabled);
}

void TfrmExames::showFindPanel(bool show) {
    if (tbLocPacExam_->isChecked() != show) {
        tbLocPacExam_->setChecked(show);  // toggled comes back here
        return;
    }
    if (show) {
        findPanel().openSearch();
        stkLista_->setCurrentWidget(findPanel_);
    } else {
        if (findPanel_) findPanel_->closeSearch();
        stkLista_->setCurrentIndex(0);
    }
}

// ---- deleting --------------------------------------------------------------------------------

void TfrmExames::tbtExcluirExameClick() { deleteExam(); }

void TfrmExames::deleteExam() {
    if (selectedItem() < 0) return;
    if (selectedTearFilmCode() > 0) {
        deleteTearFilmExam();
        return;
    }
    const QString caption = selectedCaption_;
    if (showMessage(QStringLiteral("Confirma a exclusão do exame '") + caption + QStringLiteral("' ?"),
                    QStringLiteral("Informação"), MsgIcon::Question, MsgButtons::YesNo, this,
                    MsgAnswer::No) != MsgAnswer::Yes)
        return;
    const std::optional<norvix::TExame> exam = selectedExam();
    if (!exam) {
        showMessage(QStringLiteral("Erro ao selecionar o registro!!!"), QStringLiteral("Erro"), MsgIcon::Error,
                    MsgButtons::Ok, this);
        return;
    }
    const int linked = norvix::LaudosDoExame(*exam).size();
    if (linked > 0 &&
        showMessage(
            QStringLiteral("Existe(m)  %1  Laudo(s) vinculado(s).\rConfirma a exclusão do(s) Laudos(s)?").arg(linked),
            QStringLiteral("Informação"), MsgIcon::Question, MsgButtons::YesNo, this,
            MsgAnswer::No) != MsgAnswer::Yes) {
        showMessage(QStringLiteral("Exclusão cancelada!!!"), QStringLiteral("Informação"), MsgIcon::Warning,
                    MsgButtons::Ok, this);
        return;
    }
    finishPendingEdit();
    norvix::TExclusao done;
    try {
        done = norvix::ExcluiExame(*exam);
    } catch (const norvix::Error& e) {
        showMessage(QStringLiteral("Não foi possível excluir o exame.\n\n") + e.message(), QStringLiteral("Erro"),
                    MsgIcon::Error, MsgButtons::Ok, this);
        return;
    }
    for (const QString& path : std::as_const(done.naoRemovidos))
        qCWarning(lcExams).noquote() << QStringLiteral("Não foi possível excluir") << path;
    afterDeletion(done, exam->codigo);

    clearExamPanel();
    if (done.examesRestantes > 0) {
        SelecionaPacientePorCodigo(exam->paciente, filterText());
    } else {
        CarregaFiltroMedicos();
        SelecionaPacientePorCodigo(exam->paciente, kSemExames);
    }
}

void TfrmExames::deleteTearFilmExam() {
    const int code = selectedTearFilmCode();
    const QString caption = selectedCaption_.section(QLatin1Char('\n'), 0, 0);
    if (showMessage(QStringLiteral("Confirma a exclusão do exame de filme lacrimal '") + caption + QStringLiteral("' ?"),
                    QStringLiteral("Informação"), MsgIcon::Question, MsgButtons::YesNo, this,
                    MsgAnswer::No) != MsgAnswer::Yes)
        return;
    try {
        afterDeletion(norvix::ExcluiExameLagrima(code));
    } catch (const norvix::Error& e) {
        showMessage(QStringLiteral("Não foi possível excluir o exame.\n\n") + e.message(), QStringLiteral("Erro"),
                    MsgIcon::Error, MsgButtons::Ok, this);
        return;
    }
    CarregaExames(patientCode());
}

void TfrmExames::tbtExcluirPacienteClick() { deletePatient(); }

void TfrmExames::deletePatient() {
    if (!patient_) return;
    const int code = patient_->codigo;
    const QString name = patient_->nome;
    QList<int> reports;
    int tearFilms = 0;
    try {
        if (norvix::DExames().CountExamesByPaciente(code) > 0) {
            showMessage(QStringLiteral("Não é possivel excluir o paciente ") + name +
                            QStringLiteral("! \n\nPara excluir este paciente é preciso excluir todos os exames."),
                        QStringLiteral("Informação"), MsgIcon::Information, MsgButtons::Ok, this);
            return;
        }
        reports = norvix::LaudosDoPaciente(code);
        if (norvix::AvisoTabelaLagrima().isEmpty()) tearFilms = norvix::DLagrima().CountByPaciente(code);
    } catch (const norvix::Error& e) {
        showMessage(e.message(), QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
        return;
    }
    QString question = QStringLiteral("Confirma a exclusão do paciente '") + name + QStringLiteral("'?");
    if (!reports.isEmpty())
        question += QStringLiteral("\n\nO(s) %1 laudo(s) do paciente também será(ão) excluído(s).").arg(reports.size());
    if (tearFilms > 0)
        question += QStringLiteral("\n\nO(s) %1 exame(s) de filme lacrimal do paciente também será(ão) excluído(s).")
                        .arg(tearFilms);
    if (showMessage(question, QStringLiteral("Informação"), MsgIcon::Question, MsgButtons::YesNo, this,
                    MsgAnswer::No) != MsgAnswer::Yes)
        return;
    try {
        const norvix::TExclusao done = norvix::ExcluiPaciente(code);
        for (const QString& path : done.naoRemovidos)
            qCWarning(lcExams).noquote() << QStringLiteral("Não foi possível excluir") << path;
        afterDeletion(done);
    } catch (const norvix::Error& e) {
        showMessage(QStringLiteral("Não foi possível excluir o paciente.\n\n") + e.message(), QStringLiteral("Erro"),
                    MsgIcon::Error, MsgButtons::Ok, this);
        return;
    }
    patient_.reset();
    CarregaFiltroMedicos();
    if (norvix::DPacientes().CountPacientes() == 0)
        SelecionaPaciente(QString(), kTodos);
    else
        SelecionaPaciente(QString(), filterText().isEmpty() ? kTodos : filterText());
}

// ---- starting work ---------------------------------------------------------------------------

void TfrmExames::tbNovoExameClick() {
    if (!patient_) {
        showMessage(QStringLiteral("Selecione um Paciente para efetuar o exame!"), QStringLiteral("Informação"),
                    MsgIcon::Error, MsgButtons::Ok, this);
        return;
    }
    finishPendingEdit();
    if (openers().novoExame) openers().novoExame(*this, false);
}

void TfrmExames::tbExameOrtoClick() {
    if (!patient_) {
        showMessage(QStringLiteral("Selecione um Paciente para efetuar o exame!"), QStringLiteral("Informação"),
                    MsgIcon::Error, MsgButtons::Ok, this);
        return;
    }
    finishPendingEdit();
    if (openers().novoExame) openers().novoExame(*this, true);
}

void TfrmExames::tbtCadPacienteClick() {
    CarregaFiltroMedicos();
    SelecionaPacientePorCodigo(patientCode(), filterText());
    if (openers().novoPaciente) openers().novoPaciente(*this);
}

void TfrmExames::tbtAlterarPacienteClick() {
    if (!patient_) return;
    finishPendingEdit();
    if (openers().editarPaciente) openers().editarPaciente(*this, patient_->codigo);
    returnGridToRow();
}

void TfrmExames::tbLaudoClick() {
    if (selectedItem() < 0 && lswPrincipal_->count() == 0) {
        showMessage(QStringLiteral("Não há exames para gerar laudo!"), QStringLiteral("Atenção"), MsgIcon::Warning,
                    MsgButtons::Ok, this);
        return;
    }
    finishPendingEdit();
    if (openers().laudo) openers().laudo(*this);
    returnGridToRow();
}

void TfrmExames::tbExportadorClick() {
    if (selectedItem() < 0) {
        showMessage(QStringLiteral("Por favor, selecione o exame que deseja exportar."), QStringLiteral("Informação"),
                    MsgIcon::Information, MsgButtons::Ok, this);
        return;
    }
    TExamExport::Run(*this);
}

// ---- examples page ---------------------------------------------------------------------------

void TfrmExames::pcExamesChange(int page) {
    if (page == 1) {
        clearExamPanel();
        examplesMode_ = true;
        examView_ = false;
        showExamToolBar();
        for (QToolButton* b : {tbNovoExame1_, tbNovoExame2_, tbtExcluirExame_, tbExportador_, tbEnviarPacs_, tbLaudo_,
                               tbOrdemAlfa_, tbOrdemCriacao_, tbExameOrto1_, tbExameOrto2_})
            b->setEnabled(false);
        CBoxExames_->hide();
        ensureExamplesGrid();
        for (int r = 1; r <= 6; ++r) GridExemplos_->setItem(r, 1, new QTableWidgetItem(kExamplesRows[r - 1]));
        GridExemplos_->setCurrentCell(1, 1);
        GridExemplosSelectCell(1);
    } else {
        for (QToolButton* b : {tbNovoExame1_, tbNovoExame2_, tbtExcluirExame_, tbExportador_, tbEnviarPacs_, tbLaudo_,
                               tbOrdemAlfa_, tbOrdemCriacao_, tbExameOrto1_, tbExameOrto2_})
            b->setEnabled(true);
        tbOrdemAlfa_->setChecked(true);
        examplesMode_ = false;
        examView_ = true;
        clearExamList();
        if (patient_) {
            DBEditControleChange();
        } else {
            AtualizaPaciente();
        }
        tbLocPacExam_->setEnabled(true);
        tbtCadPaciente_->setEnabled(true);
    }
}

void TfrmExames::GridExemplosSelectCell(int row) {
    if (row < 1 || row > 6) return;
    const QSignalBlocker block(lswPrincipal_);
    lswPrincipal_->clear();
    selectedCaption_.clear();
    const QIcon topography = examIcon(kImageTopography), orto = examIcon(kImageOrto);
    if (row <= 5) {
        for (int n = 1; n <= 6; ++n) {
            const QString caption = (n <= 4 ? QStringLiteral("OD - ") : QStringLiteral("OS - ")) +
                                    kExamplesStems[row - 1] + QString::number(n);
            new QListWidgetItem(topography, caption, lswPrincipal_);
            lswPrincipal_->item(lswPrincipal_->count() - 1)->setData(kImageRole, kImageTopography);
        }
    } else {
        for (int n = 1; n <= 4; ++n) {
            new QListWidgetItem(orto, QStringLiteral("Orto0") + QString::number(n), lswPrincipal_);
            lswPrincipal_->item(lswPrincipal_->count() - 1)->setData(kImageRole, kImageOrto);
        }
    }
}

}  // namespace norvix
