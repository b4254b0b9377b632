#pragma once
// "Assistente para criação do exame": a new exam of the patient current in the exam browser.
// One column per eye (the right eye on the left), each through the same four steps, worked in
// any interleaving: capture through the capture module, ring detection through the processing
// module, the map through a map module, and storing. What each step calls and keeps is the
// exam kind's (ExamKind.h): topography (one exam per eye) and orthokeratology (four captures
// per eye, stored as four exams). Every module is loaded for its step and released right after.
#include <QDialog>
#include <QImage>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <optional>

#include "ExamKind.h"

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace norvix {

class TfrmExames;

struct TMedidaOlho;
class TopographyExam;
class OrthokeratologyExam;

class TfrmNovoExame : public QDialog {
    Q_OBJECT
public:
    enum class Tipo { Topografia, Ortoceratologia };
    // Eye indexes, as the capture module takes them.
    static constexpr int kEsquerdo = 0;
    static constexpr int kDireito = 1;

    // browser: the exam browser, whose lists are brought up to date after each save (null for
    // none). The patient examined is the one of code paciente, or when it is 0 the browser's
    // current patient; it is read by its code when the window is made.
    TfrmNovoExame(TfrmExames* browser, Tipo tipo, QWidget* parent = nullptr, int paciente = 0);
    ~TfrmNovoExame() override;

    // The opener of the browser's "Novo Exame" and "Orto" (and of the patient picker): with a
    // current patient, the window of that kind shown modally; it frees itself when closed.
    static void Abre(TfrmExames& browser, bool orto);
    static TfrmNovoExame* instance() { return instance_; }

    // ---- what the controls do (tests call these as the operator would) --------------------
    void sbtExecutarDClick() { ExecutaPasso(kDireito); }
    void sbtExecutarSClick() { ExecutaPasso(kEsquerdo); }
    // A click on the step label with that Tag (1..4) of the right / left eye.
    void lblDigitDClick(int tag) { clicaRotulo(kDireito, tag); }
    void lblDigitSClick(int tag) { clicaRotulo(kEsquerdo, tag); }
    void sbtFecharClick();
    void AumentaForm();
    void DiminuiForm();
    // The images a capture module would have written for the eye, taken as the capture step
    // at step 1 takes a module's (the screenshots and the benchmarks use it in place of the
    // capture window). Whether the step succeeded.
    bool TomaCaptura(int olho, const QByteArray& frente, const QByteArray& lateral = {});

    // ---- state -------------------------------------------------------------------------------
    Tipo tipo() const { return tipo_; }
    int passo(int olho) const { return olhos_[size_t(olho)].passo; }
    bool expandido() const { return expandido_; }
    // The eye's measure after ring detection (topography), or null.
    const norvix::TMedidaOlho* medida(int olho) const;
    // The four confidence indexes after ring detection (orthokeratology).
    std::array<double, 4> confiancasOrto(int olho) const;
    QImage imagemOlho(int olho) const { return olhos_[size_t(olho)].bitmap; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // One eye's column and its data.
    struct Olho {
        int passo = 1;  // 1..4: the step to perform next; 5: stored
        QImage bitmap;  // the image panel's 640 x 480 picture
        // controls
        QGroupBox* caixa = nullptr;
        QLabel* seta = nullptr;
        std::array<QLabel*, 4> checks{};
        std::array<QLabel*, 4> rotulos{};
        QPushButton* executar = nullptr;
        QLabel* painel = nullptr;
        QWidget* memos = nullptr;
        QPlainTextEdit* diag = nullptr;
        QPlainTextEdit* obs = nullptr;
    };

    void FormShow();
    void FormClose();
    // Whether the window may close: asks "Tem ceteza que deseja cancelar o exame?" while an
    // eye is between capture and storing.
    bool confirmaCancelamento();
    void buildUi();
    void CarregaMedicos();
    void DefinePasso(int olho, int passo);
    // seFalhar: the step the eye goes back to when this one fails (a step run again from its
    // blue label); 0 leaves the eye at the step tried.
    void ExecutaPasso(int olho, int seFalhar = 0);
    void clicaRotulo(int olho, int tag);
    void focaDepoisDoPasso(int olho);
    bool DigitalizaImagem(int olho);
    bool DetectaAneis(int olho);
    bool VisualizaMapa(int olho);
    bool GravaExame(int olho);
    // The module's failure message shown; whether the step succeeded.
    bool conclui(const norvix::StepOutcome& resultado);
    void mostraImagem(int olho, const QByteArray& bitmap);
    QStringList cabecalho(int olho, double confianca) const;
    void atualizaDataHora();
    void centraVerticalmente();
    void posicionaNoTopo();
    void showWait(bool withTimer);
    void hideWait();
    static bool entre2e4(int passo) { return passo >= 2 && passo <= 4; }

    TfrmExames* browser_;
    Tipo tipo_;
    std::unique_ptr<norvix::ExamKind> kind_;
    bool mostrada_ = false;
    bool expandido_ = false;
    bool ocupada_ = false;       // a step runs (a module's window may be up)
    bool fecharDepois_ = false;  // closing was asked while a step ran
    // The patient examined, as the patient query stood when the window was made.
    int paciente_ = 0;
    QString nomePaciente_, rgPaciente_;
    std::optional<std::array<QByteArray, 2>> capturaDada_;
    std::array<Olho, 2> olhos_;

    QLabel* lblPaciente_ = nullptr;  // the patient examined: name and code
    QComboBox* ComboMedicos_ = nullptr;
    QLabel* lblData_ = nullptr;
    QLabel* lblHora_ = nullptr;
    QLabel* Image4_ = nullptr;
    QLabel* lblMens3_ = nullptr;
    QFrame* Bevel1_ = nullptr;
    QFrame* Bevel2_ = nullptr;
    QWidget* barra_ = nullptr;  // lblVisMapa, the radio buttons and sbtFechar
    QRadioButton* rbtAxial_ = nullptr;
    QRadioButton* rbtTangencial_ = nullptr;
    QRadioButton* rbtFennic_ = nullptr;
    QPushButton* sbtFechar_ = nullptr;

    static QPointer<TfrmNovoExame> instance_;
};

// Makes the exam browser's "Novo Exame" and "Orto" open the new-exam window (the main window
// calls it once).
void registerNewExamWindow();

}  // namespace norvix
