#pragma once
// The exam browser "Navegador do Miral": the doctor filter and the patient grid over the shared
// patient query, the patient's exams, the exam panel with diagnosis and observations, deleting
// exams and patients, the export, the examples page, and the tool bars from which the other
// exam windows start. Map viewing lives in TExamMaps and the search panel in TPnlFindPac; both
// reach the window only through the operations below.
#include <QByteArray>
#include <QDialog>
#include <QPointer>
#include <QSize>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

#include "records/UDExames.h"
#include "records/UDPacientes.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPlainTextEdit;
class QGroupBox;
class QScrollArea;
class QStackedWidget;
class QTabWidget;
class QVBoxLayout;
class QTableView;
class QTableWidget;
class QTimer;
class QToolBar;
class QToolButton;
class QPushButton;
class QLineEdit;
class QFrame;

namespace norvix {

class TMapCatalogue;
class TExamMaps;
class TPnlFindPac;
class TBIniSettings;
struct TExclusao;

class TPatientGridModel;

class TfrmExames : public QDialog {
    Q_OBJECT
public:
    // The doctor filter's two special entries.
    static const QString kSemExames;  // "*** Sem Exames"
    static const QString kTodos;      // "*** Todos"

    // settings: the program's settings file, where the window keeps the doctor, the patient
    // and the small-map choice between sessions (and the search keeps its tip choice).
    explicit TfrmExames(TBIniSettings* settings, QWidget* parent = nullptr);
    ~TfrmExames() override;

    // The process-wide window: created by the main window when it has to, cleared on close.
    static TfrmExames* instance();
    static bool exists();

    // The catalogue's buttons on the map tool bar (tlbMapas), replacing those placed before.
    void placeMapButtons(const TMapCatalogue& catalogue);

    // ---- operations other windows call ----------------------------------------------------
    void CarregaFiltroMedicos();
    // Selects the filter entry equal to filter (none when absent), reloads the patients in
    // the current order and moves to the first patient whose name begins with name.
    void SelecionaPaciente(const QString& name, const QString& filter);
    // The same, moving to the patient of that code (the first row when the list does not hold
    // it): how the browser finds a patient again, so that namesakes are never confused.
    void SelecionaPacientePorCodigo(int code, const QString& filter);
    // Makes the patient of that code current when the patient list holds it; whether it did.
    bool SelecionaCodigoPaciente(int code);
    // The exam of an item caption ("OD - dd/MM/yyyy HH:mm:ss") of the current patient: the
    // list item's exam by its code, else the row of that eye, date and time; for an
    // orthokeratology exam its Sag, Div, Raio also become the browser's.
    std::optional<norvix::TExame> LocalizaExame(const QString& caption);
    // The selected item's exam read again by its code (none when no stored exam is selected or
    // another workstation deleted it), and that code (0 when none).
    std::optional<norvix::TExame> selectedExam() const;
    int selectedExamCode() const;
    // The code of the exam the exam panel shows (0 when it shows none).
    int shownExamCode() const { return shown_ ? shown_->codigo : 0; }
    // Selects and focuses the first exam item whose caption begins with caption, then shows
    // the exam panel on its page (0 diagnosis, 1 observations).
    void SelecionaExame(const QString& caption, int page);
    void MostraInfoExame(int page);
    void CarregaPacientes(bool byName);
    void CarregaExames(int patientCode);

    // The wait window around a long operation; the timer hides it one second after a module
    // call began (its windows come up by then).
    void showWait();
    void hideWait();
    void startWaitTimer();
    QTimer* TimerAguarde() const { return timerAguarde_; }

