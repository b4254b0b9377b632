#pragma once
// The database folder copied to the backup medium while the program holds the database open.
// A file copy of a database in use can tear (pages written during the copy), so the database
// file is copied under the engine's backup lock: ALTER DATABASE BEGIN BACKUP freezes the main
// file (changes go to a delta file meanwhile), END BACKUP merges them back. The copy still
// carries the lock's mark and is cleared with nbackup -F, after which it opens on its own.
#include <QByteArray>
#include <QMap>
#include <QString>

namespace norvix {

class TDMPrincipal;

// Copies every file of pastaBanco (hidden ones too, the engine's delta file excepted) into
// destino, each through a temporary name; the open database file under the lock. somas gets
// the SHA-256 of every copy, read back from the medium after a flush, keyed by file name.
// False with the reason in erro; the lock is always released.
bool copiaPastaBanco(TDMPrincipal& dm, const QString& pastaBanco, const QString& destino,
                     QMap<QString, QByteArray>* somas, QString* erro);

// Bytes the copy needs: every file of the folder, hidden ones included.
qint64 tamanhoPasta(const QString& pasta);

}  // namespace norvix
