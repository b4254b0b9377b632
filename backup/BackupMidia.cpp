#include "BackupMidia.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUuid>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <openssl/evp.h>

#include "platform/Paths.h"
#include "platform/Permissoes.h"
#include "platform/ProfileFile.h"

namespace norvix::backup {

namespace {

// SHA-256 through libcrypto: it uses the processor's SHA instructions, about ten times the
// speed of Qt 6.4's own implementation, and hashing every byte twice is most of a backup's
// work.
class Sha256 {
public:
    Sha256() : ctx_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr); }
    ~Sha256() { EVP_MD_CTX_free(ctx_); }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void addData(const char* data, qint64 size) { EVP_DigestUpdate(ctx_, data, size_t(size)); }
    QByteArray hex() {
        unsigned char soma[EVP_MAX_MD_SIZE];
        unsigned int tamanho = 0;
        EVP_DigestFinal_ex(ctx_, soma, &tamanho);
        return QByteArray(reinterpret_cast<const char*>(soma), int(tamanho)).toHex();
    }

private:
    EVP_MD_CTX* ctx_;
};

constexpr qint64 kBloco = qint64(1) << 20;
constexpr long kFatMagic = 0x4d44;  // MSDOS_SUPER_MAGIC: FAT12/16/32 and VFAT

QByteArray nomeLocal(const QString& caminho) { return QFile::encodeName(caminho); }

QString textoErro(int numero) { return QString::fromLocal8Bit(std::strerror(numero)); }

// Device of the file system mounted exactly at the folder (/proc/self/mounts escapes blanks
// as octal sequences).
QString dispositivoDe(const QString& montagem) {
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (!mounts.open(QIODevice::ReadOnly)) return {};
    const QString alvo = QDir::cleanPath(QFileInfo(montagem).canonicalFilePath());
    auto desfaz = [](QByteArray campo) {
        for (const char* c : {"\\040", "\\011", "\\012", "\\134"}) {
            const char real = static_cast<char>(std::strtol(c + 1, nullptr, 8));
            campo.replace(c, QByteArray(1, real));
        }
        return QFile::decodeName(campo);
    };
    QString dispositivo;
    for (const QByteArray& linha : mounts.readAll().split('\n')) {
        const QList<QByteArray> campos = linha.split(' ');
        if (campos.size() >= 2 && desfaz(campos[1]) == alvo) dispositivo = desfaz(campos[0]);
    }
    return dispositivo;  // the last mount at that point is the visible one
}

qint64 ocupadoEm(const QString& pasta) {
    qint64 total = 0;
    QDirIterator it(pasta, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) total += it.nextFileInfo().size();
    return total;
}

// A small control file (manifest, disk card) written so that it is either the old one or a new
// one read back right from the medium: temporary name, flushed, read back past the cache,
// compared, then renamed. QSaveFile would rename without the read-back.
bool gravaConferido(const QString& caminho, const QByteArray& texto, QString* erro) {
    const QByteArray final = nomeLocal(caminho);
    const QByteArray temporario = final + ".gravando";
    int numero = 0;
    const int fd = ::open(temporario.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) numero = errno;
    for (qsizetype feito = 0; !numero && feito < texto.size();) {
        const ssize_t n = ::write(fd, texto.constData() + feito, size_t(texto.size() - feito));
        if (n > 0) feito += n;
        else numero = n < 0 ? errno : EIO;
    }
    if (fd >= 0 && !numero && ::fsync(fd) != 0) numero = errno;
    if (fd >= 0 && ::close(fd) != 0 && !numero) numero = errno;
    if (!numero) {
        QByteArray lido;
        const int volta = ::open(temporario.constData(), O_RDONLY | O_CLOEXEC);
        if (volta >= 0) {
            ::posix_fadvise(volta, 0, 0, POSIX_FADV_DONTNEED);
            char bloco[4096];
            ssize_t n;
            while ((n = ::read(volta, bloco, sizeof bloco)) > 0) lido.append(bloco, n);
            if (n < 0) numero = errno;
            ::close(volta);
        } else {
            numero = errno;
        }
        if (!numero && lido != texto) numero = EIO;
    }
    if (!numero && ::rename(temporario.constData(), final.constData()) != 0) numero = errno;
    if (numero) {
        ::unlink(temporario.constData());
        if (erro) *erro = QStringLiteral("não foi possível gravar %1: %2").arg(caminho, textoErro(numero));
        return false;
    }
    return true;
}

}  // namespace