    // ---- state shared with map viewing and the search --------------------------------------
    bool examplesMode() const { return examplesMode_; }
    bool examView() const { return examView_; }
    QString selectedCaption() const { return selectedCaption_; }
    QString patientName() const { return patient_ ? patient_->nome : QString(); }
    int patientCode() const { return patient_ ? patient_->codigo : 0; }
    const std::optional<norvix::TPaciente>& patient() const { return patient_; }
    double sag() const { return sag_; }
    double div() const { return div_; }
    double raio() const { return raio_; }
    // The filter's entries as shown, in order.
    QStringList filterEntries() const;
    QString filterText() const;
    // Exam list captions in order, and the selected one (-1 when none). The tear-film items
    // are not among them (they are after the others, in tearFilmCaptions).
    QStringList itemCaptions() const;
    // The exam code each item stands for, in the same order (0 for an example item).
    QList<int> itemCodes() const;
    QStringList tearFilmCaptions() const;
    int selectedItem() const;
    bool examPanelVisible() const;
    // Small map state (set by map viewing).
    int smallMapExam() const { return smallMapExam_; }
    void setSmallMapExam(int code) { smallMapExam_ = code; }
    QLabel* smallMapPicture() const { return imgVisualizar_; }
    bool automaticSmallMap() const;
    TExamMaps& maps() const { return *maps_; }
    TBIniSettings* settings() const { return settings_; }
    TPnlFindPac& findPanel();

    // The patient and exam tool bars as the search panel and the rules need them.
    void setPatientButtonsEnabled(bool enabled);  // the five buttons the search disables
    void showFindPanel(bool show);
    void focusPatientGrid();

    // ---- handlers (the window's controls call them; tests may too) -------------------------
    void FormShow();
    void CBMedicosChange();
    void DBEditControleChange();
    void DBGridPacientesCellClick();
    void DBGridPacientesDblClick();
    void lswPrincipalSelectItem();
    void lswPrincipalDblClick();
    void tbOrdemAlfaClick();
    void tbOrdemCriacaoClick();
    void tbNovoExameClick();
    void tbExameOrtoClick();
    // "Filme Lacrimal (NIBUT)" (Ctrl+T, and in the Novo Exame button's menu): the tear-film
    // road for the current patient; the stored exam then selected in the list.
    void tbFilmeLacrimalClick();
    // The selected item's tear-film exam code (0 when the item is not one).
    int selectedTearFilmCode() const;
    void tbtCadPacienteClick();
    void tbtAlterarPacienteClick();
    void tbtExcluirPacienteClick();
    void tbtExcluirExameClick();
    void tbLaudoClick();
    void tbExportadorClick();
    // "Enviar ao PACS" (Ctrl+D): the selected exam's visit put in the outbox and the outbox
    // sent on a worker thread; the status label shows the progress, the outcome and what waits.
    void tbEnviarPacsClick();
    // Queues the visits of these exams and sends the outbox in the background, the outcome in
    // the status label; operatorAsked: a failed send is also a message. False, the reason told,
    // when the PACS is not configured, an exam could not be queued or a part of a visit was left out.
    bool enviaAoPacs(const QList<int>& examCodes, bool operatorAsked);
    bool pacsConfigurado() const;
    // After an exam or a report is saved: with automatic sending on, its exams' visits are
    // queued and sent in the background (a missing PACS or an exam that cannot be queued is said).
    void enviaAoPacsSeAutomatico(const QList<int>& examCodes);
    QString pacsStatusText() const;
    bool pacsSending() const { return pacsSending_; }
    void CBoxExamesClick();
    // The memo buttons under their established names, each forwarding to its intent.
    void SpeedButton1Click() { saveDiagnosis(); }
    void SpeedButton2Click() { editDiagnosis(); }
    void SpeedButton4Click() { saveObservations(); }
    void SpeedButton5Click() { editObservations(); }
    void editDiagnosis();
    void editObservations();
    void saveDiagnosis() { saveMemo(true); }
    void saveObservations() { saveMemo(false); }
    void lblNomeMedicoClick();
    void pcExamesChange(int page);
    void GridExemplosSelectCell(int row);
    void TimerAguardeTimer();
    void btnFecharClick();
    void FormResize();

    // The windows that later work brings (new exam, patient picker, registration, report
    // wizard) plug in here; until one is set its button opens nothing.
    struct Openers {
        std::function<void(TfrmExames&, bool orto)> novoExame;
        std::function<void(TfrmExames&)> novoPaciente;
        std::function<void(TfrmExames&, int patientCode)> editarPaciente;
        std::function<void(TfrmExames&)> laudo;
        // A saved report printed as PDF for the PACS (none when it cannot be printed).
        std::function<std::optional<QByteArray>(int reportCode, QString* error)> laudoPdf;
    };
    static Openers& openers();

