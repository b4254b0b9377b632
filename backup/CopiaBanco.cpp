#include "CopiaBanco.h"

#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSaveFile>
#include <QSet>
#include <QStorageInfo>
#include <QTimer>

#include <cstdio>

#include "BackupMidia.h"
#include "records/UfrmDataModule.h"

namespace norvix {

namespace {

const QString kDelta = QStringLiteral(".delta");

QString senhaDe(const TDMPrincipal& dm) {
    for (const QString& linha : dm.IBDatabase.params())
        if (linha.startsWith(QLatin1String("password="), Qt::CaseInsensitive)) return linha.mid(9);
    return QString::fromLatin1(TDMPrincipal::kPassword);
}

// The file the data module has open, when it is a local file inside the folder.
bool ehBancoAberto(TDMPrincipal& dm, const QFileInfo& arquivo) {
    return dm.connected() &&
           QFileInfo(dm.IBDatabase.databaseName()).canonicalFilePath() == arquivo.canonicalFilePath();
}

// The open database file copied under the engine's backup lock, its mark then cleared in the
// local copy (the client library's object API has no call for that in this engine version;
// nbackup, of the same package as isql-fb, does exactly this).
bool copiaBancoTravado(TDMPrincipal& dm, const QString& origem, const QString& destino, QString* erro) {
    // A backup that was killed between the two statements left the database locked (its changes
    // going to the .delta file); nothing else locks this installation's file, so the lock ends
    // here and the changes merge back before a new one begins.
    if (dm.selectInt(QStringLiteral("SELECT MON$BACKUP_STATE AS ESTADO FROM MON$DATABASE"), {}, QStringLiteral("ESTADO"),
                     TDMPrincipal::Close::Yes) != 0)
        dm.execProcedure(QStringLiteral("ALTER DATABASE END BACKUP"));
    dm.execProcedure(QStringLiteral("ALTER DATABASE BEGIN BACKUP"));
    bool copiado = false;
    try {
        copiado = backup::copiaArquivo(origem, destino, nullptr, erro, nullptr, true);
    } catch (...) {
        dm.execProcedure(QStringLiteral("ALTER DATABASE END BACKUP"));
        throw;
    }
    dm.execProcedure(QStringLiteral("ALTER DATABASE END BACKUP"));
    QString saida;
    if (copiado && executaFerramenta(dm, QStringLiteral("nbackup"), {QStringLiteral("-F"), destino}, &saida, 120000))
        return true;
    if (copiado) *erro = QStringLiteral("nbackup -F %1: %2").arg(destino, saida);
    QFile::remove(destino);
    return false;
}

}  // namespace

bool bancoNoServidor(const QString& nomeBanco) { return nomeBanco.contains(QLatin1Char(':')); }

qint64 tamanhoPasta(const QString& pasta) {
    qint64 total = 0;
    for (const QFileInfo& f : QDir(pasta).entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) total += f.size();
    return total;
}

bool executaFerramenta(const TDMPrincipal& dm, const QString& programa, const QStringList& argumentos, QString* saida,
                       int msLimite) {
    QProcess processo;
    QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
    ambiente.insert(QStringLiteral("ISC_USER"), QStringLiteral("SYSDBA"));
    ambiente.insert(QStringLiteral("ISC_PASSWORD"), senhaDe(dm));
    processo.setProcessEnvironment(ambiente);
    processo.setProcessChannelMode(QProcess::MergedChannels);
    // gbak asks on its input for the next volume of a truncated copy; with none it fails at once.
    processo.setStandardInputFile(QProcess::nullDevice());
    processo.start(programa, argumentos);
    // The window keeps painting while the tool works (a server's backup may take minutes).
    QEventLoop espera;
    QObject::connect(&processo, &QProcess::finished, &espera, &QEventLoop::quit);
    QObject::connect(&processo, &QProcess::errorOccurred, &espera, &QEventLoop::quit);
    QTimer::singleShot(msLimite, &espera, &QEventLoop::quit);
    if (processo.state() != QProcess::NotRunning) espera.exec(QEventLoop::ExcludeUserInputEvents);
    if (processo.state() != QProcess::NotRunning) {
        processo.kill();
        processo.waitForFinished(5000);
    }
    const QString texto = QString::fromLocal8Bit(processo.readAll()).trimmed();
    const bool ok = processo.exitStatus() == QProcess::NormalExit && processo.exitCode() == 0 &&
                    processo.error() == QProcess::UnknownError;
    if (saida) *saida = ok || !texto.isEmpty() ? texto : processo.errorString();
    return ok;
}

bool preparaCopiaBanco(TDMPrincipal& dm, const QString& pastaBanco, const QString& pastaLocal,
                       QList<std::pair<QString, QString>>* arquivos, QString* erro) {
    if (!QDir().mkpath(pastaLocal)) {
        *erro = QStringLiteral("não foi possível criar a pasta %1").arg(pastaLocal);
        return false;
    }
    const QString prefixo = QStringLiteral("Banco de Dados/");
    if (bancoNoServidor(dm.IBDatabase.databaseName())) {
        const QString fbk = pastaLocal + QStringLiteral("/DATABASE.fbk");
        QFile::remove(fbk);
        QString saida;
        if (!executaFerramenta(dm, QStringLiteral("gbak"),
                               {QStringLiteral("-b"), QStringLiteral("-g"), dm.IBDatabase.databaseName(), fbk}, &saida)) {
            *erro = QStringLiteral("a cópia de segurança do servidor (gbak) falhou: %1").arg(saida);
            return false;
        }
        arquivos->append({fbk, prefixo + QStringLiteral("DATABASE.fbk")});
        return true;
    }
    if (!QFileInfo(pastaBanco).isDir()) {
        *erro = QStringLiteral("a pasta do banco de dados %1 não existe").arg(pastaBanco);
        return false;
    }
    for (const QFileInfo& arquivo :
         QDir(pastaBanco).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name)) {
        if (arquivo.fileName().endsWith(kDelta, Qt::CaseInsensitive)) continue;
        const QString alvo = pastaLocal + QLatin1Char('/') + arquivo.fileName();
        const bool ok = ehBancoAberto(dm, arquivo) ? copiaBancoTravado(dm, arquivo.filePath(), alvo, erro)
                                                   : backup::copiaArquivo(arquivo.filePath(), alvo, nullptr, erro);
        if (!ok) return false;
        arquivos->append({alvo, prefixo + arquivo.fileName()});
    }
    return true;
}

