#pragma once
// "Calibração": the four reference spheres captured in calibration mode and reduced by the
// processing module, one sphere file each, then the line fit per ring written as Coef.txt.
// Two calibrators: a still picture of the four spheres (type 0) and a circular one turned by
// hand, shown as an animation of the turn (type 1).
#include <QDateTime>
#include <QDialog>
#include <QPointer>
#include <array>
#include <memory>

class QButtonGroup;
class QGroupBox;
class QLabel;
class QMovie;
class QPushButton;
class QRadioButton;
class QTimer;

namespace norvix {

class TBIniSettings;
class HostStream;

class TfrmCalib : public QDialog {
    Q_OBJECT
public:
    // settings: the program's settings object (not owned), through which ULTIMACALIB and
    // TIPOCALIBRADOR are written.
    explicit TfrmCalib(TBIniSettings* settings, QWidget* parent = nullptr);
    ~TfrmCalib() override;

    static TfrmCalib* instance();
    // The main window's "Calibração": the window, created when needed, modal.
    static void Executa(TBIniSettings* settings, QWidget* parent);

    // ---- handlers (the window's controls call them; tests may too) -------------------------
    void MostraEsfera(int k);
    void sbtNextClick();
    void sbtPrevClick();
    void sbtProcEsfClick();
    void TimerTimer();
    void rgpTpCalibClick(int item);
    void GravaCalibracao();

    // ---- state, for tests and the screenshots ----------------------------------------------
    int esferaAtual() const { return atual_; }
    bool processada(int k) const { return processada_[size_t(k)]; }
    int tipoCalibrador() const { return tipo_; }
    QString filmeCarregado() const { return filme_; }  // the animation file last loaded
    QDateTime ultimaCalibracao() const { return ultima_; }
    // The calibration directory (the paths record's, with a trailing '/').
    static QString diretorio();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildUi();
    void FormShow();
    // Sets the calibrator type: the radio button, the record's byte and the panel shown.
    void aplicaTipo(int item);
    // Capture and processing of the current sphere; whether its file was saved.
    bool processaEsferaAtual();
    void mostraMarcadores(bool visiveis);
    void carregaFilme(const QString& nome);
    void tocaFilme();
    void paraFilme();

    TBIniSettings* settings_;
    int atual_ = 1;
    int anterior_ = 0;
    int tipo_ = 0;
    std::array<bool, 5> processada_{};  // [1] to [4]
    std::array<double, 5> medida_{};    // [1] to [4]: mean radius measured in this session, 0 = none
    QDateTime ultima_;
    QString filme_;
    std::unique_ptr<norvix::HostStream> resultado_, imagem_, reserva_;

    QWidget* pnlCalibQuad_;
    QWidget* pnlCalibRedondo_;
    std::array<QWidget*, 4> Esf_{}, CircEsf_{}, imgEsf_{};
    std::array<QLabel*, 4> imgChk_{}, chkEsf_{};
    QLabel* flaCalibrador_;
    QMovie* movie_;
    QLabel* lblRaio_;
    QLabel* lblUltCalib_;
    QLabel* lblMedidas_;  // each sphere's expected and measured radius
    void mostraMedidas();
    QPushButton* sbtPrev_;
    QPushButton* sbtNext_;
    QPushButton* sbtProcEsf_;
    QPushButton* sbtFechar_;
    QGroupBox* rgpTpCalib_;
    QButtonGroup* grupoTipo_;
    std::array<QRadioButton*, 2> rbtTipo_{};
    QTimer* Timer_;
    static QPointer<TfrmCalib> instance_;
};

}  // namespace norvix
