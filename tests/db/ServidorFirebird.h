#pragma once
// A Firebird server of the test's own, as a clinic runs one for several workstations: the
// Debian package's server program started as an ordinary child process on a free loopback
// port, with its configuration, security database, lock files and databases in a temporary
// folder. No system service is touched, and the server dies with the test process even when
// that is killed. Also a second workstation: the helper program db_estacao in its own process.
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace dbtest {

class ServidorFirebird {
public:
    // The server program of the firebird3.0-server package; empty when it is not installed.
    static QString programa();

    ServidorFirebird();
    ~ServidorFirebird();  // stops the server
    ServidorFirebird(const ServidorFirebird&) = delete;
    ServidorFirebird& operator=(const ServidorFirebird&) = delete;

    // Lays out the server's root (configuration, character sets, a new security database in
    // which SYSDBA has `senhaSysdba`). False with the reason in erro().
    bool prepara(const QString& senhaSysdba);
    // Starts the server and waits until its port accepts connections; false with the reason.
    bool inicia();
    // Stops the server (SIGTERM, SIGKILL after 2 s) and waits for it to end.
    void para();
    bool rodando() const { return processo_.state() != QProcess::NotRunning; }

    // A fresh database made from the template in its own folder of the root; the name the
    // workstations give for it, "127.0.0.1/<port>:<absolute path>". Empty on failure.
    QString novoBanco(const QString& nome);
    QString erro() const { return erro_; }

private:
    QTemporaryDir raiz_;
    quint16 porta_ = 0;
    QProcess processo_;
    QString erro_;
};

// The second workstation: db_estacao answering one line per command on its standard output.
class Estacao {
public:
    Estacao();
    ~Estacao();  // ends the program
    bool inicia();
    // Sends a command and waits for its answer line ("ok [valor]" or "erro <texto>").
    QString pede(const QString& comando, int msTimeout = 20000);
    void envia(const QString& comando);
    QString resposta(int msTimeout = 20000);

private:
    QProcess processo_;
};

}  // namespace dbtest
