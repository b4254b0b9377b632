#pragma once
// "Ferramentas": the installed map modules, the system's configuration utilities, the clinic
// data and logo, the software options (written back to the settings file when the window
// closes, and the shared record refreshed from it), database statistics and the reset of the
// backup sequence.
#include <QDialog>
#include <QPointer>
#include <QStringList>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QTreeWidget;

namespace norvix {

class TBIniSettings;
class TMapCatalogue;
class TPaginaDicom;

// The command line that starts utility i (0 to 7) of the utilities page; empty when this
// desktop has nothing for it.
QStringList comandoUtilitario(int i);

class TfrmFerramentas : public QDialog {
    Q_OBJECT
public:
    // catalogue: the main window's map-module catalogue (not owned; may be null);
    // settings: the program's settings object (not owned).
    TfrmFerramentas(const TMapCatalogue* catalogue, TBIniSettings* settings, QWidget* parent = nullptr);
    ~TfrmFerramentas() override;

    static TfrmFerramentas* instance();
    // The main window's "Ferramentas": the window, created when needed, modal.
    static void Executa(const TMapCatalogue* catalogue, TBIniSettings* settings, QWidget* parent);

    // ---- handlers (the window's controls call them; tests may too) -------------------------
    void LogoClinicaDblClick();
    void btnZerarBackupClick();
    void tlvAplicativosDblClick(QListWidgetItem* item);
    void StatusBD();

    // Esc closes like "Fechar", writing the options back.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* paginaModulos();
    QWidget* paginaAplicativos();
    QWidget* paginaClinica();
    QWidget* paginaConfiguracoes();
    QWidget* paginaBanco();
    void FormCreate();
    void FormShow();
    // Checks the typed values; false (with a message) keeps the window open.
    bool valoresValidos();
    // Writes every option; false when the settings file refused a write (already reported).
    bool gravaOpcoes();
    void atualizaRegistro();
    void mostraReinicios(int vezes);

    const TMapCatalogue* catalogue_;
    TBIniSettings* settings_;
    bool fechando_ = false;

    QTabWidget* pgcFerramentas_;
    QTreeWidget* tlvMapas_;
    QListWidget* tlvAplicativos_;
    QLineEdit *edtNome_, *edtEndereco_, *edtFone_, *edtCidadeEstado_;
    QLabel* LogoClinica_;
    QCheckBox *chkDadosClinica_, *chkLogoClinica_, *chkNomeMedico_;
    QRadioButton *rbtEnable_, *rbtDisable_;
    QLabel* lblIncMap_;
    QLineEdit* EdtIncMap_;
    QCheckBox *chkAneisAuto_, *chkAutoExame_, *chkSalvarCaptura_, *chkImgCentral_, *chkImgLateral_;
    QSpinBox *edtValIndConf_, *SpinEditQualidadeImagem_, *edtTVlCentral_, *edtTIncremento_, *edtDelayAutoPCaptura_;
    QButtonGroup* rgrMapaPadrao_;
    QComboBox *cbTipoCeratometria_, *cbCorCeratPontual_, *cbxIdioma_;
    QCheckBox *chkAutoPCaptura_, *chkExibeGrade_, *chkExibeCeratPontual_;
    QLabel *lblDelay_, *lblCor_;
    QLabel *lblExamesBackup_, *lblLaudosBackup_, *lblReiniciaBackup_, *lblTamanhoBD_, *lblDiretorioBD_;
    QPushButton* btnZerarBackup_;
    TPaginaDicom* dicom_;
    static QPointer<TfrmFerramentas> instance_;
};

}  // namespace norvix