bool validaBanco(TDMPrincipal& dm, QString* erro, bool paginas) {
    // The engine's own check of every page and record, with nobody attached.
    dm.PDesconectionDataBase();
    QString saida;
    if (paginas && !executaFerramenta(dm, QStringLiteral("gfix"),
                           {QStringLiteral("-v"), QStringLiteral("-full"), QStringLiteral("-n"),
                            dm.IBDatabase.databaseName()},
                           &saida)) {
        *erro = QStringLiteral("a validação do banco de dados (gfix) encontrou problemas: %1").arg(saida);
        return false;
    }
    if (paginas && saida.contains(QLatin1String("error"), Qt::CaseInsensitive)) {
        *erro = QStringLiteral("a validação do banco de dados (gfix) encontrou problemas: %1").arg(saida);
        return false;
    }
    try {
        dm.PConnectDataBase();
        for (const char* tabela : {"PACIENTES", "MEDICOS", "EXAMES", "EXAMESORTO", "ARQUIVOS", "LAUDOS", "LAUDOSTEXTO"})
            dm.selectInt(QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(tabela)), {}, QStringLiteral("COUNT"),
                         TDMPrincipal::Close::Yes);
        return true;
    } catch (const Error& e) {
        *erro = QStringLiteral("o banco de dados restaurado não pôde ser lido: %1").arg(e.message());
        dm.PDesconectionDataBase();
        return false;
    }
}

