#include "CopiaBanco.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include "BackupMidia.h"
#include "records/UfrmDataModule.h"

namespace norvix {

namespace {

// The file the data module has open, when it is a local file inside the folder.
bool ehBancoAberto(TDMPrincipal& dm, const QFileInfo& arquivo) {
    return dm.connected() &&
           QFileInfo(dm.IBDatabase.databaseName()).canonicalFilePath() == arquivo.canonicalFilePath();
}

// Clears the backup-lock mark of a copy. The client library's object API has no call for it
// in this engine version; nbackup (same package as isql-fb) does exactly this.
bool desfazMarcaDeBloqueio(const QString& copia, QString* erro) {
    QProcess nbackup;
    nbackup.start(QStringLiteral("nbackup"), {QStringLiteral("-F"), copia});
    if (nbackup.waitForFinished(120000) && nbackup.exitStatus() == QProcess::NormalExit && nbackup.exitCode() == 0)
        return true;
    *erro = QStringLiteral("nbackup -F %1: %2").arg(copia,
                                                    QString::fromLocal8Bit(nbackup.readAllStandardError()).trimmed() +
                                                        QLatin1Char(' ') + nbackup.errorString());
    return false;
}

bool copiaBancoTravado(TDMPrincipal& dm, const QString& origem, const QString& destino, QString* erro) {
    dm.execProcedure(QStringLiteral("ALTER DATABASE BEGIN BACKUP"));
    bool copiado = false;
    try {
        copiado = backup::copiaArquivo(origem, destino, nullptr, erro);
    } catch (...) {
        dm.execProcedure(QStringLiteral("ALTER DATABASE END BACKUP"));
        throw;
    }
    dm.execProcedure(QStringLiteral("ALTER DATABASE END BACKUP"));
    if (copiado && desfazMarcaDeBloqueio(destino, erro)) return true;
    QFile::remove(destino);
    return false;
}

}  // namespace

qint64 tamanhoPasta(const QString& pasta) {
    qint64 total = 0;
    for (const QFileInfo& f : QDir(pasta).entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) total += f.size();
    return total;
}

bool copiaPastaBanco(TDMPrincipal& dm, const QString& pastaBanco, const QString& destino,
                     QMap<QString, QByteArray>* somas, QString* erro) {
    const QFileInfoList arquivos = QDir(pastaBanco).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    if (!QFileInfo(pastaBanco).isDir()) {
        *erro = QStringLiteral("a pasta do banco de dados %1 não existe").arg(pastaBanco);
        return false;
    }
    if (!QDir().mkpath(destino)) {
        *erro = QStringLiteral("não foi possível criar a pasta %1").arg(destino);
        return false;
    }
    QStringList copiados;
    for (const QFileInfo& arquivo : arquivos) {
        if (arquivo.fileName().endsWith(QLatin1String(".delta"), Qt::CaseInsensitive)) continue;
        const QString alvo = destino + QLatin1Char('/') + arquivo.fileName();
        const bool ok = ehBancoAberto(dm, arquivo) ? copiaBancoTravado(dm, arquivo.filePath(), alvo, erro)
                                                   : backup::copiaArquivo(arquivo.filePath(), alvo, nullptr, erro);
        if (!ok) return false;
        copiados << arquivo.fileName();
    }
    backup::descarregaMidia(destino);
    for (const QString& nome : copiados) {
        const QByteArray soma = backup::somaArquivo(destino + QLatin1Char('/') + nome, true);
        if (soma.isEmpty()) {
            *erro = QStringLiteral("a cópia %1 não pôde ser lida de volta").arg(destino + QLatin1Char('/') + nome);
            return false;
        }
        if (somas) somas->insert(nome, soma);
    }
    return true;
}

}  // namespace norvix
