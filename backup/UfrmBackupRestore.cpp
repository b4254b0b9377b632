// The backup window's restore: the module's restore of the files, then the database from the medium.
#include "UfrmBackup.h"
#include "UfrmBackupShared.h"

#include <QFile>
#include <QMap>
#include <QTemporaryDir>

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
                 QStringLiteral("Erro"), MsgIcon::Error);
        return;
    }
    const QByteArray pastaExames = toCp1252(recordText(paths().Exames));
    const QByteArray pastaLaudos = toCp1252(recordText(paths().Laudos));
    const int32_t resultado = modulo.RestaurarBackup(this, pastaExames.constData(), pastaLaudos.constData());
    modulo.ReleaseModule();
    if (resultado == -1) return;
    if (!restauraBanco()) return;
    mensagem(this, QStringLiteral("Restauração concluída com êxito"));
    AtualizaResumo();
}

// The database and BackUp.ini of the medium's last disk, taken back only when they match the
// medium's manifest, and put in place as one transaction: the current files are kept until the
// restored database has passed the engine's validation and opened with every table readable.
bool TfrmBackup::restauraBanco() {
    montagem_ = bk::pontoMontagem(bk::arquivoBackupIni(), letra_);
    const bk::TDisco disco = bk::leDisco(montagem_);
    if (disco.valido() && disco.continua != 0) {
        mensagem(this, QStringLiteral("O disco no drive (%1) não é o último do backup: o backup continua no disco %2, "
                                      "que tem a cópia mais nova do banco de dados. O banco de dados não foi restaurado.")
                           .arg(bk::rotuloDisco(disco.numero))
                           .arg(disco.continua),
                 QStringLiteral("Erro"), MsgIcon::Error);
        return false;
    }
    QMap<QString, QByteArray> manifesto;
    QString erroManifesto;
    if (!bk::leManifesto(montagem_, &manifesto, &erroManifesto)) {
        mensagem(this, QStringLiteral("O disco de backup não pode ser lido: %1. O banco de dados não foi restaurado.")
                           .arg(erroManifesto),
                 QStringLiteral("Erro"), MsgIcon::Error);
        return false;
    }
    QList<std::pair<QString, QByteArray>> banco;  // manifest path -> sum
    for (auto it = manifesto.cbegin(); it != manifesto.cend(); ++it)
        if (it.key().startsWith(QLatin1String("Banco de Dados/"))) banco.append({it.key(), it.value()});
    if (montagem_.isEmpty() || banco.isEmpty()) {
        mensagem(this, QStringLiteral("O disco no drive não contém a cópia do banco de dados (%1). O banco de dados não foi "
                                      "restaurado.").arg(montagem_ + QStringLiteral("/Banco de Dados")),
                 QStringLiteral("Erro"), MsgIcon::Error);
        return false;
    }
    auto falha = [this](const QString& texto) {
        mensagem(this, texto, QStringLiteral("Erro"), MsgIcon::Error);
        return false;
    };
    TDMPrincipal& dm = DMPrincipal();
    const QString ini = bk::arquivoBackupIni();
    TfrmAguarde::instance()->showNow();
    struct Espera {
        ~Espera() { TfrmAguarde::instance()->hide(); }
    } espera;

    // Every file is brought beside its destination and compared with the manifest first.
    QStringList destinos, diferentes;
    QString erro;
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
    const auto descarta = [&] {
        for (const QString& d : std::as_const(destinos)) QFile::remove(d + QStringLiteral(".restaura"));
    };
    if (!diferentes.isEmpty()) {
        descarta();
        return falha(QStringLiteral("Estes arquivos do backup não puderam ser trazidos do disco; o banco de dados não foi "
                                    "restaurado:\n%1").arg(diferentes.join(QLatin1Char('\n'))));
    }

    if (servidor) {
        if (fbk.isEmpty()) {
            descarta();
            return falha(QStringLiteral("Este backup tem uma cópia do banco de dados local, não a do servidor; o banco de "
                                        "dados do servidor não foi restaurado."));
        }
        if (!restauraBancoServidor(dm, fbk, local.path(), &erro)) {
            descarta();
            return falha(QStringLiteral("O banco de dados do servidor não foi restaurado: %1. O banco de dados anterior foi "
                                        "mantido.").arg(erro));
        }
    } else if (!fbk.isEmpty()) {
        // A copy the server made (gbak), restored into a database file of this computer.
        const QString destino = pastaBanco() + QStringLiteral("/DATABASE.GDB");
        QString saida;
        if (!executaFerramenta(dm, QStringLiteral("gbak"), {QStringLiteral("-rep"), fbk, destino + QStringLiteral(".restaura")},
                               &saida)) {
            descarta();
            QFile::remove(destino + QStringLiteral(".restaura"));
            return falha(QStringLiteral("A cópia do banco de dados (DATABASE.fbk) não pôde ser restaurada: %1").arg(saida));
        }
        destinos << destino;
    }

    TTrocaArquivos troca(diarioRestauracao(pastaBanco()));
    if (!servidor) dm.PDesconectionDataBase();
    if (!troca.troca(destinos, &erro)) {
        try {
            dm.PConnectDataBase();
        } catch (const Error&) {
        }
        return falha(QStringLiteral("A restauração não pôde pôr os arquivos no lugar: %1. Os arquivos anteriores foram "
                                    "mantidos.").arg(erro));
    }
    if (!servidor && !validaBanco(dm, &erro)) {
        dm.PDesconectionDataBase();
        QString desfeito;
        troca.desfaz(&desfeito);
        try {
            dm.PConnectDataBase();
        } catch (const Error&) {
        }
        return falha(QStringLiteral("O banco de dados restaurado (%1) não passou na verificação: %2. O banco de dados "
                                    "anterior foi mantido.%3")
                         .arg(dm.IBDatabase.databaseName(), erro, desfeito.isEmpty() ? QString() : QLatin1Char(' ') + desfeito));
    }
    troca.confirma();
    return true;
}

}  // namespace norvix