// ---- files replaced as one transaction --------------------------------------------------------

namespace {

const QByteArray kConfirmada = "CONFIRMADA";

// rmdir: only an empty folder goes.
void removePastaVazia(const QString& pasta) { QDir().rmdir(pasta); }

}  // namespace

QString diarioRestauracao(const QString& pastaBanco) { return pastaBanco + QStringLiteral("/restauracao.pendente"); }

QString diarioRestauracaoServidor() {
    QString pasta = backup::pastaInstalacao();
    if (pasta.endsWith(QLatin1Char('/'))) pasta.chop(1);
    return diarioRestauracao(pasta);
}

bool TTrocaArquivos::gravaDiario(bool confirmada, QString* erro) const {
    // Each line says whether the file existed ("1") or is new ("0"): undoing removes only a new
    // one, never a current file that a crash caught before it was put aside. "D" lines name the
    // folders made for new files.
    QByteArray texto = confirmada ? kConfirmada + '\n' : QByteArray();
    for (const QString& pasta : pastas_) texto += "D\t" + pasta.toUtf8() + '\n';
    for (qsizetype k = 0; k < destinos_.size(); ++k)
        texto += (existiam_[k] ? "1\t" : "0\t") + destinos_[k].toUtf8() + '\n';
    QSaveFile diario(diario_);
    if (!diario.open(QIODevice::WriteOnly) || diario.write(texto) != texto.size() || !diario.commit()) {
        if (erro) *erro = QStringLiteral("não foi possível gravar %1: %2").arg(diario_, diario.errorString());
        return false;
    }
    // The journal's name on the disk before any file moves (a power cut, not only a crash).
    backup::descarregaMidia(QFileInfo(diario_).absolutePath());
    return true;
}

bool TTrocaArquivos::troca(const QStringList& destinos, QString* erro, const QStringList& origens) {
    destinos_ = destinos;
    existiam_.clear();
    pastas_.clear();
    for (const QString& destino : destinos) {
        existiam_ << QFileInfo::exists(destino);
        QStringList faltam;  // the destination's missing folders, innermost first
        for (QString pasta = QFileInfo(destino).absolutePath(); !QFileInfo::exists(pasta) && !pastas_.contains(pasta);
             pasta = QFileInfo(pasta).absolutePath())
            faltam.prepend(pasta);
        pastas_ << faltam;
    }
    if (!gravaDiario(false, erro)) return false;
    auto falha = [&](const QString& motivo) {
        QString desfeito;
        *erro = desfaz(&desfeito) ? motivo
                                  : motivo + QStringLiteral("; e os arquivos anteriores não puderam ser todos repostos: %1")
                                                 .arg(desfeito);
        return false;
    };
    for (const QString& pasta : std::as_const(pastas_))
        if (!QDir().mkdir(pasta)) return falha(QStringLiteral("não foi possível criar a pasta %1").arg(pasta));
    for (qsizetype k = 0; k < destinos.size(); ++k) {
        const QByteArray atual = QFile::encodeName(destinos[k]);
        const QByteArray origem = k < origens.size() ? QFile::encodeName(origens[k]) : atual + ".restaura";
        if (existiam_[k] && std::rename(atual.constData(), (atual + ".anterior").constData()) != 0)
            return falha(QStringLiteral("não foi possível pôr de lado %1").arg(destinos[k]));
        if (std::rename(origem.constData(), atual.constData()) != 0)
            return falha(QStringLiteral("não foi possível pôr no lugar %1").arg(destinos[k]));
    }
    return true;
}

