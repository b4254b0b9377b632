#pragma once
// What the database says was stored, changed or deleted, by this workstation or another one on
// the same server: triggers on EXAMES and PACIENTES post an event at each commit that touched
// them, and this listener turns the events into Qt signals on the user-interface thread, so
// that an open window shows the new exams and counters without being reopened. The records
// level announces; the windows listen.
//
// With the embedded engine only this process's own writes are seen (no other station shares
// the file); with a server every station's writes are.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

#include "records/Esquema.h"
#include "records/FbDatabase.h"

namespace Firebird {
class IEvents;
}

namespace norvix {

class TAvisosBanco : public QObject, public FbAttachmentWatcher {
    Q_OBJECT
public:
    // The event names the triggers post.
    static const char* const kExames;     // an EXAMES row inserted, changed or deleted
    static const char* const kPacientes;  // a PACIENTES row (its counters included)

    TAvisosBanco();
    ~TAvisosBanco() override;

    // Listens on the attachments of `database` from now on (nullptr: stops listening).
    void escuta(FbDatabase* database);
    // Whether events are queued on the attachment now.
    bool ativo() const { return eventos_ != nullptr; }

    // The triggers that post the events, for GaranteObjetos (databases made before them get
    // them at connection).
    static QList<TObjetoEsquema> objetos();

signals:
    void examesAlterados();
    void pacientesAlterados();

private:
    struct Dono;
    class Retorno;
    void attached(FbDatabase& database) override;
    void detaching(FbDatabase& database) override;
    void enfileira(const QByteArray& bloco);
    void chegou(quint64 geracao, const QByteArray& bloco);
    void solta();

    FbDatabase* database_ = nullptr;
    std::shared_ptr<Dono> dono_;
    Firebird::IEvents* eventos_ = nullptr;
    Retorno* retorno_ = nullptr;  // the callback of the interest queued now
    Retorno* gasto_ = nullptr;    // the one that fired last
    quint64 geracao_ = 0;    // which queueing a delivery answers; older ones are ignored
    QByteArray contagens_;   // the block as last delivered (event counts so far)
};

// What the last connection said of the triggers: empty when they are there. Without them the
// lists are refreshed only when the operator reloads them.
QString AvisoGatilhosAvisos();

}  // namespace norvix
