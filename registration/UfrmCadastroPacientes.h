#pragma once
// "Cadastro de Pacientes": every field of one patient on two tabs, bound to the patient table
// cursor IBPacientes through the record buffer DSPacientes, registering a new patient (mode
// "Add") or saving the changes to one (mode "Atualiza") through the stored procedures.
#include <QDialog>
#include <QList>
#include <utility>
#include <QPointer>
#include <QString>

class QPushButton;

namespace norvix {

class TRecordBuffer;
class TFichaCadastro;
class TPainelVinculosRis;

class TfrmCadastroPacientes : public QDialog {
    Q_OBJECT
public:
    explicit TfrmCadastroPacientes(QWidget* parent = nullptr);
    ~TfrmCadastroPacientes() override;

    // The window while it is open (it frees itself when closed).
    static TfrmCadastroPacientes* instance();

    // The openers. Inclui: a new patient, the name typed so far in "Nome:"; the new patient's
    // code, 0 when nothing was registered. Altera: the patient of that code; the code saved
    // (the patient's, or a new one when it had to be registered again), 0 when nothing was
    // saved, -1 when the patient no longer exists (the operator has been told).
    // preenchidos: further columns filled in for the operator (e.g. DATANASCIMENTO, SEXO from
    // the worklist).
    static int Inclui(const QString& nome, QWidget* parent, const QList<std::pair<QString, QString>>& preenchidos = {});
    static int Altera(int codigo, QWidget* parent);

    // The name and code of the patient last registered through this window in this run.
    static QString ultimoNomeCadastrado();
    static int ultimoCodigoCadastrado();

    // "Add" or "Atualiza", set by the opener before the window shows.
    QString modo() const { return modo_; }
    void setModo(const QString& modo) { modo_ = modo; }

    void HabilitaEdicao();
    void DesabilitaEdicao();
    void sbtOkClick();
    void sbtCancelarClick();

    norvix::TRecordBuffer& buffer() const { return *buffer_; }
    norvix::TFichaCadastro& ficha() const { return *ficha_; }
    norvix::TPainelVinculosRis* vinculos() const { return vinculos_; }

    // Esc and the title bar's close button ask "Deseja salvar as alterações?" when something
    // was typed (Sim saves as "OK", Não drops as "Cancelar", Cancelar stays); else as "Cancelar".
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Whether the operator typed something that is not saved.
    bool alterado() const;
    // The CPF's check digits and uniqueness and the birth date, each asked about when odd.
    bool confirmaDocumentos(int codigo);
    // A new patient whose name another already has (letter case and accents aside): the
    // operator is shown those patients' birth dates and codes and says whether to go on.
    bool confirmaHomonimos(const QString& nome);
    // The insert of mode "Add" (and of a patient registered again); the new code, 0 on failure.
    int inserePaciente(const QString& nome);
    bool salvaAlteracao();
    void terminaGravacao();

    QString modo_;
    QString nomeInicial_;  // the name the picker brought (mode "Add")
    int codigoGravado_ = 0;
    norvix::TRecordBuffer* buffer_;
    norvix::TFichaCadastro* ficha_;
    norvix::TPainelVinculosRis* vinculos_ = nullptr;  // a registered patient's page of RIS links
    QPushButton* sbtOk_;
    QPushButton* sbtCancelar_;
    QPushButton* sbtAjuda_;
    static QPointer<TfrmCadastroPacientes> instance_;
};

}  // namespace norvix