QString pastaInstalacao() {
    QString pasta = qEnvironmentVariable("NORVIX_BACKUP_DIR");
    if (pasta.isEmpty()) pasta = installRoot() + QStringLiteral("/OrventDuo");
    if (!pasta.endsWith(QLatin1Char('/'))) pasta += QLatin1Char('/');
    return pasta;
}

QString arquivoBackupIni() { return pastaInstalacao() + QStringLiteral("BackUp.ini"); }

QString novoConjunto() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }

QString conjuntoAtual(const QString& backupIni, QString* erro) {
    const ProfileFile ini(backupIni);
    QString conjunto = ini.readString(QStringLiteral("BACKUP"), QStringLiteral("Conjunto"), {}).trimmed();
    if (!conjunto.isEmpty()) return conjunto;
    conjunto = novoConjunto();
    if (!ini.writeStrings(QStringLiteral("BACKUP"), {{QStringLiteral("Conjunto"), conjunto}}, erro)) return {};
    return conjunto;
}

TDisco leDisco(const QString& montagem) {
    const ProfileFile arquivo(montagem + QLatin1Char('/') + QLatin1String(kArquivoDisco));
    const QString s = QStringLiteral("CONJUNTO");
    TDisco d;
    d.conjunto = arquivo.readString(s, QStringLiteral("Identidade"), {}).trimmed();
    d.numero = arquivo.readInteger(s, QStringLiteral("Disco"), 0);
    d.continua = arquivo.readInteger(s, QStringLiteral("Continua"), 0);
    d.banco = arquivo.readString(s, QStringLiteral("Banco"), {}).trimmed();
    return d;
}

bool gravaDisco(const QString& montagem, const TDisco& d, QString* erro) {
    const QByteArray texto = QStringLiteral("[CONJUNTO]\r\nIdentidade=%1\r\nDisco=%2\r\nContinua=%3\r\nBanco=%4\r\n")
                                 .arg(d.conjunto)
                                 .arg(d.numero)
                                 .arg(d.continua)
                                 .arg(d.banco)
                                 .toLatin1();
    return gravaConferido(montagem + QLatin1Char('/') + QLatin1String(kArquivoDisco), texto, erro);
}

QString preparaDiscoAtual(const QString& montagem, const QString& conjunto, int numero) {
    const TDisco d = leDisco(montagem);
    if (!d.valido()) {
        // A card that is there but does not read is a failing disk, not a new one.
        QFile cartao(montagem + QLatin1Char('/') + QLatin1String(kArquivoDisco));
        if (cartao.exists() && (!cartao.open(QIODevice::ReadOnly) || (cartao.readAll(), cartao.error() != QFileDevice::NoError)))
            return QStringLiteral("O disco no drive não pode ser lido (%1: %2).").arg(cartao.fileName(), cartao.errorString());
        QString erro;
        return gravaDisco(montagem, {conjunto, numero, 0, {}}, &erro) ? QString() : erro;
    }
    if (d.conjunto != conjunto)
        return QStringLiteral("O disco no drive (%1) pertence a outro backup. Insira o disco %2 deste backup.")
            .arg(rotuloDisco(d.numero))
            .arg(numero);
    if (d.numero != numero)
        return QStringLiteral("O disco no drive é o disco %1 deste backup; insira o disco %2, o atual.").arg(d.numero).arg(numero);
    return {};
}