void TTrocaArquivos::confirma() {
    // From the mark on, the new files are the installation's: a crash while the kept files go
    // leaves a journal that start-up finishes instead of undoing. So their bytes reach the disk
    // first (each file system of theirs once). When even the mark cannot be written, the
    // journal goes first, as the transaction's end.
    QStringList pastas;
    for (const QString& destino : std::as_const(destinos_)) {
        const QString pasta = QFileInfo(destino).absolutePath();
        if (!pastas.contains(pasta)) pastas << pasta;
    }
    QSet<QString> sistemas;
    for (const QString& pasta : std::as_const(pastas))
        if (const QString raiz = QStorageInfo(pasta).rootPath(); !sistemas.contains(raiz)) {
            sistemas.insert(raiz);
            backup::descarregaMidia(pasta);
        }
    if (!gravaDiario(true, nullptr)) QFile::remove(diario_);
    for (const QString& destino : std::as_const(destinos_)) QFile::remove(destino + QStringLiteral(".anterior"));
    QFile::remove(diario_);
}

bool TTrocaArquivos::desfaz(QString* erro) {
    bool ok = true;
    for (qsizetype k = 0; k < destinos_.size(); ++k) {
        const QString& destino = destinos_[k];
        const QByteArray atual = QFile::encodeName(destino);
        QFile::remove(destino + QStringLiteral(".restaura"));
        if (QFileInfo::exists(destino + QStringLiteral(".anterior"))) {
            if (std::rename((atual + ".anterior").constData(), atual.constData()) != 0) {
                ok = false;
                if (erro) *erro = QStringLiteral("não foi possível repor %1 (cópia em %1.anterior)").arg(destino);
            }
        } else if (!existiam_.value(k, true)) {
            QFile::remove(destino);  // a file that did not exist before the restore
        }
    }
    for (qsizetype k = pastas_.size() - 1; k >= 0; --k) removePastaVazia(pastas_[k]);
    if (ok) QFile::remove(diario_);
    return ok;
}

QString recuperaInstalacao(const QString& pastaBanco, const QStringList& pastasDados) {
    QString relato;
    if (!pastaBanco.isEmpty()) TTrocaArquivos::recupera(diarioRestauracao(pastaBanco), &relato);
    QString outro;
    if (TTrocaArquivos::recupera(diarioRestauracaoServidor(), &outro))
        relato += (relato.isEmpty() ? QString() : QStringLiteral("\n")) + outro;
    // Only one program runs on an installation, so at start-up no copy is under way; what a
    // restore staged beside the database and BackUp.ini before its journal existed was never
    // in use.
    // The same for a copy caught on its way there and a journal's temporary file caught before
    // it took the journal's name.
    const QStringList restos = {QStringLiteral("*.restaura"), QStringLiteral("*.restaura.bkp-tmp"),
                                QStringLiteral("restauracao.pendente.*")};
    for (const QString& pasta : {pastaBanco, backup::pastaInstalacao()})
        if (!pasta.isEmpty())
            for (const QFileInfo& f : QDir(pasta).entryInfoList(restos, QDir::Files | QDir::Hidden)) QFile::remove(f.filePath());
    const QDir instalacao(backup::pastaInstalacao());
    for (const QString& pasta : instalacao.entryList({QStringLiteral(".copia-banco-*"), QStringLiteral(".restaura-banco-*")},
                                                     QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot))
        QDir(instalacao.filePath(pasta)).removeRecursively();
    for (const QString& dados : pastasDados) {
        if (dados.isEmpty()) continue;
        const QDir d(dados);
        for (const QString& pasta : d.entryList({QLatin1String(kPreparoRestauracao) + QLatin1Char('*')},
                                                QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot))
            QDir(d.filePath(pasta)).removeRecursively();
    }
    return relato;
}

