#pragma once
// The report wizard "Assistente de Laudo": a new report from one exam per eye, opening an
// existing report of the patient read-only, or deleting one. Opened modally by the exam
// browser's "Laudo"; the editor it opens stays above it and closes it when it closes.
#include <QDialog>
#include <QPointer>

class QComboBox;
class QLabel;
class QRadioButton;

#include "reports/UfrmLaudo.h"

namespace norvix {

class TfrmExames;

class TfrmWizLaudo : public QDialog {
    Q_OBJECT
public:
    explicit TfrmWizLaudo(TfrmExames* browser, QWidget* parent = nullptr);
    ~TfrmWizLaudo() override;
    static TfrmWizLaudo* instance() { return instance_; }
    // The opener of the browser's "Laudo": the wizard shown modally.
    static void Abre(TfrmExames& browser);

    // The entry text of a report and the code read back from one.
    static QString TextoLaudo(int codigo, const QDate& data, const QTime& hora);
    static int CodigoDoTexto(const QString& texto);

    // ---- handlers (the controls call them; tests call them as the operator would) ----------
    void FormShow();
    void escolhe(int opcao);  // 0 new report, 1 open, 2 delete
    void btnOKClick();
    void btnCancelarClick() { close(); }

    TfrmLaudo* editor() const { return editor_; }

private:
    void buildUi();
    void novoLaudo();
    void abreLaudo();
    void excluiLaudo();

    TfrmExames* browser_;
    QRadioButton* rgNovoLau_ = nullptr;
    QRadioButton* rbLauExist_ = nullptr;
    QRadioButton* rbExcLaudo_ = nullptr;
    QLabel* Label1_ = nullptr;
    QLabel* Label2_ = nullptr;
    QComboBox* cmbOD_ = nullptr;
    QComboBox* cmbOS_ = nullptr;
    QComboBox* cmbEscLaudo_ = nullptr;
    QComboBox* cmbExcLaudo_ = nullptr;
    QRadioButton* rbAxial_ = nullptr;
    QRadioButton* rbTangencial_ = nullptr;
    QPointer<TfrmLaudo> editor_;
    static QPointer<TfrmWizLaudo> instance_;
};

// Installs the wizard as the opener of the exam browser's "Laudo".
void registerReportWindows();

}  // namespace norvix