    // The layout fractions of the patient grid and panel for a screen ratio.
    static std::pair<double, double> layoutFractions(double ratio);

    // After a deletion here or in a window opened from here (the report wizard): what could not
    // follow it is said, and what the PACS outbox withdrew with it and remains is queued again.
    void afterDeletion(const norvix::TExclusao& done, int deletedExam = 0);

protected:
    void setVisible(bool visible) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The window's controls are made at its first showing (or first use): the start-up creates
    // the browser long before the operator opens it, and must not pay for its widgets.
    void ensureUi();
    void buildUi();
    QWidget* buildPatientsPage();
    QWidget* buildExamplesPage();
    void ensureExamplesGrid();
    QWidget* buildExamPanel();
    void ensureExamPanel();
    void fitMapStrip();
    void showPatientToolBar();
    void showExamToolBar();
    void AtualizaPaciente();
    void updateShowAllBox();
    void clearExamList();
    // Loads the patients in that order and stands on the patient of code, or when code is 0 on
    // the first patient named name ignoring case (the first row when the list holds neither).
    void reloadPatients(bool byName, int code, const QString& name = QString());
    // An edit of the diagnosis or the observations in progress belongs to the exam the panel
    // shows: saved there after asking, or dropped; never carried to another exam.
    void finishPendingEdit();
    // Stores the memo's text only while the stored one is still the text the panel showed;
    // otherwise the operator sees both and chooses (UfrmExamesEstacoes.cpp).
    bool saveMemo(bool diagnosis);
    // What another workstation (or this one) stored reaches the open lists: the records' notices
    // refresh them, keeping the patient and the exam by code, never under an open question or an
    // edit in progress.
    void listenToDatabase();
    void refreshFromDatabase();
    bool canRefreshNow() const;
    void clearExamPanel();
    void setPatientEditButtons(bool enabled);
    void moveToPatientPrefix(const QString& prefix, bool caseInsensitive = false);
    void selectGridRow(int row);
    // The data module's patient query made to stand on the patient of a grid row.
    void openCurrentPatient(int row);
    void returnGridToRow();
    bool handleKey(QKeyEvent* event, QObject* source);
    void quickFind(const QString& text);
    // Enter on an exam item: the exam panel shown and focused (a tear-film or an example item
    // opens as a double click does).
    void openExamByKeyboard();
    void hideQuickFind();
    void deleteExam();
    void deleteTearFilmExam();
    void deletePatient();
    void refreshCurrentPatientRow();
    int currentFilterDoctor() const;  // code of the filter's doctor, 0 for a special entry
    void writeBackSettings();
    // The outbox sent in the background; operatorAsked: the outcome is also said in a message.
    void startPacsSend(bool operatorAsked);
    void resumePacsSend();

    // State of 5.2.
    bool examplesMode_ = false;
    bool examView_ = false;
    QString selectedCaption_;
    std::optional<norvix::TPaciente> patient_;  // the current patient, as read by its code
    std::optional<norvix::TExame> selected_;    // the selected exam, as read by its code
    std::optional<norvix::TExame> shown_;       // the exam the panel shows
    double sag_ = 0, div_ = 0, raio_ = 0;
    int smallMapExam_ = -1;
    bool byName_ = true;
    bool loadingPatients_ = false;
    bool closing_ = false;
    bool shownOnce_ = false;
    bool opening_ = false;  // FormShow's first load of the patients
    bool built_ = false;
    std::unique_ptr<TMapCatalogue> pendingButtons_;

