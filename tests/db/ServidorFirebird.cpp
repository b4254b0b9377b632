#include "ServidorFirebird.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include "support/TestDatabase.h"

namespace dbtest {

namespace {

// The package's own files, which the private root takes over.
const char* const kPacote = "/usr/lib/x86_64-linux-gnu/firebird/3.0";

// A child that the kernel ends when the test process ends, however it ends: a killed or
// crashed test leaves no server or workstation running.
void morreComOPai(QProcess& processo) {
    const pid_t pai = getpid();
    processo.setChildProcessModifier([pai] {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != pai) _exit(1);  // the parent died before prctl
    });
}

// A port nobody listens on now: the kernel's choice for a socket bound to port 0.
quint16 portaLivre() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    quint16 porta = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) == 0)
        porta = ntohs(a.sin_port);
    close(s);
    return porta;
}

bool aceitaConexao(quint16 porta) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(porta);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

bool escreve(const QString& caminho, const QByteArray& conteudo) {
    QFile f(caminho);
    return f.open(QIODevice::WriteOnly) && f.write(conteudo) == conteudo.size();
}

}  // namespace

QString ServidorFirebird::programa() {
    const QString caminho = QStringLiteral("/usr/sbin/firebird");
    return QFileInfo(caminho).isExecutable() ? caminho : QString();
}

ServidorFirebird::ServidorFirebird() {
    morreComOPai(processo_);
    processo_.setProcessChannelMode(QProcess::ForwardedChannels);
}

ServidorFirebird::~ServidorFirebird() { para(); }

bool ServidorFirebird::prepara(const QString& senhaSysdba) {
    const QString raiz = raiz_.path();
    const QString pacote = QString::fromLatin1(kPacote);
    porta_ = portaLivre();
    if (!raiz_.isValid() || porta_ == 0) {
        erro_ = QStringLiteral("sem pasta temporária ou porta livre");
        return false;
    }
    // The server reads everything from the root that FIREBIRD names. The plugins and the
    // message file are the package's; the character sets are a real copy, because the
    // package's intl/ links its fbintl.conf elsewhere and WIN1252 would be missing.
    QDir(raiz).mkpath(QStringLiteral("intl"));
    if (!QFile::link(pacote + "/plugins", raiz + "/plugins") ||
        !QFile::link(pacote + "/firebird.msg", raiz + "/firebird.msg") ||
        !QFile::copy(pacote + "/intl/libfbintl.so", raiz + "/intl/libfbintl.so") ||
        !QFile::copy(QFileInfo(pacote + "/intl/fbintl.conf").canonicalFilePath(),
                     raiz + "/intl/fbintl.conf")) {
        erro_ = QStringLiteral("arquivos do pacote do servidor não encontrados em ") + pacote;
        return false;
    }
    const QByteArray conf = QStringLiteral(
                                "RemoteServicePort = %1\n"
                                "RemoteBindAddress = 127.0.0.1\n"
                                "ServerMode = Super\n"
                                "SecurityDatabase = %2/security3.fdb\n"
                                "IpcName = norvix_teste_%1\n")
                                .arg(porta_)
                                .arg(raiz)
                                .toUtf8();
    if (!escreve(raiz + "/firebird.conf", conf)) {
        erro_ = QStringLiteral("não foi possível escrever firebird.conf");
        return false;
    }
    // A new security database, made with isql-fb on the embedded engine before the server
    // starts; Srp creates its user table when the first user is created.
    const QByteArray script = QStringLiteral("CREATE DATABASE '%1/security3.fdb' USER SYSDBA;\n"
                                             "CREATE OR ALTER USER SYSDBA PASSWORD '%2';\n"
                                             "COMMIT;\n")
                                  .arg(raiz, senhaSysdba)
                                  .toUtf8();
    if (!escreve(raiz + "/seguranca.sql", script)) {
        erro_ = QStringLiteral("não foi possível escrever o script da base de segurança");
        return false;
    }
    QProcess isql;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FIREBIRD"), raiz);
    env.insert(QStringLiteral("FIREBIRD_LOCK"), raiz);
    isql.setProcessEnvironment(env);
    isql.setProcessChannelMode(QProcess::MergedChannels);
    morreComOPai(isql);
    isql.start(QStringLiteral("isql-fb"),
               {QStringLiteral("-q"), QStringLiteral("-b"), QStringLiteral("-i"),
                raiz + "/seguranca.sql"});
    if (!isql.waitForFinished(30000) || isql.exitStatus() != QProcess::NormalExit ||
        isql.exitCode() != 0) {
        erro_ = QStringLiteral("isql-fb não criou a base de segurança: ") +
                QString::fromLocal8Bit(isql.readAll()) + isql.errorString();
        return false;
    }
    processo_.setProcessEnvironment(env);
    return true;
}

bool ServidorFirebird::inicia() {
    if (rodando()) return true;
    processo_.start(programa(), {});
    if (!processo_.waitForStarted(10000)) {
        erro_ = QStringLiteral("o servidor não iniciou: ") + processo_.errorString();
        return false;
    }
    const QDeadlineTimer prazo(15000);
    while (!prazo.hasExpired()) {
        if (aceitaConexao(porta_)) return true;
        if (processo_.waitForFinished(50)) break;  // ended at once: port taken, bad root
    }
    erro_ = QStringLiteral("o servidor não atendeu na porta %1").arg(porta_);
    para();
    return false;
}

void ServidorFirebird::para() {
    if (!rodando()) return;
    // A server still closing attachments may take seconds to stop by itself; what matters
    // here is that it is gone.
    processo_.terminate();
    if (!processo_.waitForFinished(2000)) {
        processo_.kill();
        processo_.waitForFinished(5000);
    }
}

QString ServidorFirebird::novoBanco(const QString& nome) {
    const QString pasta = raiz_.path() + QStringLiteral("/dados/") + nome;
    if (!QDir().mkpath(pasta)) return QString();
    const QString caminho = makeTestDatabase(pasta);
    if (caminho.isEmpty()) return QString();
    return QStringLiteral("127.0.0.1/%1:%2").arg(porta_).arg(caminho);
}

// ---- the second workstation ----------------------------------------------------------------

Estacao::Estacao() {
    morreComOPai(processo_);
    processo_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

Estacao::~Estacao() {
    if (processo_.state() == QProcess::NotRunning) return;
    processo_.closeWriteChannel();  // end of input ends the program
    if (!processo_.waitForFinished(10000)) {
        processo_.kill();
        processo_.waitForFinished(5000);
    }
}

bool Estacao::inicia() {
    processo_.start(qEnvironmentVariable("NORVIX_BIN_DIR") + QStringLiteral("/db_estacao"), {});
    return processo_.waitForStarted(10000);
}

void Estacao::envia(const QString& comando) {
    processo_.write((comando + QLatin1Char('\n')).toUtf8());
    processo_.waitForBytesWritten(5000);
}

QString Estacao::resposta(int msTimeout) {
    const QDeadlineTimer prazo(msTimeout);
    while (!processo_.canReadLine()) {
        if (prazo.hasExpired() || processo_.state() == QProcess::NotRunning)
            return QStringLiteral("erro sem resposta da estação");
        processo_.waitForReadyRead(int(std::max<qint64>(1, prazo.remainingTime())));
    }
    return QString::fromUtf8(processo_.readLine()).trimmed();
}

QString Estacao::pede(const QString& comando, int msTimeout) {
    envia(comando);
    return resposta(msTimeout);
}

}  // namespace dbtest
