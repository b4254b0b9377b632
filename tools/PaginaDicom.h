#pragma once
// The tools window's "DICOM" page: this station's AE title, the PACS and the worklist server,
// the automatic sending, and a connection test for each server that runs off the GUI thread.
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace norvix {

class TBIniSettings;

class TPaginaDicom : public QWidget {
    Q_OBJECT
public:
    explicit TPaginaDicom(QWidget* parent = nullptr);

    // Re-reads the [DICOM] rows of `model`'s file and shows them.
    void carrega(TBIniSettings& settings, int model);
    // The first fault of the typed values, naming the field (put in `campo`, for the focus);
    // empty when every value can be written.
    QString valida(QWidget** campo = nullptr) const;
    // valida() for the window that closes: on a fault the page is brought up in `abas`, the
    // field takes the focus and the message is shown; whether the values can be written.
    bool confirma(QTabWidget* abas);
    // Writes every row; a refused write raises norvix::SettingsWriteError, as the other pages.
    void grava(TBIniSettings& settings) const;

private:
    struct Servidor {
        QLineEdit *ae, *host, *porta;
        QPushButton* testar;
        QLabel* resposta;
        const char* nome;  // "do PACS", "da lista de trabalho"
        int versao = 0;    // counts the edits of its values: an answer is for the values tested
    };
    QWidget* grupo(Servidor& s, const QString& titulo, const char* prefixo);
    QString validaEstacao(QWidget** campo) const;
    QString validaServidor(const Servidor& s, QWidget** campo) const;
    void testa(Servidor& s);
    // The values of s changed: its last answer no longer speaks for them.
    void valoresMudaram(Servidor& s);

    QLineEdit* aeEstacao_;
    Servidor pacs_, worklist_;
    QCheckBox* envioAutomatico_;
};

}  // namespace norvix
