// The reference backup module: InfoBackup, CriarBackup, RestaurarBackup. The medium is a
// mounted folder named by a drive letter in BackUp.ini; every copy is summed (SHA-256),
// flushed, read back from the medium and compared before its record gets a mark, and the
// restore takes back only files that match the medium's manifest.
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QWidget>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <type_traits>
#include <vector>

#include "backup/BackupMidia.h"
#include "modules/ModuleContract.h"
#include "outside/core/ModuleIo.h"
#include "outside/core/ModuleSupport.h"
#include "platform/Cp1252.h"
#include "platform/ProfileFile.h"
#include "platform/Logging.h"
#include "platform/Permissoes.h"

using namespace norvix::backup;
using norvix::ProfileFile;

namespace {

const QString kSecao = QStringLiteral("BACKUP");
constexpr qint64 kMaxLista = qint64(64) << 20;
// Room kept on a medium for the manifest lines of what goes on it.
constexpr qint64 kFolgaPorArquivo = 256;
constexpr int kLeitores = 4;

QMessageBox::StandardButton pergunta(void* janela, const QString& texto, const QString& titulo,
                                     QMessageBox::Icon icone, QMessageBox::StandardButtons botoes) {
    qCInfo(norvix::lcOutside).noquote() << titulo + QStringLiteral(":") << texto;
    QMessageBox caixa(icone, titulo, texto, botoes, static_cast<QWidget*>(janela));
    return static_cast<QMessageBox::StandardButton>(caixa.exec());
}

void aviso(void* janela, const QString& texto, const QString& titulo = QStringLiteral("Backup"),
           QMessageBox::Icon icone = QMessageBox::Warning) {
    pergunta(janela, texto, titulo, icone, QMessageBox::Ok);
}

// At most 20 names in a message, then how many more.
QString listaNomes(const QStringList& nomes) {
    QStringList mostrados = nomes.mid(0, 20);
    if (nomes.size() > 20) mostrados << QStringLiteral("... e mais %1").arg(nomes.size() - 20);
    return mostrados.join(QLatin1Char('\n'));
}

// The progress of a long copy, shown over the calling window (none without one); the operator
// may stop it, which ends the copy as a full medium would.
class Progresso {
public:
    Progresso(void* janela, const QString& texto, qsizetype total) {
        if (!janela) return;
        dialogo_ = std::make_unique<QProgressDialog>(texto, QStringLiteral("Cancelar"), 0, int(total),
                                                     static_cast<QWidget*>(janela));
        dialogo_->setWindowTitle(QStringLiteral("Backup"));
        dialogo_->setWindowModality(Qt::WindowModal);
        dialogo_->setMinimumDuration(400);
        dialogo_->setValue(0);
    }
    // False when the operator asked to stop.
    bool avanca(qsizetype feito) {
        if (!dialogo_) return true;
        dialogo_->setValue(int(feito));
        return !dialogo_->wasCanceled();
    }
    void texto(const QString& t) {
        if (dialogo_) dialogo_->setLabelText(t);
    }

private:
    std::unique_ptr<QProgressDialog> dialogo_;
};

// The medium named by BackUp.ini, asking for it until it is there (and writable, for a
// backup); empty when the operator gives up.
QString esperaMidia(void* janela, const QString& ini, bool escrita = true) {
    const QChar letra = letraUnidade(ini);
    for (;;) {
        const QString montagem = pontoMontagem(ini, letra);
        if (midiaPresente(montagem, escrita)) return montagem;
        const QString onde =
            montagem.isEmpty()       ? QStringLiteral("A unidade %1: não tem pasta de montagem em %2 (seção UNIDADES).")
                                           .arg(letra).arg(ini)
            : midiaPresente(montagem, false) ? QStringLiteral("O disco de backup em %1 está protegido contra gravação.")
                                                   .arg(montagem)
                                             : QStringLiteral("O disco de backup não está disponível em %1.").arg(montagem);
        if (pergunta(janela, onde + QStringLiteral("\nInsira o disco no drive %1: e pressione OK.").arg(letra),
                     QStringLiteral("Backup"), QMessageBox::Warning, QMessageBox::Ok | QMessageBox::Cancel) !=
            QMessageBox::Ok)
            return {};
    }
}

// One record: its files (relative names) and the mark it gets once all of them are verified
// on a medium.
struct Registro {
    QStringList arquivos;
    QString pasta;   // source folder (exams or reports directory)
    QString prefixo; // folder on the medium: "Exames" or "Laudos"
    QString marca;
    qint64 tamanho = 0;
};

// Consecutive names of one record share everything but the last five characters ("a.txt").
QList<Registro> agrupa(const QStringList& nomes, const QString& pasta, const QString& prefixo) {
    QList<Registro> registros;
    QString chaveAnterior;
    for (QString nome : nomes) {
        nome.replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (nome.trimmed().isEmpty()) continue;
        const QString chave = nome.left(nome.size() - 5);
        if (registros.isEmpty() || chave != chaveAnterior) registros.append({{}, pasta, prefixo, {}, 0});
        chaveAnterior = chave;
        registros.last().arquivos << nome;
        registros.last().tamanho += QFileInfo(pasta + QLatin1Char('/') + nome).size();
    }
    return registros;
}

// A name from the host list must stay inside its folder.
bool nomeSeguro(const QString& nome) {
    return !nome.isEmpty() && !nome.startsWith(QLatin1Char('/')) &&
           !nome.split(QLatin1Char('/')).contains(QStringLiteral(".."));
}

class Copia {
public:
    Copia(void* janela, QString ini) : janela_(janela), ini_(std::move(ini)) {}

