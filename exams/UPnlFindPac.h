#pragma once
// The browser's search panel "Localizar Paciente" (pnlFindPac): what to search by, the text,
// the doctor for the first kind, the patients found, and the jump to one of them (and to the
// exam found) in the browser. It takes the place of the exam list while it is open. Every
// text the operator types reaches the database as a bound parameter.
#include <QWidget>

#include "records/FbValue.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace norvix {

class TfrmExames;
class CursorModel;

class TPnlFindPac : public QWidget {
    Q_OBJECT
public:
    // What the search looks at, in the order of the radio group "Consultar por".
    enum Kind {
        PrimeiroNome,  // the list narrows as the text is typed
        ParteNome,
        CodigoPaciente,
        RgPaciente,
        CodigoExame,
        DiagnosticoExame,
        ObservacaoExame,
        KindCount
    };

    TPnlFindPac(TfrmExames& browser, QWidget* parent);

    // The browser's toggle pressed and raised.
    void openSearch();
    void closeSearch();
    void focusSearchText();
    // Enter: in the list, or with the first kind whose list follows the text, it chooses the
    // patient; otherwise it searches, and the list of what was found takes the focus.
    void enterPressed();

    int kind() const;

    // ---- handlers (the panel's controls call them; tests may too) --------------------------
    void rgpPacienteClick();
    void edtFindChange();
    void CbFindChange();
    void btnLocPacClick();
    void btnLocDBGridClick();
    void dbGridPacLocCellClick();
    void dbGridPacLocDblClick();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CarregaBusca();
    // Opens the search cursor on sql and shows its first rows, the first one current.
    void loadList(const QString& sql, const norvix::FbParams& params = {});
    void closeList();
    bool listHasRows() const;
    void askSearchAgain();
    // The doctor chosen in CbFind, 0 for none or a special entry.
    int chosenDoctor() const;
    // The item caption of the exam that kinds 4-6 lead to, empty when none is found; its
    // doctor's name in doctor.
    QString foundExamCaption(int patientCode, const QString& text, QString* doctor);
    void setDoctorChoiceEnabled(bool enabled);

    TfrmExames& browser_;
    QButtonGroup* rgpPaciente_ = nullptr;
    QLineEdit* edtFind_ = nullptr;
    QLabel* lblCbFind_ = nullptr;
    QComboBox* CbFind_ = nullptr;
    QTableView* dbGridPacLoc_ = nullptr;
    norvix::CursorModel* model_ = nullptr;
    QPushButton* btnLocPac_ = nullptr;
    QPushButton* btnLocDBGrid_ = nullptr;
    QCheckBox* cbDicas_ = nullptr;
};

}  // namespace norvix
