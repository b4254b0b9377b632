#pragma once
// The page "Ligações com o RIS" of a registered patient: the RIS IDs the patient is linked to
// (the ID, the RIS's issuer, when the link was made), the first being the Patient ID its
// exams go out with, and the removal of one after a question.
#include <QWidget>

class QPushButton;
class QTableWidget;

namespace norvix {

class TPainelVinculosRis : public QWidget {
    Q_OBJECT
public:
    explicit TPainelVinculosRis(QWidget* parent = nullptr);

    // Reads the links of the patient of that code (errors are said to the operator).
    void carrega(int paciente);
    int linhas() const;
    // "Desfazer ligação": the selected link, after a question.
    void desvincula();

private:
    int paciente_ = 0;
    QTableWidget* tabela_;
    QPushButton* desvincular_;
};

}  // namespace norvix