    // False when the operator stopped or the medium failed; what was verified keeps its mark.
    bool executa(QList<Registro*>& registros) {
        montagem_ = esperaMidia(janela_, ini_);
        if (montagem_.isEmpty()) return false;
        // The medium's top folder holds patients' names too: closed to other accounts like the
        // copies in it (a mounted medium without modes stays as it is).
        norvix::fechaParaOutrasContas(montagem_);
        disco_ = std::max(1, ProfileFile(ini_).readInteger(kSecao, QStringLiteral("DiscoAtual"), 1));
        conjunto_ = conjuntoAtual(ini_);
        // The disk in the drive must be the set's current one (or a new disk, which becomes it).
        for (QString problema; !(problema = preparaDiscoAtual(montagem_, conjunto_, disco_)).isEmpty();) {
            if (pergunta(janela_, problema, QStringLiteral("Backup"), QMessageBox::Warning,
                         QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
                return false;
            montagem_ = esperaMidia(janela_, ini_);
            if (montagem_.isEmpty()) return false;
        }
        inicioDisco_ = QDateTime::currentDateTime();
        vazioNoInicio_ = leManifesto(montagem_).isEmpty();
        progresso_ = std::make_unique<Progresso>(janela_, QStringLiteral("Copiando para o disco de backup..."), registros.size());
        qsizetype feitos = 0;
        for (Registro* r : registros) {
            if (!progresso_->avanca(feitos++)) {
                fechaDisco();
                return false;
            }
            bool seguro = true;
            for (const QString& nome : r->arquivos) seguro = seguro && nomeSeguro(nome);
            if (!seguro) {
                aviso(janela_, QStringLiteral("Nome de arquivo recusado na lista do backup: %1").arg(r->arquivos.join(QStringLiteral(", "))));
                fechaDisco();
                return false;
            }
            if (!copiaRegistro(*r)) {
                fechaDisco();
                return false;
            }
        }
        return fechaDisco();
    }

    int arquivosCopiados() const { return arquivos_; }

private:
    bool copiaRegistro(Registro& r) {
        const qint64 preciso = r.tamanho + kFolgaPorArquivo * r.arquivos.size();
        for (;;) {
            const qint64 livre = espacoLivre(montagem_);
            if (livre < 0) {
                aviso(janela_, QStringLiteral("Não foi possível ler o espaço livre do disco de backup em %1.").arg(montagem_));
                return false;
            }
            if (livre >= preciso) {
                int numero = 0;
                QString erro;
                QStringList feitos;
                bool ok = true;
                for (const QString& nome : r.arquivos) {
                    // The host lists all three names of an exam of which some file is
                    // missing: what exists is copied.
                    if (!QFileInfo::exists(r.pasta + QLatin1Char('/') + nome)) continue;
                    QByteArray soma;
                    const QString destino = montagem_ + QLatin1Char('/') + r.prefixo + QLatin1Char('/') + nome;
                    if (!copiaArquivo(r.pasta + QLatin1Char('/') + nome, destino, &soma, &erro, &numero)) {
                        ok = false;
                        break;
                    }
                    feitos << destino;
                    pendentes_.append({r.prefixo + QLatin1Char('/') + nome, soma});
                }
                if (ok) {
                    pendentesRegistros_.append(&r);
                    return true;
                }
                // Nothing of a record stays on a medium unless all of it does.
                for (const QString& f : feitos) QFile::remove(f);
                pendentes_.resize(pendentes_.size() - feitos.size());
                if (numero != ENOSPC) {
                    aviso(janela_, QStringLiteral("Erro ao copiar para o disco de backup:\n%1").arg(erro), QStringLiteral("Erro"),
                          QMessageBox::Critical);
                    return false;
                }
            } else if (pendentesRegistros_.isEmpty() && vazioNoInicio_) {
                aviso(janela_, QStringLiteral("Os arquivos de %1 não cabem em um disco vazio.").arg(r.arquivos.join(QStringLiteral(", "))),
                      QStringLiteral("Erro"), QMessageBox::Critical);
                return false;
            }
            if (!proximoDisco()) return false;
        }
    }

    // Flushes the medium, reads every pending file back and marks the records whose files all
    // match; then writes the manifest and the counters.
    bool fechaDisco() {
        if (pendentes_.isEmpty()) return true;
        if (progresso_) progresso_->texto(QStringLiteral("Conferindo as cópias no disco de backup..."));
        descarregaMidia(montagem_);
        // Read back from the medium itself (cached pages dropped); a few readers at once keep
        // the device busy, which is most of the read-back's time with small files.
        std::vector<QByteArray> lidas(pendentes_.size());
        std::atomic<qsizetype> proximo{0};
        auto leitor = [&] {
            for (qsizetype k; (k = proximo++) < pendentes_.size();)
                lidas[k] = somaArquivo(montagem_ + QLatin1Char('/') + pendentes_[k].first, true);
        };
        std::vector<std::thread> leitores;
        for (int n = 0; n < kLeitores; ++n) leitores.emplace_back(leitor);
        for (std::thread& l : leitores) l.join();
        QMap<QString, QByteArray> conferidos;
        QStringList diferentes;
        for (qsizetype k = 0; k < pendentes_.size(); ++k) {
            const auto& [nome, soma] = pendentes_[k];
            if (lidas[k] == soma)
                conferidos.insert(nome, soma);
            else
                diferentes << nome;
        }
        QString erro;
        const bool manifestoOk = gravaManifesto(montagem_, conferidos, &erro) && descarregaMidia(montagem_);
        int exames = 0, laudos = 0;
        if (manifestoOk) {
            for (Registro* r : pendentesRegistros_) {
                bool todos = true;
                for (const QString& nome : r->arquivos)
                    todos = todos && (conferidos.contains(r->prefixo + QLatin1Char('/') + nome) ||
                                      !QFileInfo::exists(r->pasta + QLatin1Char('/') + nome));
                if (!todos) continue;
                r->marca = rotuloDisco(disco_);
                (r->prefixo == QLatin1String("Exames") ? exames : laudos)++;
                for (const QString& nome : r->arquivos) arquivos_ += conferidos.contains(r->prefixo + QLatin1Char('/') + nome);
            }
        }
        pendentes_.clear();
        pendentesRegistros_.clear();
        if (progresso_) progresso_->texto(QStringLiteral("Copiando para o disco de backup..."));
        if (!diferentes.isEmpty())
            aviso(janela_, QStringLiteral("Estes arquivos não foram gravados corretamente no disco de backup e "
                                          "ficam sem backup:\n%1").arg(listaNomes(diferentes)),
                  QStringLiteral("Erro"), QMessageBox::Critical);
        if (!manifestoOk) {
            aviso(janela_, QStringLiteral("Erro ao gravar o manifesto do backup: %1").arg(erro), QStringLiteral("Erro"),
                  QMessageBox::Critical);
            return false;
        }
        contaNoIni(exames, laudos, conferidos.size());
        return diferentes.isEmpty();
    }

    void contaNoIni(int exames, int laudos, int arquivos) {
        const ProfileFile ini(ini_);
        auto soma = [&](const char* chave, int n) {
            return std::pair{QString::fromLatin1(chave),
                             QString::number(ini.readInteger(kSecao, QString::fromLatin1(chave), 0) + n)};
        };
        const QString agora = QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
        QString erro;
        if (!ini.writeStrings(kSecao,
                              {soma("NumArquivos", arquivos - laudos), soma("NumArquivosLau", laudos),
                               soma("NumExamDisco", exames), soma("NumLauDisco", laudos),
                               soma("ArquivosGeral", arquivos), soma("NumExamGeral", exames),
                               {QStringLiteral("UltDsk"), inicioDisco_.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"))},
                               {QStringLiteral("UltBkp"), agora}},
                              &erro))
            aviso(janela_, QStringLiteral("Os contadores do backup não foram gravados em %1: %2").arg(ini_, erro));
    }

    // The full disk says that the set goes on (continua > 0), or again that it is the last.
    void marcaCheio(int continua) {
        TDisco d = leDisco(montagem_);
        if (d.valido() && d.conjunto == conjunto_ && d.numero == disco_) {
            d.continua = continua;
            gravaDisco(montagem_, d, nullptr);
        }
    }

    bool proximoDisco() {
        if (!fechaDisco()) return false;
        const int proximo = std::min(disco_ + 1, 9999);
        marcaCheio(proximo);
        for (;;) {
            if (pergunta(janela_,
                         QStringLiteral("O disco de backup está cheio.\nInsira o disco número %1 no drive %2: e pressione OK.")
                             .arg(proximo).arg(letraUnidade(ini_)),
                         QStringLiteral("Backup"), QMessageBox::Question, QMessageBox::Ok | QMessageBox::Cancel) !=
                QMessageBox::Ok) {
                marcaCheio(0);  // still the last disk, when it is the one in the drive
                return false;
            }
            montagem_ = esperaMidia(janela_, ini_);
            if (montagem_.isEmpty()) return false;
            // An OK with the full disk still in the drive must not relabel it as the next one.
            if (const QString problema = problemaNoDiscoNovo(montagem_, conjunto_, disco_); !problema.isEmpty()) {
                aviso(janela_, problema);
                continue;
            }
            QString erro;
            if (!gravaRotulo(montagem_, proximo, &erro) || !gravaDisco(montagem_, {conjunto_, proximo, 0, {}}, &erro)) {
                aviso(janela_, QStringLiteral("Erro ao preparar o novo disco: %1").arg(erro), QStringLiteral("Erro"),
                      QMessageBox::Critical);
                continue;
            }
            break;
        }
        disco_ = proximo;
        inicioDisco_ = QDateTime::currentDateTime();
        vazioNoInicio_ = espacoLivre(montagem_) >= 0 && leManifesto(montagem_).isEmpty();
        QString erro;
        if (!ProfileFile(ini_).writeStrings(kSecao,
                                            {{QStringLiteral("DiscoAtual"), QString::number(disco_)},
                                             {QStringLiteral("ArquivoAtual"), QStringLiteral("1")},
                                             {QStringLiteral("NumArquivos"), QStringLiteral("0")},
                                             {QStringLiteral("NumArquivosLau"), QStringLiteral("0")},
                                             {QStringLiteral("NumExamDisco"), QStringLiteral("0")},
                                             {QStringLiteral("NumLauDisco"), QStringLiteral("0")}},
                                            &erro)) {
            aviso(janela_, QStringLiteral("Erro ao gravar %1: %2").arg(ini_, erro), QStringLiteral("Erro"), QMessageBox::Critical);
            return false;
        }
        return true;
    }

    void* janela_;
    QString ini_;
    QString montagem_;
    QString conjunto_;
    int disco_ = 0;
    int arquivos_ = 0;
    bool vazioNoInicio_ = false;
    QDateTime inicioDisco_;
    QList<std::pair<QString, QByteArray>> pendentes_;
    QList<Registro*> pendentesRegistros_;
    std::unique_ptr<Progresso> progresso_;
};

bool escreveMarcas(ModuleStream* resultado, const QList<Registro>& registros) {
    QStringList marcas;
    for (const Registro& r : registros) marcas << r.marca;
    return registros.isEmpty() || norvix::outside::writeToStream(resultado, norvix::outside::crlfLines(marcas));
}

}  // namespace

NORVIX_MODULE_EXPORT int32_t InfoBackup(void* /*hostWindow*/, ModuleStream* out, int32_t /*version*/) {
    const QString ini = arquivoBackupIni();
    const ProfileFile arquivo(ini);
    const QChar letra = letraUnidade(ini);
    const QString montagem = pontoMontagem(ini, letra);
    auto texto = [&](const char* chave, const QString& padrao) {
        return arquivo.readString(kSecao, QString::fromLatin1(chave), padrao);
    };
    const qint64 livre = midiaPresente(montagem) ? espacoLivre(montagem) : -1;
    // The sixth line carries the date of the last backup at characters 26 to 35.
    const QStringList linhas = {
        QStringLiteral("Módulo de backup em pasta montada"),
        QStringLiteral("Tipo de mídia: %1").arg(texto("TipoBkp", QStringLiteral("ZIP"))),
        QStringLiteral("Disco atual: %1").arg(rotuloDisco(arquivo.readInteger(kSecao, QStringLiteral("DiscoAtual"), 0))),
        QStringLiteral("Exames no disco atual: %1").arg(texto("NumExamDisco", QStringLiteral("0"))),
        QStringLiteral("Laudos no disco atual: %1").arg(texto("NumLauDisco", QStringLiteral("0"))),
        QStringLiteral("Data do último backup:").leftJustified(25) + texto("UltBkp", QStringLiteral("01/01/2007 00:00:00")),
        QStringLiteral("Exames copiados ao todo: %1").arg(texto("NumExamGeral", QStringLiteral("0"))),
        montagem.isEmpty() ? QStringLiteral("Pasta da unidade %1: não definida em BackUp.ini").arg(letra)
        : livre < 0        ? QStringLiteral("Pasta da unidade %1: %2 (disco ausente)").arg(letra).arg(montagem)
                           : QStringLiteral("Pasta da unidade %1: %2 (%3 MB livres)").arg(letra).arg(montagem).arg(livre >> 20),
    };
    norvix::outside::writeToStream(out, norvix::outside::crlfLines(linhas));
    return letra.unicode();
}

NORVIX_MODULE_EXPORT int32_t CriarBackup(void* hostWindow, ModuleStream* examList, ModuleStream* examResult,
                                         ModuleStream* reportList, ModuleStream* reportResult, int32_t /*version*/,
                                         const char* examsDir, const char* reportsDir) {
    QList<Registro> exames = agrupa(norvix::outside::readStreamLines(examList, kMaxLista),
                                    norvix::fromCp1252(examsDir), QStringLiteral("Exames"));
    QList<Registro> laudos = agrupa(norvix::outside::readStreamLines(reportList, kMaxLista),
                                    norvix::fromCp1252(reportsDir), QStringLiteral("Laudos"));
    QList<Registro*> todos;
    for (Registro& r : exames) todos << &r;
    for (Registro& r : laudos) todos << &r;
    if (todos.isEmpty()) return 0;

    Copia copia(hostWindow, arquivoBackupIni());
    copia.executa(todos);
    if (copia.arquivosCopiados() == 0) return -1;
    if (!escreveMarcas(examResult, exames) || !escreveMarcas(reportResult, laudos)) {
        norvix::outside::reportFailure("Backup", QStringLiteral("o programa não recebeu as marcas do backup"));
        return -1;
    }
    return copia.arquivosCopiados();
}

namespace {

// Copies back the files a disk's manifest names (exams and reports; the database is the
// program's part) into the folders the host gives, each compared with its sum as it is copied. False when the operator stopped
// or the disk's manifest cannot be read.
bool restauraDisco(void* janela, const QString& montagem, const QString (&pastas)[2], int* restaurados,
                   QStringList* diferentes) {
    QMap<QString, QByteArray> manifesto;
    QString erroManifesto;
    if (!leManifesto(montagem, &manifesto, &erroManifesto)) {
        aviso(janela, QStringLiteral("O disco de backup não pode ser lido: %1. Nada foi restaurado deste disco.").arg(erroManifesto),
              QStringLiteral("Erro"), QMessageBox::Critical);
        return false;
    }
    Progresso progresso(janela, QStringLiteral("Restaurando do disco de backup..."), manifesto.size());
    qsizetype feitos = 0;
    for (auto it = manifesto.cbegin(); it != manifesto.cend(); ++it) {
        if (!progresso.avanca(feitos++)) return false;
        const QString& nome = it.key();
        const int alvo = nome.startsWith(QLatin1String("Exames/")) ? 0 : nome.startsWith(QLatin1String("Laudos/")) ? 1 : -1;
        if (alvo < 0) continue;
        const QString relativo = nome.mid(7);
        if (!nomeSeguro(relativo)) continue;
        // Summed while copied: what reaches the folder is exactly what was compared.
        const QString destino = pastas[alvo] + QLatin1Char('/') + relativo;
        const QString temporario = destino + QStringLiteral(".restaura");
        QByteArray soma;
        QString erro;
        if (!copiaArquivo(montagem + QLatin1Char('/') + nome, temporario, &soma, &erro) || soma != it.value() ||
            std::rename(QFile::encodeName(temporario).constData(), QFile::encodeName(destino).constData()) != 0) {
            QFile::remove(temporario);
            *diferentes << nome;
            continue;
        }
        ++*restaurados;
    }
    return true;
}

// Asks for a disk until the one in the drive is what `aceita` wants (empty answer) or the
// operator gives up (empty path).
QString pedeDisco(void* janela, const QString& ini, const QString& pedido,
                  const std::function<QString(const QString& montagem, const TDisco&)>& aceita) {
    for (;;) {
        if (pergunta(janela, pedido, QStringLiteral("Backup"), QMessageBox::Question,
                     QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
            return {};
        const QString montagem = esperaMidia(janela, ini, false);
        if (montagem.isEmpty()) return {};
        const QString problema = aceita(montagem, leDisco(montagem));
        if (problema.isEmpty()) return montagem;
        aviso(janela, problema);
    }
}

}  // namespace

NORVIX_MODULE_EXPORT int32_t RestaurarBackup(void* hostWindow, const char* examsDir, const char* reportsDir) {
    const QString ini = arquivoBackupIni();
    const QString pastas[2] = {norvix::fromCp1252(examsDir), norvix::fromCp1252(reportsDir)};
    const QChar letra = letraUnidade(ini);
    const ProfileFile local(ini);
    const QString conjuntoLocal = local.readString(kSecao, QStringLiteral("Conjunto"), {}).trimmed();
    const int discoLocal = local.readInteger(kSecao, QStringLiteral("DiscoAtual"), 0);
    int restaurados = 0;
    QStringList diferentes;

    // The last disk first: it holds the newest database copy and knows how many disks the set
    // has. A disk the set goes on from, or an older disk of the set this installation knows,
    // is refused.
    TDisco ultimo;
    const QString montagem = pedeDisco(
        hostWindow, ini,
        QStringLiteral("Insira o ÚLTIMO disco do backup (o de número mais alto) no drive %1: e pressione OK.").arg(letra),
        [&](const QString& m, const TDisco& d) -> QString {
            QMap<QString, QByteArray> manifesto;
            QString erro;
            if (!leManifesto(m, &manifesto, &erro)) return QStringLiteral("O disco em %1 não pode ser lido: %2.").arg(m, erro);
            if (manifesto.isEmpty())
                return QStringLiteral("O disco em %1 não contém um backup (falta o arquivo %2).").arg(m, QLatin1String(kManifesto));
            if (d.valido() && d.continua != 0)
                return QStringLiteral("Este disco (%1) não é o último do backup: o backup continua no disco %2.")
                    .arg(rotuloDisco(d.numero))
                    .arg(d.continua);
            if (d.valido() && d.conjunto == conjuntoLocal && d.numero < discoLocal)
                return QStringLiteral("Este é o disco %1; o último disco deste backup é o %2.").arg(d.numero).arg(discoLocal);
            ultimo = d;
            return {};
        });
    if (montagem.isEmpty()) return -1;
    if (!restauraDisco(hostWindow, montagem, pastas, &restaurados, &diferentes)) return -1;

    // Then every other disk of the set, by number; a disk of another set is refused.
    const int discos = ultimo.valido() ? ultimo.numero : 1;
    for (int k = 1; k < discos; ++k) {
        const QString outro = pedeDisco(hostWindow, ini,
                                        QStringLiteral("Insira o disco %1 de %2 do backup no drive %3: e pressione OK.")
                                            .arg(k)
                                            .arg(discos)
                                            .arg(letra),
                                        [&](const QString&, const TDisco& d) -> QString {
                                            if (d.conjunto != ultimo.conjunto)
                                                return QStringLiteral("Este disco pertence a outro backup.");
                                            if (d.numero != k)
                                                return QStringLiteral("Este é o disco %1; insira o disco %2.").arg(d.numero).arg(k);
                                            return {};
                                        });
        if (outro.isEmpty() || !restauraDisco(hostWindow, outro, pastas, &restaurados, &diferentes)) return -1;
    }
    // The host restores nothing unless every file came back whole (it gives staging folders, and
    // lets them go on -1).
    if (!diferentes.isEmpty()) {
        aviso(hostWindow, QStringLiteral("Estes arquivos do backup diferem do manifesto (ou não puderam ser lidos); a "
                                         "restauração foi interrompida e nada foi restaurado:\n%1").arg(listaNomes(diferentes)),
              QStringLiteral("Erro"), QMessageBox::Critical);
        return -1;
    }
    // The database is taken from the last disk: it goes back into the drive.
    if (discos > 1 &&
        pedeDisco(hostWindow, ini,
                  QStringLiteral("Insira de novo o último disco do backup (o disco %1) para restaurar o banco de dados.")
                      .arg(discos),
                  [&](const QString&, const TDisco& d) -> QString {
                      return d.conjunto == ultimo.conjunto && d.numero == discos
                                 ? QString()
                                 : QStringLiteral("Este não é o disco %1 deste backup.").arg(discos);
                  })
            .isEmpty())
        return -1;
    return restaurados;
}

static_assert(std::is_same_v<decltype(&InfoBackup), TInfoBackup>);
static_assert(std::is_same_v<decltype(&CriarBackup), TCriarBackup>);
static_assert(std::is_same_v<decltype(&RestaurarBackup), TRestaurarBackup>);
