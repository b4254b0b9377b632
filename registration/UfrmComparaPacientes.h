#pragma once
// "Conferir Paciente": the person the RIS scheduled beside a patient registered here, field by
// field, the fields that differ marked, for the operator to say whether they are the same
// person. Several registered candidates are offered one at a time through a list.
#include <QDialog>
#include <QList>

#include "registration/ConferenciaRis.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace norvix {

class TfrmComparaPacientes : public QDialog {
    Q_OBJECT
public:
    enum class Resposta { Cancelar, MesmaPessoa, OutraPessoa };

    // texto: why the operator is asked; outraPessoa: the caption of the button that says they
    // differ (register a new patient, undo a link). candidatos: at least one; each with its
    // RIS IDs as the patient's column shows them.
    TfrmComparaPacientes(const PessoaRis& ris, const QList<PessoaCadastrada>& candidatos,
                         const QList<QStringList>& idsDosCandidatos, const QString& texto, const QString& outraPessoa,
                         QWidget* parent = nullptr);

    Resposta resposta() const { return resposta_; }
    // The candidate on show when the operator answered.
    PessoaCadastrada escolhido() const { return candidatos_.value(atual_); }

private:
    void mostraCandidato(int indice);
    void responde(Resposta r);

    PessoaRis ris_;
    QList<PessoaCadastrada> candidatos_;
    QList<QStringList> ids_;
    int atual_ = 0;
    Resposta resposta_ = Resposta::Cancelar;
    QComboBox* cbxCandidato_ = nullptr;
    QList<QLabel*> local_;   // name, birth date, sex, code, RIS IDs of the registered patient
    QList<QLabel*> marcas_;  // "≠" beside the fields that differ
};

// The patient's sex as the operator reads it.
QString descreveSexo(const QString& sexo);
// A registered patient in one line: name, birth date, code ("MARIA (nasc. 15/03/1980, código 12)").
QString descrevePaciente(const PessoaCadastrada& p);

}  // namespace norvix
