#pragma once
// "Cadastro de Paciente", the exam browser's first step to a patient: the operator types a
// name, sees the registered patients whose names begin with it, and picks one of them or
// registers a new one; with AUTOEXAME the new exam follows at once. The list is the search
// cursor IBQueryBuscaPac through the data source DSQueryBuscaPac, read a page at a time.
#include <QDialog>
#include <QPointer>

class QLineEdit;
class QPushButton;
class QTableView;

namespace norvix {

class TfrmExames;

class CursorModel;

class TfrmNovoPaciente : public QDialog {
    Q_OBJECT
public:
    TfrmNovoPaciente(TfrmExames& browser, QWidget* parent = nullptr);
    ~TfrmNovoPaciente() override;

    static TfrmNovoPaciente* instance();
    // The browser's "Novo Paciente": the window at 575 × 285, modal.
    static void Executa(TfrmExames& browser);

    // ---- handlers (the window's controls call them; tests may too) -------------------------
    void edtNomePacKeyUp();
    void DBGrid1CellClick();
    void DBGrid1DblClick();
    void Button1Click();
    // "Lista de trabalho" (shown when the settings name a worklist): today's scheduled patients;
    // the one chosen is found, linked or registered, and becomes the browser's patient.
    void btnListaTrabalhoClick();

    // The list statement for a text (exposed for the benchmark): empty text, every patient.
    void CarregaLista(const QString& texto);

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Closes the picker; then, when asked and AUTOEXAME is on, the new exam of the browser's
    // current patient.
    void fecha(bool novoExame);
    void perguntaVisitasEnviadasComOutroId(int paciente);
    // The search cursor made to stand on the grid's current row; that row, -1 when none.
    int posicionaNaLinha();

    TfrmExames& browser_;
    QLineEdit* edtNomePac_;
    QTableView* DBGrid1_;
    norvix::CursorModel* DSQueryBuscaPac_;
    QPushButton* Button1_;
    QPushButton* btnListaTrabalho_;
    bool shown_ = false;
    int escolhido_ = 0;  // the code of the row the operator clicked, until the name is typed again
    static QPointer<TfrmNovoPaciente> instance_;
};

}  // namespace norvix
