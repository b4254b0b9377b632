#pragma once
// The database as the backup takes it and the restore gives it back.
//
// Backup: a local database (the embedded engine's file) is copied under the engine's backup
// lock (ALTER DATABASE BEGIN BACKUP freezes the main file, END BACKUP merges the changes made
// meanwhile) into a folder of this computer, and the copy's lock mark is cleared there with
// nbackup -F, so that a failing nbackup never touches the medium. A database on a server is
// taken by the server's own backup (gbak): a file copy of it cannot be made from a workstation.
// Either way the result lies in a local folder, ready to be published on the medium.
//
// Restore: the files restored take the place of the current ones as one transaction that
// survives a crash (TTrocaArquivos); the database restored must pass the engine's validation
// and open with every table readable before the old files are let go.
#include <QList>
#include <QString>
#include <QStringList>
#include <utility>

namespace norvix {

class TDMPrincipal;

// A database on a server ("host:/path", "host/port:/path") rather than a file of this computer.
bool bancoNoServidor(const QString& nomeBanco);

// The database of the data module copied into pastaLocal (made when missing): for a local one
// every file of pastaBanco (the engine's delta file excepted), for one on a server
// "DATABASE.fbk" made by gbak. arquivos gets each local file with its path on the medium
// ("Banco de Dados/<name>"). False with the reason; the backup lock is always released.
bool preparaCopiaBanco(TDMPrincipal& dm, const QString& pastaBanco, const QString& pastaLocal,
                       QList<std::pair<QString, QString>>* arquivos, QString* erro);

// Bytes the copy of a local folder needs: every file, hidden ones included.
qint64 tamanhoPasta(const QString& pasta);

// Runs one of the engine's tools (gbak, gfix, nbackup, isql-fb) with the data module's login in
// its environment (never on its command line); its output in saida. False when it could not
// run or ended with an error.
bool executaFerramenta(const TDMPrincipal& dm, const QString& programa, const QStringList& argumentos,
                       QString* saida, int msLimite = 30 * 60 * 1000);

// The engine's validation of the data module's database (gfix -v -full, with paginas) and a
// read of every table; the data module attached to it afterwards. False with the reason (the
// data module then detached).
bool validaBanco(TDMPrincipal& dm, QString* erro, bool paginas = true);

// Files replaced as one transaction. For each destination a staged copy is ready (origens, in
// the same order; destination + ".restaura" when not given) on the destination's file system.
// troca() records the destinations in a journal (with the folders it has to make), keeps each
// current file as destination + ".anterior" and puts the staged one in its place; confirma()
// ends the transaction (the journal marked done first, then the kept files removed, then the
// journal), desfaz() puts the kept files back and removes what was new. After a crash,
// recupera() called at start-up undoes a transaction whose journal remains, or finishes one
// whose journal was marked done.
class TTrocaArquivos {
public:
    explicit TTrocaArquivos(QString diario) : diario_(std::move(diario)) {}
    // False with the reason; what was changed is then undone (erro says so when that failed too).
    bool troca(const QStringList& destinos, QString* erro, const QStringList& origens = {});
    void confirma();
    bool desfaz(QString* erro);
    // Whether the journal named a transaction that had to be undone or finished; relato tells
    // what was done.
    static bool recupera(const QString& diario, QString* relato);

private:
    bool gravaDiario(bool confirmada, QString* erro) const;
    QString diario_;
    QStringList destinos_;
    QList<bool> existiam_;  // whether each destination existed before the transaction
    QStringList pastas_;    // folders the transaction made, parents first
};

// The journal of a restore of the installation's database (in its database folder).
QString diarioRestauracao(const QString& pastaBanco);

// The journal of a restore when the database is on a server (in the installation's folder).
QString diarioRestauracaoServidor();

// Where the backup module puts the files it restores, inside the exams (reports) folder: a
// hidden folder of that prefix, so that every file reaches its place by a rename and none is
// replaced before the whole restore is ready.
constexpr const char* kPreparoRestauracao = ".restauracao-";

// What start-up does before the database opens, after a backup or restore was interrupted (a
// crash, a power cut): the restore's transaction undone (or finished, when it had been
// confirmed), the staging folders of the database copies and, in pastasDados (the exams and
// reports folders), of the restored files removed. Returns what the operator should be told,
// or empty.
QString recuperaInstalacao(const QString& pastaBanco, const QStringList& pastasDados = {});

// Restores a server's database from a backup file made by gbak: into a new database beside it
// first, which must validate; then, with a backup of the current database kept in
// pastaSeguranca (a lasting folder: the copy stays there while it is the only way back), over
// the current one; the data module attached again at the end. False with the reason, which
// says truthfully what became of the server's database: untouched, put back from the kept
// copy, or lost with the kept copy's path (copiaGuardada then names it; the file is kept).
bool restauraBancoServidor(TDMPrincipal& dm, const QString& arquivoFbk, const QString& pastaSeguranca, QString* erro,
                           QString* copiaGuardada = nullptr);

}  // namespace norvix
