#pragma once
// "Cadastro de Médicos": the doctor table one doctor at a time, with the record navigator,
// adding, changing and deleting doctors, and the lookup window. The fields are bound to the
// doctor table cursor IBMedicos through the record buffer DSMedicos; saving goes through the
// stored procedures.
#include <QDialog>
#include <QPointer>
#include <QString>

class QPushButton;
class QToolButton;
class QWidget;

namespace norvix {

class TRecordBuffer;
class TFichaCadastro;

class TfrmCadastroMedicos : public QDialog {
    Q_OBJECT
public:
    explicit TfrmCadastroMedicos(QWidget* parent = nullptr);
    ~TfrmCadastroMedicos() override;

    static TfrmCadastroMedicos* instance();
    // The main window's "Médicos": the window, created when needed, modal.
    static void Executa(QWidget* parent);

    // "Add" while adding, "Atualiza" while changing, empty while browsing.
    QString modo() const { return modo_; }

    // ---- handlers (the window's controls call them; tests may too) -------------------------
    void FormShow();
    void sbtAddClick();
    void sbtAlterarClick();
    void sbtAtualizarClick();
    void sbtDelClick();
    void sbtFindClick();
    void HabilitaEdicao();
    void DesabilitaEdicao();
    void LimparCampos();

    norvix::TRecordBuffer& buffer() const { return *buffer_; }
    norvix::TFichaCadastro& ficha() const { return *ficha_; }

    // Esc asks like closing does.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The browsing state; recount: ask the table how many doctors there are (else: some).
    void estadoNavegacao(bool recount = true);
    void estadoEdicao(const QString& modo);
    void atualizaNavegador();
    // The saves of Atualizar, the checks passed; whether the doctor was saved.
    bool insereMedico(const QString& nome);
    bool salvaAlteracao(const QString& nome);
    // Values of the 20 columns as the procedures take them, from the buffer.
    QString v(const char* coluna) const;
    void excluir();

    QString modo_;
    bool shown_ = false;
    norvix::TRecordBuffer* buffer_;
    norvix::TFichaCadastro* ficha_;
    QPushButton* sbtAdd_;
    QPushButton* sbtDel_;
    QPushButton* sbtFind_;
    QPushButton* sbtAtualizar_;
    QPushButton* sbtAlterar_;
    QPushButton* sbtFechar_;
    QWidget* nvgMedicos_;
    QToolButton* nvgPrimeiro_;
    QToolButton* nvgAnterior_;
    QToolButton* nvgProximo_;
    QToolButton* nvgUltimo_;
    static QPointer<TfrmCadastroMedicos> instance_;
};

}  // namespace norvix