QString problemaNoDiscoNovo(const QString& montagem, const QString& conjunto, int anterior) {
    const TDisco d = leDisco(montagem);
    if (d.valido() && d.conjunto == conjunto && d.numero == anterior)
        return QStringLiteral("Este é o mesmo disco (%1), que está cheio. Troque-o por um disco NOVO.").arg(rotuloDisco(anterior));
    if (d.valido() || !leManifesto(montagem).isEmpty())
        return QStringLiteral("Este disco já contém um backup (%1). Use um disco novo ou formatado.")
            .arg(d.valido() ? rotuloDisco(d.numero) : leRotulo(montagem));
    return {};
}

QChar letraUnidade(const QString& backupIni) {
    const QString valor = ProfileFile(backupIni).readString(QStringLiteral("BACKUP"), QStringLiteral("Drive"), {}).trimmed();
    if (valor.isEmpty() || !valor.at(0).isLetter() || valor.at(0).unicode() > 'z') return QLatin1Char('E');
    return valor.at(0).toUpper();
}

QString pontoMontagem(const QString& backupIni, QChar letra) {
    return ProfileFile(backupIni).readString(QStringLiteral("UNIDADES"), QString(letra), {}).trimmed();
}

QString rotuloDisco(int numero) {
    return QStringLiteral("Pelk%1").arg(qBound(0, numero, 9999), 4, 10, QLatin1Char('0'));
}

bool midiaPresente(const QString& montagem, bool escrita) {
    if (montagem.isEmpty()) return false;
    const QFileInfo info(montagem);
    return info.isDir() && ::access(nomeLocal(montagem).constData(), (escrita ? W_OK : R_OK) | X_OK) == 0;
}

qint64 espacoLivre(const QString& montagem) {
    const QByteArray capacidade = qgetenv("NORVIX_BACKUP_CAPACIDADE");
    if (!capacidade.isEmpty()) {
        if (!QFileInfo(montagem).isDir()) return -1;
        return std::max<qint64>(0, capacidade.toLongLong() - ocupadoEm(montagem));
    }
    struct statvfs st {};
    if (montagem.isEmpty() || ::statvfs(nomeLocal(montagem).constData(), &st) != 0) return -1;
    return qint64(st.f_bavail) * qint64(st.f_frsize);
}