    // Controls (object names as the operator's manual calls them).
    QComboBox* CBMedicos_ = nullptr;
    QToolButton* tbOrdemAlfa_ = nullptr;
    QToolButton* tbOrdemCriacao_ = nullptr;
    QTabWidget* pcExames_ = nullptr;
    QTableView* DBGridPacientes_ = nullptr;
    TPatientGridModel* patientModel_ = nullptr;
    QLineEdit* edtFindGrid_ = nullptr;
    QLabel* lblFindGrid_ = nullptr;  // "Nenhum paciente começa com ..." under the quick find
    QPushButton* bbtnBuscaAv_ = nullptr;
    QFrame* pnlPaciente_ = nullptr;
    QLabel* lblID_ = nullptr;
    QLabel* lblNomePaciente_ = nullptr;
    QLabel* lblConvenio_ = nullptr;
    QLabel* lblUltimoExame_ = nullptr;
    QLabel* lblTotalExames_ = nullptr;
    QTableWidget* GridExemplos_ = nullptr;
    QStackedWidget* stkLista_ = nullptr;
    QListWidget* lswPrincipal_ = nullptr;
    QCheckBox* CBoxExames_ = nullptr;
    QStackedWidget* stkToolBars_ = nullptr;
    QToolBar* tlbPaciente_ = nullptr;
    QToolBar* tlbExame_ = nullptr;
    QToolBar* ToolBarOrto1_ = nullptr;
    QToolBar* ToolBarOrto2_ = nullptr;
    QToolButton* tbtCadPaciente_ = nullptr;
    QToolButton* tbtAlterarPaciente_ = nullptr;
    QToolButton* tbtExcluirPaciente_ = nullptr;
    QToolButton* tbLocPacExam_ = nullptr;
    QToolButton* tbNovoExame1_ = nullptr;
    QToolButton* tbNovoExame2_ = nullptr;
    QToolButton* tbExameOrto1_ = nullptr;
    QToolButton* tbExameOrto2_ = nullptr;
    QToolButton* tbtExcluirExame_ = nullptr;
    QToolButton* tbLaudo_ = nullptr;
    QToolButton* tbExportador_ = nullptr;
    QToolButton* tbEnviarPacs_ = nullptr;
    QLabel* lblPacs_ = nullptr;  // what waits for the PACS, the send's progress and outcome
    bool pacsSending_ = false;
    bool pacsAgain_ = false;     // an exam queued during a send: sent by another one after it
    QScrollArea* pscrollMapas_ = nullptr;
    QToolBar* tlbMapas_ = nullptr;
    QFrame* pnlExame_ = nullptr;
    QLabel* lblOlho_ = nullptr;
    QLabel* lblCodigoExame_ = nullptr;
    QLabel* lblData_ = nullptr;
    QLabel* lblHora_ = nullptr;
    QLabel* lblNomeMedico_ = nullptr;
    QLabel* lblIndConf_ = nullptr;
    QTabWidget* pgcInfo_ = nullptr;
    QPlainTextEdit* memDiag_ = nullptr;
    QPlainTextEdit* memObs_ = nullptr;
    QToolButton* SpeedButton1_ = nullptr;
    QToolButton* SpeedButton2_ = nullptr;
    QToolButton* SpeedButton4_ = nullptr;
    QToolButton* SpeedButton5_ = nullptr;
    QGroupBox* gbOrto_ = nullptr;
    QLabel* lblDiv_ = nullptr;
    QLabel* lblRaio_ = nullptr;
    QLabel* lblSag_ = nullptr;
    QLabel* imgVisualizar_ = nullptr;
    QCheckBox* cBoxMiniMapa_ = nullptr;
    QPushButton* btnFechar_ = nullptr;
    QVBoxLayout* rightColumn_ = nullptr;  // the column the exam panel joins when first shown
    bool autoMiniMapa_ = false;
    QSize fieldHint_;       // the quick find's field height and its button's width
    int panelHeight_ = 0;   // the patient panel's height                 // "&Automático", also before the panel is made
    QPushButton* SpeedButton3_ = nullptr;
    QTimer* timerAguarde_ = nullptr;
    QTimer* refreshTimer_ = nullptr;  // gathers the notices of one burst of commits
    bool refreshPatients_ = false;    // a notice about patients came, not only about exams

    TBIniSettings* settings_;
    std::unique_ptr<TExamMaps> maps_;
    TPnlFindPac* findPanel_ = nullptr;
    static QPointer<TfrmExames> instance_;
};

}  // namespace norvix
