#pragma once
// "Sobre o Topógrafo de Córnea ...": the program's version, the names the machine is registered
// to, the installed capture and processing modules with their versions, and the cone.
#include <QDialog>
#include <QPointer>

class QLabel;

namespace norvix {

class TBVersionInfo;

// The registered owner: the user's full name from the password database, the login name when
// it has none.
QString proprietarioRegistrado();
// The registered organization: RegisteredOrganization of section [Registro] in the file,
// empty when there is none.
QString organizacaoRegistrada(const QString& arquivo = QStringLiteral("/etc/NORVIX/registro.ini"));

class TfrmSobre : public QDialog {
    Q_OBJECT
public:
    // programa: the program's version information, read at start-up (not owned); null reads
    // the running program's file.
    explicit TfrmSobre(const TBVersionInfo* programa, QWidget* parent = nullptr);
    ~TfrmSobre() override;

    static TfrmSobre* instance();
    // The main window's banner: the window, created when needed, modal.
    static void Executa(const TBVersionInfo* programa, QWidget* parent);

    // The ring text of a cone type, empty for an unknown type.
    static QString textoAneis(int tipoCone);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    QLabel* valor(QWidget* parent, const char* nome, const QRect& r, bool negrito = false);

    const TBVersionInfo* programa_;
    QLabel* lblversao_;
    static QPointer<TfrmSobre> instance_;
};

}  // namespace norvix
