#pragma once
// The backup medium as both the backup window and the reference backup module see it: the
// bookkeeping file BackUp.ini, the drive letter that names a mount point, the medium's label,
// its free space and the manifest of SHA-256 sums that lets a restore tell a damaged copy.
// Compiled into the program and into the module alike (they share no library at run time).
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

namespace norvix::backup {

// Folder of BackUp.ini and of the two backup logs: the installation's own folder, never the
// program's (one program may serve several installations, and each backs up to its own
// medium). $NORVIX_BACKUP_DIR when set (the program sets it to its DIRQV at start-up, so that
// the backup module it loads finds the same file), else installRoot() + "/OrventDuo". Ends in
// '/'.
QString pastaInstalacao();
QString arquivoBackupIni();  // pastaInstalacao() + "BackUp.ini"

// A new identity for a backup set (the disks of one series, from the first backup after
// "Zerar Backup" on): kept as Conjunto in BackUp.ini and written on every disk of the set.
QString novoConjunto();
// The set BackUp.ini names, made and written there when it names none; empty when it cannot be
// written.
QString conjuntoAtual(const QString& backupIni, QString* erro = nullptr);

// What a disk says of itself, in "conjunto.ini" at its root: the set it belongs to and its
// number; `continua` the number of the disk that follows it (0: it is the set's last disk, the
// one the newest database copy went to); `banco` when that copy was made ("" when none).
struct TDisco {
    QString conjunto;
    int numero = 0;
    int continua = 0;
    QString banco;
    bool valido() const { return !conjunto.isEmpty() && numero > 0; }
};
constexpr const char* kArquivoDisco = "conjunto.ini";
TDisco leDisco(const QString& montagem);
bool gravaDisco(const QString& montagem, const TDisco& disco, QString* erro);
// Whether the disk in the drive may take the copies of disk `numero` of set `conjunto`: one
// that says nothing of itself (new, or written before disks named their set) is made so; one
// of another set or with another number is refused. Empty when it may, else the reason.
QString preparaDiscoAtual(const QString& montagem, const QString& conjunto, int numero);
// Why the disk in the drive cannot become disk `numero` of the set when the one before it is
// full: the same disk still in the drive, or a disk that already holds a backup. Empty when it
// can.
QString problemaNoDiscoNovo(const QString& montagem, const QString& conjunto, int anterior);

// The drive letter of the medium (key Drive of section BACKUP, "E" when missing or not a
// letter) and the mount point section UNIDADES gives for it (empty when none is listed).
QChar letraUnidade(const QString& backupIni);
QString pontoMontagem(const QString& backupIni, QChar letra);

// "Pelk" + the disk number in four digits, the number held between 0 and 9999.
QString rotuloDisco(int numero);

// Whether the medium is there: the mount point is a folder we can read (and, with escrita,
// write into).
bool midiaPresente(const QString& montagem, bool escrita = true);

// Free bytes on the medium by statvfs; -1 when it cannot be read. Tests give the medium a
// capacity in bytes through $NORVIX_BACKUP_CAPACIDADE: the free space is then that capacity
// minus what the folder already holds, so spanning is tested without a small file system.
qint64 espacoLivre(const QString& montagem);

// Writes the label of a new medium: through fatlabel when the medium is a FAT file system,
// otherwise as "zip.dat" in its root ("Pelk0003", no line break). False with the reason.
bool gravaRotulo(const QString& montagem, int numero, QString* erro);
// The label the medium carries in zip.dat, or empty.
QString leRotulo(const QString& montagem);

// The manifest in the medium's root, in the format of sha256sum ("<hex>  <path>" per line,
// paths relative to the root with '/'), so that it can also be checked by hand.
constexpr const char* kManifesto = "manifesto.sha256";
QMap<QString, QByteArray> leManifesto(const QString& montagem);  // path -> lower-case hex
// The same, telling a manifest that is absent (true, no entries) from one that exists but cannot
// be read (false with the reason): a medium that fails to read must not pass for an empty one.
bool leManifesto(const QString& montagem, QMap<QString, QByteArray>* entradas, QString* erro);
// Adds or replaces entries and rewrites the manifest atomically (temporary file, flush,
// rename). False with the reason, and nothing written when the present manifest cannot be read.
bool gravaManifesto(const QString& montagem, const QMap<QString, QByteArray>& entradas, QString* erro);

// SHA-256 of a file as lower-case hex; empty when it cannot be read. With descartaCache the
// file's cached pages are dropped first, so that the bytes come from the medium itself.
QByteArray somaArquivo(const QString& caminho, bool descartaCache = false);

// Copies a file to a temporary name beside the destination and renames it into place, making
// the missing folders; the SHA-256 of the bytes read goes to soma. On failure the temporary
// file is removed, erro gets the reason and errnoFalha the error number (ENOSPC: medium full).
// With conferida the copy is flushed and read back from the medium (its cached pages dropped)
// and must give the source's sum before it takes the destination's name: a copy damaged on its
// way never replaces a good one. Files are created with the process's permission mask.
bool copiaArquivo(const QString& origem, const QString& destino, QByteArray* soma, QString* erro,
                  int* errnoFalha = nullptr, bool conferida = false);

// Files that must change together on a medium (the database copy, BackUp.ini): each is copied
// and verified beside its final name (name + ".novo"); then the manifest takes their sums;
// then each takes its final name (the former copy kept as name + ".anterior" until the end).
// A crash at any point leaves, for every entry of the manifest, one of name, name.novo or
// name.anterior that matches it (arquivoConferido finds it). arquivos: local source ->
// manifest path. False with the reason; the medium's former copies are then untouched.
bool publicaNoMeio(const QString& montagem, const QList<std::pair<QString, QString>>& arquivos, QString* erro);
// The copy of a manifest entry whose sum matches it: the path itself, else its ".novo" or its
// ".anterior" variant (a backup interrupted while publishing); empty when none does.
QString arquivoConferido(const QString& montagem, const QString& caminhoNoManifesto, const QByteArray& soma);

// Flushes everything written to the file system that holds the path (syncfs).
bool descarregaMidia(const QString& montagem);

}  // namespace norvix::backup