bool TTrocaArquivos::recupera(const QString& diario, QString* relato) {
    QFile arquivo(diario);
    if (!arquivo.open(QIODevice::ReadOnly)) return false;
    TTrocaArquivos troca(diario);
    bool confirmada = false;
    for (const QByteArray& bruta : arquivo.readAll().split('\n')) {
        const QByteArray linha = bruta.trimmed();
        if (linha.isEmpty()) continue;
        if (linha == kConfirmada) {
            confirmada = true;
            continue;
        }
        if (linha.startsWith("D\t")) {
            troca.pastas_ << QString::fromUtf8(linha.mid(2));
            continue;
        }
        // A journal of an earlier version holds bare paths: taken as existing, so nothing is removed.
        const bool marcada = linha.size() > 2 && linha[1] == '\t' && (linha[0] == '0' || linha[0] == '1');
        troca.existiam_ << (!marcada || linha[0] == '1');
        troca.destinos_ << QString::fromUtf8(marcada ? linha.mid(2) : linha);
    }
    arquivo.close();
    if (confirmada) {
        // Every restored file was in place: only the kept ones were still to go.
        troca.confirma();
        if (relato)
            *relato = QStringLiteral("Uma restauração interrompida logo depois de confirmada foi concluída (%1 arquivos "
                                     "restaurados).").arg(troca.destinos_.size());
        return true;
    }
    // Files left with a restore's suffix and no journal were never in use; the journal's
    // destinations go back to what they were.
    QString erro;
    const bool ok = troca.desfaz(&erro);
    if (relato)
        *relato = ok ? QStringLiteral("Uma restauração interrompida foi desfeita; os arquivos anteriores a ela foram "
                                      "repostos (%1 arquivos).").arg(troca.destinos_.size())
                     : QStringLiteral("Uma restauração interrompida não pôde ser desfeita: %1").arg(erro);
    return true;
}

// ---- a server's database ----------------------------------------------------------------------

namespace {

// When the attached database was created: gbak -rep makes a new one, so an unchanged date says
// that the database was never replaced.
QString criacaoDoBanco(TDMPrincipal& dm) {
    auto& q = dm.openQuery(dm.IBOperation, QStringLiteral("SELECT MON$CREATION_DATE AS CRIADO FROM MON$DATABASE"));
    const QString criado = q.eof() ? QString() : q.asString(QStringLiteral("CRIADO"));
    q.close();
    return criado;
}

void apagaBancoServidor(const TDMPrincipal& dm, const QString& nome) {
    QProcess isql;
    QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
    ambiente.insert(QStringLiteral("ISC_USER"), QStringLiteral("SYSDBA"));
    ambiente.insert(QStringLiteral("ISC_PASSWORD"), senhaDe(dm));
    isql.setProcessEnvironment(ambiente);
    isql.start(QStringLiteral("isql-fb"), {QStringLiteral("-q"), nome});
    isql.write("DROP DATABASE;\n");
    isql.closeWriteChannel();
    isql.waitForFinished(60000);
}

// After a replacement that failed or did not validate: the server's database as it was, when
// possible. Returns the sentence that says truthfully which it is; copiaGuardada gets the
// safety copy's path when that copy is now the only way back (it is then kept).
QString voltaAoAnterior(TDMPrincipal& dm, const QString& atual, const QString& criado, const QString& seguranca,
                        QString* copiaGuardada) {
    try {
        dm.PConnectDataBase();
        if (!criado.isEmpty() && criacaoDoBanco(dm) == criado) {
            QFile::remove(seguranca);
            return QStringLiteral("O banco de dados do servidor não foi alterado.");
        }
    } catch (const Error&) {
    }
    dm.PDesconectionDataBase();
    QString saida, problema;
    if (executaFerramenta(dm, QStringLiteral("gbak"), {QStringLiteral("-rep"), seguranca, atual}, &saida) &&
        validaBanco(dm, &problema, false)) {
        QFile::remove(seguranca);
        return QStringLiteral("O banco de dados anterior foi reposto a partir da cópia de segurança feita antes da "
                              "restauração.");
    }
    if (copiaGuardada) *copiaGuardada = seguranca;
    try {
        dm.PConnectDataBase();
    } catch (const Error&) {
    }
    return QStringLiteral("O banco de dados anterior NÃO pôde ser reposto (%1); a cópia de segurança dele, feita antes da "
                          "restauração, está guardada em %2.")
        .arg(problema.isEmpty() ? saida : problema, seguranca);
}

}  // namespace

