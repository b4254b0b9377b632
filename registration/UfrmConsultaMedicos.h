#pragma once
// "Assistente de Consulta": doctors found by a part of their name, RG, CPF or CRM, and the
// registration window moved to the one chosen. The typed text reaches the database as a bound
// parameter and is found literally ("%" and "_" are no wildcards).
#include <QDialog>

class QButtonGroup;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace norvix {

class TRecordBuffer;

class TfrmConsultaMedicos : public QDialog {
    Q_OBJECT
public:
    // The search columns, in the order of "Consultar por".
    enum Campo { Nome, Rg, Cpf, Crm };

    // medicos: the registration window's buffer, moved to the doctor chosen.
    TfrmConsultaMedicos(norvix::TRecordBuffer& medicos, QWidget* parent = nullptr);

    // ---- handlers (the window's controls call them; tests may too) -------------------------
    void btnConsultarClick();
    void lswResultadoDblClick();

private:
    norvix::TRecordBuffer& medicos_;
    QLineEdit* edtPesquisa_;
    QButtonGroup* rgConsultar_;
    QPushButton* btnConsultar_;
    QTreeWidget* lswResultado_;
};

}  // namespace norvix