bool gravaRotulo(const QString& montagem, int numero, QString* erro) {
    const QString rotulo = rotuloDisco(numero);
    struct statfs st {};
    if (::statfs(nomeLocal(montagem).constData(), &st) == 0 && st.f_type == kFatMagic) {
        const QString dispositivo = dispositivoDe(montagem);
        QProcess fatlabel;
        // dosfstools installs it under sbin, which an ordinary user's PATH may lack.
        QString programa = QStandardPaths::findExecutable(QStringLiteral("fatlabel"));
        if (programa.isEmpty())
            programa = QStandardPaths::findExecutable(QStringLiteral("fatlabel"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
        fatlabel.start(programa.isEmpty() ? QStringLiteral("fatlabel") : programa, {dispositivo, rotulo});
        if (!dispositivo.isEmpty() && fatlabel.waitForFinished(30000) &&
            fatlabel.exitStatus() == QProcess::NormalExit && fatlabel.exitCode() == 0)
            return true;
        if (erro)
            *erro = QStringLiteral("não foi possível gravar o rótulo %1 em %2 (fatlabel: %3)")
                        .arg(rotulo, dispositivo.isEmpty() ? montagem : dispositivo,
                             QString::fromLocal8Bit(fatlabel.readAllStandardError()).trimmed() +
                                 fatlabel.errorString());
        return false;
    }
    QSaveFile arquivo(montagem + QStringLiteral("/zip.dat"));
    if (arquivo.open(QIODevice::WriteOnly) && arquivo.write(rotulo.toLatin1()) == rotulo.size() &&
        arquivo.commit())
        return true;
    if (erro) *erro = QStringLiteral("não foi possível gravar %1: %2").arg(arquivo.fileName(), arquivo.errorString());
    return false;
}

QString leRotulo(const QString& montagem) {
    QFile arquivo(montagem + QStringLiteral("/zip.dat"));
    if (!arquivo.open(QIODevice::ReadOnly)) return {};
    return QString::fromLatin1(arquivo.read(16)).trimmed();
}

bool leManifesto(const QString& montagem, QMap<QString, QByteArray>* entradas, QString* erro) {
    entradas->clear();
    QFile arquivo(montagem + QLatin1Char('/') + QLatin1String(kManifesto));
    if (!arquivo.exists()) return true;
    QByteArray texto;
    if (arquivo.open(QIODevice::ReadOnly)) texto = arquivo.readAll();
    if (arquivo.error() != QFileDevice::NoError) {
        if (erro) *erro = QStringLiteral("o manifesto %1 não pôde ser lido: %2").arg(arquivo.fileName(), arquivo.errorString());
        return false;
    }
    for (QByteArray linha : texto.split('\n')) {
        if (linha.endsWith('\r')) linha.chop(1);
        if (linha.size() < 67 || linha.mid(64, 2) != "  ") continue;
        entradas->insert(QString::fromUtf8(linha.mid(66)), linha.left(64).toLower());
    }
    return true;
}

QMap<QString, QByteArray> leManifesto(const QString& montagem) {
    QMap<QString, QByteArray> entradas;
    leManifesto(montagem, &entradas, nullptr);
    return entradas;
}

bool gravaManifesto(const QString& montagem, const QMap<QString, QByteArray>& entradas, QString* erro) {
    QMap<QString, QByteArray> todas;
    if (!leManifesto(montagem, &todas, erro)) return false;
    todas.insert(entradas);
    QByteArray texto;
    for (auto it = todas.cbegin(); it != todas.cend(); ++it) texto += it.value() + "  " + it.key().toUtf8() + '\n';
    return gravaConferido(montagem + QLatin1Char('/') + QLatin1String(kManifesto), texto, erro);
}

QByteArray somaArquivo(const QString& caminho, bool descartaCache) {
    const int fd = ::open(nomeLocal(caminho).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    if (descartaCache) ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    Sha256 soma;
    QByteArray bloco(kBloco, Qt::Uninitialized);
    ssize_t lidos = 0;
    while ((lidos = ::read(fd, bloco.data(), bloco.size())) > 0) soma.addData(bloco.constData(), lidos);
    ::close(fd);
    return lidos < 0 ? QByteArray() : soma.hex();
}

bool copiaArquivo(const QString& origem, const QString& destino, QByteArray* soma, QString* erro, int* errnoFalha,
                  bool conferida) {
    auto falha = [&](const QString& onde, int numero) {
        if (erro) *erro = QStringLiteral("%1: %2").arg(onde, textoErro(numero));
        if (errnoFalha) *errnoFalha = numero;
        return false;
    };
    const QString pasta = QFileInfo(destino).absolutePath();
    if (!QDir().mkpath(pasta)) return falha(pasta, errno ? errno : EACCES);
    const int de = ::open(nomeLocal(origem).constData(), O_RDONLY | O_CLOEXEC);
    if (de < 0) return falha(origem, errno);
    const QString temporario = destino + QStringLiteral(".bkp-tmp");
    // 0666 less the process's mask: the clinic's data stays out of other accounts' reach.
    const int para = ::open(nomeLocal(temporario).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (para < 0) {
        const int numero = errno;
        ::close(de);
        return falha(destino, numero);
    }
    Sha256 hash;
    QByteArray bloco(kBloco, Qt::Uninitialized);
    int numero = 0;
    QString onde = origem;
    for (;;) {
        const ssize_t lidos = ::read(de, bloco.data(), bloco.size());
        if (lidos < 0) { numero = errno; break; }
        if (lidos == 0) break;
        hash.addData(bloco.constData(), lidos);
        for (ssize_t feito = 0; feito < lidos && !numero;) {
            const ssize_t n = ::write(para, bloco.constData() + feito, lidos - feito);
            if (n < 0) { numero = errno; onde = destino; }
            else if (n == 0) { numero = EIO; onde = destino; }
            else feito += n;
        }
        if (numero) break;
    }
    ::close(de);
    if (!numero && conferida && ::fsync(para) != 0) { numero = errno; onde = destino; }
    // The device starts writing now, while the next files are copied, instead of all at the
    // medium's flush; errors still surface there and in the read-back.
    if (!numero && !conferida) ::sync_file_range(para, 0, 0, SYNC_FILE_RANGE_WRITE);
    if (::close(para) != 0 && !numero) { numero = errno; onde = destino; }
    const QByteArray somaOrigem = numero ? QByteArray() : hash.hex();
    if (!numero && conferida && somaArquivo(temporario, true) != somaOrigem) {
        ::unlink(nomeLocal(temporario).constData());
        if (erro)
            *erro = QStringLiteral("%1: a cópia lida de volta do disco difere do original (gravação com erro)").arg(destino);
        if (errnoFalha) *errnoFalha = EIO;
        return false;
    }
    if (!numero && ::rename(nomeLocal(temporario).constData(), nomeLocal(destino).constData()) != 0) {
        numero = errno;
        onde = destino;
    }
    if (numero) {
        ::unlink(nomeLocal(temporario).constData());
        return falha(onde, numero);
    }
    if (soma) *soma = somaOrigem;
    return true;
}

bool publicaNoMeio(const QString& montagem, const QList<std::pair<QString, QString>>& arquivos, QString* erro) {
    norvix::fechaParaOutrasContas(montagem);  // the medium's top folder, like the copies in it
    QMap<QString, QByteArray> somas;
    for (const auto& [origem, caminho] : arquivos) {
        QByteArray soma;
        if (!copiaArquivo(origem, montagem + QLatin1Char('/') + caminho + QStringLiteral(".novo"), &soma, erro, nullptr,
                          true))
            return false;
        somas.insert(caminho, soma);
    }
    if (!descarregaMidia(montagem) || !gravaManifesto(montagem, somas, erro) || !descarregaMidia(montagem)) {
        if (erro && erro->isEmpty()) *erro = QStringLiteral("não foi possível gravar no disco de backup %1").arg(montagem);
        return false;
    }
    // From here the manifest names the new copies: the renames only tidy up, and a crash
    // among them still leaves each entry's match in place.
    for (const auto& par : arquivos) {
        const QByteArray final = nomeLocal(montagem + QLatin1Char('/') + par.second);
        const QByteArray anterior = final + ".anterior";
        const QByteArray novo = final + ".novo";
        if (::access(final.constData(), F_OK) == 0) ::rename(final.constData(), anterior.constData());
        if (::rename(novo.constData(), final.constData()) != 0) {
            if (erro) *erro = QStringLiteral("%1: %2").arg(QFile::decodeName(final), textoErro(errno));
            return false;
        }
    }
    descarregaMidia(montagem);
    for (const auto& par : arquivos) QFile::remove(montagem + QLatin1Char('/') + par.second + QStringLiteral(".anterior"));
    return true;
}

QString arquivoConferido(const QString& montagem, const QString& caminho, const QByteArray& soma) {
    if (soma.isEmpty()) return {};
    for (const QString& sufixo : {QString(), QStringLiteral(".novo"), QStringLiteral(".anterior")}) {
        const QString candidato = montagem + QLatin1Char('/') + caminho + sufixo;
        if (QFileInfo::exists(candidato) && somaArquivo(candidato) == soma) return candidato;
    }
    return {};
}

bool descarregaMidia(const QString& montagem) {
    const int fd = ::open(nomeLocal(montagem).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::syncfs(fd) == 0;
    ::close(fd);
    return ok;
}

}  // namespace norvix::backup
