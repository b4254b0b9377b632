// The backup window's restore: the module's restore of the files, then the database from the
// medium, all put in place at once or not at all.
#include "UfrmBackup.h"
#include "UfrmBackupShared.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>

#include <memory>

#include "backup/BackupMidia.h"
#include "backup/CopiaBanco.h"
#include "config/SharedRecords.h"
#include "modules/ModuleBindings.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"
#include "records/UfrmDataModule.h"
#include "shell/UfrmAguarde.h"

namespace norvix {

namespace bk = norvix::backup;

namespace {

const QString kErro = QStringLiteral("Erro");

// The files the module left in a staging folder, each with the place it restores.
QList<std::pair<QString, QString>> preparados(const QString& preparo, const QString& pasta) {
    QList<std::pair<QString, QString>> arquivos;
    const QDir raiz(preparo);
    for (QDirIterator it(preparo, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const QString origem = it.next();
        arquivos.append({origem, pasta + QLatin1Char('/') + raiz.relativeFilePath(origem)});
    }
    return arquivos;
}

// A staging folder of the module inside a data folder (made when missing, as the module would).
std::unique_ptr<QTemporaryDir> preparo(const QString& pasta, QString* erro) {
    QDir().mkpath(pasta);
    auto dir = std::make_unique<QTemporaryDir>(pasta + QLatin1Char('/') + QLatin1String(kPreparoRestauracao) +
                                               QStringLiteral("XXXXXX"));
    if (!dir->isValid()) {
        *erro = QStringLiteral("%1: %2").arg(pasta, dir->errorString());
        return nullptr;
    }
    return dir;
}

}  // namespace

void TfrmBackup::btnRestaurarClick() {
    if (mensagem(this,
                 QStringLiteral("Atenção!!! Esta operação irá substituir todos os exames\r\natuais pelos exames armazenados no "
                                "último backup realizado.\r\r\nQualquer dúvida entrar em contato com o nosso suporte técnico."),
                 QStringLiteral("Informação"), MsgIcon::Information, MsgButtons::OkCancel,
                 MsgAnswer::Cancel) != MsgAnswer::Ok)
        return;
    TBackupBinding modulo;
    if (!modulo.LoadModule(recordText(paths().Backup))) {
        mensagem(this, QStringLiteral("Não foi possível carregar o módulo de backup (%1). Nada foi restaurado.")
                           .arg(recordText(paths().Backup)),
                 kErro, MsgIcon::Error);
        return;
    }
    // The module restores into folders of its own beside the files it brings back: nothing the
    // installation uses changes until every copy, the database's included, has been checked.
    const QString exames = recordText(paths().Exames), laudos = recordText(paths().Laudos);
    QString erro;
    std::unique_ptr<QTemporaryDir> preparoExames = preparo(exames, &erro);
    std::unique_ptr<QTemporaryDir> preparoLaudos = preparoExames ? preparo(laudos, &erro) : nullptr;
    if (!preparoLaudos) {
        mensagem(this, QStringLiteral("A restauração não pôde ser preparada (%1). Nada foi restaurado.").arg(erro), kErro,
                 MsgIcon::Error);
        return;
    }
    const QByteArray pastaExames = toCp1252(preparoExames->path());
    const QByteArray pastaLaudos = toCp1252(preparoLaudos->path());
    const int32_t resultado = modulo.RestaurarBackup(this, pastaExames.constData(), pastaLaudos.constData());
    modulo.ReleaseModule();
    if (resultado == -1) return;
    if (!restauraBanco(preparados(preparoExames->path(), exames) + preparados(preparoLaudos->path(), laudos))) return;
    mensagem(this, QStringLiteral("Restauração concluída com êxito"));
    AtualizaResumo();
}

// The database and BackUp.ini of the medium's last disk, taken back only when they match the
// medium's manifest, and put in place with the restored files as one transaction: the current
// files are kept until the restored database has passed the engine's validation and opened
// with every table readable.
bool TfrmBackup::restauraBanco(const QList<std::pair<QString, QString>>& arquivos) {
    auto falha = [this](const QString& texto) {
        mensagem(this, texto, kErro, MsgIcon::Error);
        return false;
    };
    montagem_ = bk::pontoMontagem(bk::arquivoBackupIni(), letra_);
    const bk::TDisco disco = bk::leDisco(montagem_);
    if (disco.valido() && disco.continua != 0)
        return falha(QStringLiteral("O disco no drive (%1) não é o último do backup: o backup continua no disco %2, "
                                    "que tem a cópia mais nova do banco de dados. Nada foi restaurado.")
                         .arg(bk::rotuloDisco(disco.numero))
                         .arg(disco.continua));
    QMap<QString, QByteArray> manifesto;
    QString erroManifesto;
    if (!bk::leManifesto(montagem_, &manifesto, &erroManifesto))
        return falha(QStringLiteral("O disco de backup não pode ser lido: %1. Nada foi restaurado.").arg(erroManifesto));
    QList<std::pair<QString, QByteArray>> banco;  // manifest path -> sum
    for (auto it = manifesto.cbegin(); it != manifesto.cend(); ++it)
        if (it.key().startsWith(QLatin1String("Banco de Dados/"))) banco.append({it.key(), it.value()});
    if (montagem_.isEmpty() || banco.isEmpty())
        return falha(QStringLiteral("O disco no drive não contém a cópia do banco de dados (%1). Nada foi restaurado.")
                         .arg(montagem_ + QStringLiteral("/Banco de Dados")));
    TDMPrincipal& dm = DMPrincipal();
    const QString ini = bk::arquivoBackupIni();
    TfrmAguarde::instance()->showNow();
    struct Espera {
        ~Espera() { TfrmAguarde::instance()->hide(); }
    } espera;

    // Every file is brought beside its destination and compared with the manifest first.
    QStringList destinos, diferentes;
    auto traz = [&](const QString& caminho, const QByteArray& soma, const QString& destino) {
        const QString origem = bk::arquivoConferido(montagem_, caminho, soma);
        QByteArray lida;
        QString motivo;
        if (origem.isEmpty())
            motivo = QStringLiteral("difere do manifesto ou não pode ser lido");
        else if (!bk::copiaArquivo(origem, destino + QStringLiteral(".restaura"), &lida, &motivo, nullptr, true))
            ;
        else if (lida != soma)
            motivo = QStringLiteral("mudou durante a cópia");
        if (!motivo.isEmpty()) {
            QFile::remove(destino + QStringLiteral(".restaura"));
            diferentes << QStringLiteral("%1 (%2)").arg(caminho, motivo);
            return;
        }
        destinos << destino;
    };
    const bool servidor = bancoNoServidor(dm.IBDatabase.databaseName());
    QTemporaryDir local(bk::pastaInstalacao() + QStringLiteral(".restaura-banco-XXXXXX"));
    QString fbk;
    for (const auto& [caminho, soma] : banco) {
        const QString nome = caminho.mid(QStringLiteral("Banco de Dados/").size());
        if (nome.endsWith(QLatin1String(".fbk"), Qt::CaseInsensitive)) {
            fbk = local.path() + QLatin1Char('/') + nome;
            traz(caminho, soma, fbk);
            if (destinos.removeAll(fbk)) QFile::rename(fbk + QStringLiteral(".restaura"), fbk);
        } else if (!servidor) {
            traz(caminho, soma, pastaBanco() + QLatin1Char('/') + nome);
        }
    }
    if (manifesto.contains(QStringLiteral("BackUp.ini"))) traz(QStringLiteral("BackUp.ini"), manifesto.value(QStringLiteral("BackUp.ini")), ini);
    QStringList origens;
    for (const QString& d : std::as_const(destinos)) origens << d + QStringLiteral(".restaura");
    const auto descarta = [&] {
        for (const QString& o : std::as_const(origens)) QFile::remove(o);
    };
    if (!diferentes.isEmpty()) {
        descarta();
        return falha(QStringLiteral("Estes arquivos do backup não puderam ser trazidos do disco; nada foi restaurado (os "
                                    "exames, laudos e o banco de dados continuam como estavam):\n%1")
                         .arg(diferentes.join(QLatin1Char('\n'))));
    }
    if (servidor && fbk.isEmpty()) {
        descarta();
        return falha(QStringLiteral("Este backup tem uma cópia do banco de dados local, não a do servidor; nada foi "
                                    "restaurado."));
    }
    if (!servidor && !fbk.isEmpty()) {
        // A copy the server made (gbak), restored into a database file of this computer.
        const QString destino = pastaBanco() + QStringLiteral("/DATABASE.GDB");
        QString saida;
        if (!executaFerramenta(dm, QStringLiteral("gbak"), {QStringLiteral("-rep"), fbk, destino + QStringLiteral(".restaura")},
                               &saida)) {
            descarta();
            QFile::remove(destino + QStringLiteral(".restaura"));
            return falha(QStringLiteral("A cópia do banco de dados (DATABASE.fbk) não pôde ser restaurada: %1. Nada foi "
                                        "restaurado.").arg(saida));
        }
        destinos << destino;
        origens << destino + QStringLiteral(".restaura");
    }
    for (const auto& [origem, destino] : arquivos) {
        origens << origem;
        destinos << destino;
    }
    return trocaTudo(destinos, origens, servidor ? fbk : QString());
}

// The swap itself: every staged file takes its place under a journal; then the database is
// validated (a local one) or replaced on the server; any failure puts every file back.
bool TfrmBackup::trocaTudo(const QStringList& destinos, const QStringList& origens, const QString& fbk) {
    TDMPrincipal& dm = DMPrincipal();
    const bool servidor = !fbk.isEmpty();
    auto falha = [this](const QString& texto) {
        mensagem(this, texto, kErro, MsgIcon::Error);
        return false;
    };
    auto religa = [&dm] {
        try {
            dm.PConnectDataBase();
        } catch (const Error&) {
        }
    };
    TTrocaArquivos troca(servidor ? diarioRestauracaoServidor() : diarioRestauracao(pastaBanco()));
    if (!servidor) dm.PDesconectionDataBase();
    QString erro;
    if (!troca.troca(destinos, &erro, origens)) {
        religa();
        for (const QString& o : origens) QFile::remove(o);
        return falha(QStringLiteral("A restauração não pôde pôr os arquivos no lugar: %1. %2")
                         .arg(erro, erro.contains(QLatin1String("não puderam ser todos repostos"))
                                        ? QStringLiteral("Verifique as pastas de exames e laudos.")
                                        : QStringLiteral("Os exames, laudos e o banco de dados anteriores foram mantidos.")));
    }
    QString problema;
    bool ok;
    if (servidor) {
        QString guardada;
        ok = restauraBancoServidor(dm, fbk, bk::pastaInstalacao() + QStringLiteral("Antes da restauração"), &problema,
                                   &guardada);
        problema = QStringLiteral("O banco de dados do servidor não foi restaurado: %1").arg(problema);
    } else {
        ok = validaBanco(dm, &problema);
        if (!ok) {
            problema = QStringLiteral("O banco de dados restaurado (%1) não passou na verificação: %2.")
                           .arg(dm.IBDatabase.databaseName(), problema);
            dm.PDesconectionDataBase();
        }
    }
    if (ok) {
        troca.confirma();
        return true;
    }
    QString desfeito;
    const bool voltou = troca.desfaz(&desfeito);
    if (!servidor) religa();
    return falha(problema + (voltou ? (servidor ? QStringLiteral(" Os exames e laudos anteriores foram mantidos.")
                                                : QStringLiteral(" O banco de dados anterior foi mantido, com os exames e "
                                                                 "laudos anteriores."))
                                    : QStringLiteral(" Os arquivos anteriores não puderam ser todos repostos: %1").arg(desfeito)));
}

}  // namespace norvix
