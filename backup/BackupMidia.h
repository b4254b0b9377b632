#pragma once
// The backup medium as both the backup window and the reference backup module see it: the
// bookkeeping file BackUp.ini, the drive letter that names a mount point, the medium's label,
// its free space and the manifest of SHA-256 sums that lets a restore tell a damaged copy.
// Compiled into the program and into the module alike (they share no library at run time).
#include <QByteArray>
#include <QMap>
#include <QString>

namespace norvix::backup {

// Folder of BackUp.ini and of the two backup logs: $NORVIX_BACKUP_DIR when set (tests, and a
// clinic that keeps them apart from the program), else the program's directory. Ends in '/'.
QString pastaPrograma();
QString arquivoBackupIni();  // pastaPrograma() + "BackUp.ini"

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
// Adds or replaces entries and rewrites the manifest atomically (temporary file, flush,
// rename). False with the reason.
bool gravaManifesto(const QString& montagem, const QMap<QString, QByteArray>& entradas, QString* erro);

// SHA-256 of a file as lower-case hex; empty when it cannot be read. With descartaCache the
// file's cached pages are dropped first, so that the bytes come from the medium itself.
QByteArray somaArquivo(const QString& caminho, bool descartaCache = false);

// Copies a file to a temporary name beside the destination and renames it into place, making
// the missing folders; the SHA-256 of the bytes read goes to soma. On failure the temporary
// file is removed, erro gets the reason and errnoFalha the error number (ENOSPC: medium full).
bool copiaArquivo(const QString& origem, const QString& destino, QByteArray* soma, QString* erro,
                  int* errnoFalha = nullptr);

// Flushes everything written to the file system that holds the path (syncfs).
bool descarregaMidia(const QString& montagem);

}  // namespace norvix::backup
