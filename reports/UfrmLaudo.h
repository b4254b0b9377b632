#pragma once
// The report editor "Edição de Laudo": five boxes (conditions, each eye, conclusion,
// comments) whose generated sentences carry numbered gaps, the tree of standard texts that
// fill them, saving (row and l.txt together), preview, print and PDF of the printed page.
#include <QDate>
#include <QDialog>
#include <QPointer>
#include <QTime>
#include <array>
#include <functional>
#include <optional>

#include "reports/FrasesLaudo.h"

class QCheckBox;
class QKeyEvent;
class QLabel;
class QPrintPreviewDialog;
class QPrinter;
class QPushButton;
class QTextEdit;
class QTreeWidget;

namespace norvix {

class TfrmExames;

class TfrmLaudo : public QDialog {
    Q_OBJECT
public:
    enum Caixa { CE = 0, OD = 1, OS = 2, CO = 3, CM = 4 };
    static constexpr const char* kNenhum = "Nenhum";

    // browser: the exam browser whose patient, doctor and exams the report is about.
    explicit TfrmLaudo(TfrmExames* browser, QWidget* parent = nullptr);
    ~TfrmLaudo() override;
    static TfrmLaudo* instance() { return instance_; }

    void setPaciente(const QString& nome, int codigo);
    void limpaArvore();
    // The wizard's choices: OD and OS exam captions (either may be "Nenhum"), map type.
    bool NewReport(const QString& captionOD, const QString& captionOS, norvix::TipoMapa tipo);
    // A stored report, read only: its row's values and the five sections of its file.
    struct TLaudoAberto {
        int codigo = 0;
        int medidaOD = -1, medidaOS = -1;
        QString linhaOD, linhaOS;
        QDate data;
        QTime hora;
        std::array<QString, 5> secoes;
    };
    void OpenReport(const TLaudoAberto& laudo, norvix::TipoMapa tipo);
    void setSomenteLeitura();

    // ---- handlers (the controls call them; tests call them as the operator would) ----------
    void clicaCaixa(Caixa caixa);         // reCEMouseDown ... reCMMouseDown
    void saiCaixa();                      // reCEExit ... reCOExit
    void trwLaudoChange();
    void trwLaudoDblClick();
    void sbtSalvarClick();
    void sbtVisualizarImprClick();
    void sbtImprimirClick();
    void sbtSalvarPdfClick();
    void sbtFecharClick() { close(); }

    // ---- state -----------------------------------------------------------------------------
    QTextEdit* caixa(Caixa c) const { return boxes_[size_t(c)]; }
    int caixaAtual() const { return currentBox_; }  // -1 when none
    int codigoExame(Caixa olho) const { return olho == OD ? codOD_ : codOS_; }
    QString linhaExame(Caixa olho) const { return olho == OD ? linhaOD_ : linhaOS_; }
    norvix::TipoMapa tipoMapa() const { return tipo_; }
    bool emEdicao() const;            // the save button enabled
    int codigoLaudo() const { return codLaudo_; }  // 0 until saved or opened
    QDate dataLaudo() const { return dataLaudo_; }
    QTime horaLaudo() const { return horaLaudo_; }
    QString nomePaciente() const;
    int codigoPaciente() const { return codPaciente_; }
    QString medicoEscolhido() const;  // the browser's doctor
    bool incluiMapas() const;
    // The box as the printed page shows it (TextoImpresso: gaps resolved, their debris swept);
    // the stored report keeps the box's own text.
    QString textoResolvido(Caixa c) const;
    // The values of an eye's exam, when they could be computed for that exam.
    const std::optional<norvix::TValoresMapa>& valores(Caixa olho) const {
        return olho == OD ? valoresOD_ : valoresOS_;
    }

    // The print preview dialog is shown with exec(); a hook set here receives it instead (the
    // screenshots and the tests look at it without a modal loop).
    static std::function<void(QPrintPreviewDialog&)>& previewHook();
    // The printer of "Imprimir" is the default one; a hook set here may change it first (the
    // tests print to a file).
    static std::function<void(QPrinter&)>& impressoraHook();
    // The numbers are written with the program's notation; tests use the other one.
    static norvix::TNotacao& notacao();

protected:
    // Fechar, the close box and Esc: unsaved edits are offered for saving first.
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildUi();
    void carregaTextosPadrao(const QString& codigo, int grupos);
    void pintaLacunas(int caixa);
    int numeroSelecionado() const;
    void preenche(int caixa, int n, const QString& texto);
    void adiciona(Caixa c, const QString& linha);
    bool calculaOlho(const QString& caption);
    void adicionaFilmeLacrimal(Caixa olho);
    void salva();

    TfrmExames* browser_;
    std::array<QTextEdit*, 5> boxes_{};
    std::array<QLabel*, 5> labels_{};
    QLabel* lblNome_ = nullptr;
    QLabel* lblCaixaSelec_ = nullptr;
    QTreeWidget* trwLaudo_ = nullptr;
    QCheckBox* chkMesmoLau_ = nullptr;
    QCheckBox* chkIncluirMapas_ = nullptr;
    QPushButton* sbtSalvar_ = nullptr;
    QPushButton* sbtEnviarPacs_ = nullptr;  // shown only to a clinic with a PACS

    int currentBox_ = -1;
    int lastBox_ = -1;
    int codOD_ = -1, codOS_ = -1;
    QString linhaOD_, linhaOS_;
    norvix::TipoMapa tipo_ = norvix::TipoMapa::Axial;
    std::optional<norvix::TValoresMapa> valoresOD_, valoresOS_;
    std::optional<TIndicesCeratocone> indicesOD_, indicesOS_;
    int codPaciente_ = 0;
    int codLaudo_ = 0;
    QDate dataLaudo_;
    QTime horaLaudo_;
    std::array<QString, 5> gerado_;  // the boxes as NewReport left them: what differs is the operator's
    bool alterado() const;
    bool podeFechar();  // false when the operator chose to go on editing
    void fechaAssistente();  // the wizard goes with its editor
    bool teclaNaArvore(QKeyEvent* key);  // Enter fills the gap, Tab goes back to the box
    static QPointer<TfrmLaudo> instance_;
};

}  // namespace norvix