bool restauraBancoServidor(TDMPrincipal& dm, const QString& arquivoFbk, const QString& pastaSeguranca, QString* erro,
                           QString* copiaGuardada) {
    const QString atual = dm.IBDatabase.databaseName();
    const QString novo = atual.left(atual.lastIndexOf(QLatin1Char('/')) + 1) + QStringLiteral("DATABASE.restaurado.GDB");
    QString saida;
    // 1. Into a new database beside the current one, which must validate.
    if (!executaFerramenta(dm, QStringLiteral("gbak"), {QStringLiteral("-rep"), arquivoFbk, novo}, &saida)) {
        *erro = QStringLiteral("o servidor não restaurou a cópia (gbak): %1. O banco de dados do servidor não foi "
                               "alterado.").arg(saida);
        return false;
    }
    if (!executaFerramenta(dm, QStringLiteral("gfix"), {QStringLiteral("-v"), QStringLiteral("-full"), QStringLiteral("-n"), novo},
                           &saida) ||
        saida.contains(QLatin1String("error"), Qt::CaseInsensitive)) {
        *erro = QStringLiteral("a validação do banco de dados restaurado (gfix) encontrou problemas: %1. O banco de dados "
                               "do servidor não foi alterado.").arg(saida);
        apagaBancoServidor(dm, novo);
        return false;
    }
    apagaBancoServidor(dm, novo);
    // 2. The current database kept for the way back, in a folder that outlives this call; then
    // replaced (nobody may be attached).
    if (!QDir().mkpath(pastaSeguranca)) {
        *erro = QStringLiteral("não foi possível criar a pasta %1. O banco de dados do servidor não foi alterado.")
                    .arg(pastaSeguranca);
        return false;
    }
    const QString seguranca =
        pastaSeguranca + QStringLiteral("/antes-da-restauracao-%1.fbk")
                             .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    QString criado;
    try {
        criado = criacaoDoBanco(dm);
    } catch (const Error&) {
    }
    if (!executaFerramenta(dm, QStringLiteral("gbak"), {QStringLiteral("-b"), QStringLiteral("-g"), atual, seguranca},
                           &saida)) {
        QFile::remove(seguranca);
        *erro = QStringLiteral("não foi possível guardar o banco de dados atual antes de restaurar (gbak): %1. O banco de "
                               "dados do servidor não foi alterado.").arg(saida);
        return false;
    }
    dm.PDesconectionDataBase();
    if (!executaFerramenta(dm, QStringLiteral("gbak"), {QStringLiteral("-rep"), arquivoFbk, atual}, &saida)) {
        *erro = (saida.contains(QLatin1String("in use"), Qt::CaseInsensitive)
                     ? QStringLiteral("o banco de dados no servidor está em uso por outra estação; feche o programa nas "
                                      "outras estações e restaure de novo")
                     : QStringLiteral("o servidor não substituiu o banco de dados (gbak): %1").arg(saida)) +
                QStringLiteral(". ") + voltaAoAnterior(dm, atual, criado, seguranca, copiaGuardada);
        return false;
    }
    // Its pages were validated as the new database above; other workstations may attach again
    // at any moment, so only a read of every table here.
    QString problema;
    if (!validaBanco(dm, &problema, false)) {
        dm.PDesconectionDataBase();
        *erro = problema + QStringLiteral(". ") + voltaAoAnterior(dm, atual, QString(), seguranca, copiaGuardada);
        return false;
    }
    QFile::remove(seguranca);
    return true;
}

}  // namespace norvix
