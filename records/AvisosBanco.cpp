#include "records/AvisosBanco.h"

#include <QMetaObject>
#include <QPointer>
#include <atomic>
#include <cstdio>
#include <mutex>

#include "records/FbInternal.h"

using namespace Firebird;

namespace norvix {

using namespace fb;

const char* const TAvisosBanco::kExames = "NORVIX_EXAMES";
const char* const TAvisosBanco::kPacientes = "NORVIX_PACIENTES";

namespace {

const char* const kNomes[] = {TAvisosBanco::kExames, TAvisosBanco::kPacientes};

// The event parameter block: version 1, then per name its length, the name and its count so
// far (4 bytes, least significant first). The server answers with the same layout.
QByteArray blocoInicial() {
    QByteArray b(1, char(1));
    for (const char* nome : kNomes) {
        b.append(char(qstrlen(nome)));
        b.append(nome);
        b.append(4, char(0));
    }
    return b;
}

// The count of the i-th name in a block; 0 when the block is too short.
quint32 contagem(const QByteArray& bloco, int i) {
    qsizetype p = 1;
    for (int k = 0; k < i; ++k) p += 1 + qstrlen(kNomes[k]) + 4;
    p += 1 + qsizetype(qstrlen(kNomes[i]));
    if (p + 4 > bloco.size()) return 0;
    return quint32(readInteger(reinterpret_cast<const unsigned char*>(bloco.constData() + p), 4));
}

QString gatilho(const char* nome, const char* tabela, const char* evento) {
    // Kept equal to data/schema.sql.
    return QStringLiteral("CREATE TRIGGER %1 FOR %2 ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 0 "
                          "AS BEGIN POST_EVENT '%3'; END")
        .arg(QLatin1String(nome), QLatin1String(tabela), QLatin1String(evento));
}

QString existeGatilho(const char* nome) {
    return QStringLiteral("SELECT COUNT(*) AS N FROM RDB$TRIGGERS WHERE RDB$TRIGGER_NAME = '%1'")
        .arg(QLatin1String(nome));
}

}  // namespace

// The listener as the client library's thread may reach it: cleared (under the lock) before
// the listener goes, so a late delivery finds nobody instead of a freed object.
struct TAvisosBanco::Dono {
    std::mutex lock;
    TAvisosBanco* avisos = nullptr;
};

// The client library calls this on a thread of its own; the delivery is handed to the
// user-interface thread with a queued call, where the listener compares and signals.
class TAvisosBanco::Retorno : public IEventCallbackImpl<Retorno, ThrowStatusWrapper> {
public:
    Retorno(std::shared_ptr<Dono> dono, quint64 geracao) : dono_(std::move(dono)), geracao_(geracao) {}
    void addRef() override { ++refs_; }
    int release() override {
        const int r = --refs_;
        if (r == 0) delete this;
        return r;
    }
    void eventCallbackFunction(unsigned length, const unsigned char* events) override {
        if (length == 0 || !events) return;  // cancelled: nothing was posted
        const QByteArray bloco(reinterpret_cast<const char*>(events), qsizetype(length));
        const std::lock_guard<std::mutex> guard(dono_->lock);
        TAvisosBanco* avisos = dono_->avisos;
        if (!avisos) return;
        const quint64 geracao = geracao_;
        QMetaObject::invokeMethod(
            avisos, [avisos, geracao, bloco] { avisos->chegou(geracao, bloco); }, Qt::QueuedConnection);
    }

private:
    std::shared_ptr<Dono> dono_;
    quint64 geracao_;
    std::atomic<int> refs_{1};
};

TAvisosBanco::TAvisosBanco() : dono_(std::make_shared<Dono>()) { dono_->avisos = this; }

TAvisosBanco::~TAvisosBanco() {
    {
        const std::lock_guard<std::mutex> guard(dono_->lock);
        dono_->avisos = nullptr;
    }
    escuta(nullptr);
}

void TAvisosBanco::escuta(FbDatabase* database) {
    if (database_ == database) return;
    if (database_) database_->removeWatcher(this);
    solta();
    database_ = database;
    if (database_) database_->addWatcher(this);
}

void TAvisosBanco::attached(FbDatabase&) {
    solta();
    contagens_ = blocoInicial();
    enfileira(contagens_);
}

void TAvisosBanco::detaching(FbDatabase&) { solta(); }

void TAvisosBanco::solta() {
    ++geracao_;
    if (eventos_) {
        // On a dead attachment the cancel fails; the interest dies with the attachment.
        quietly([&](ThrowStatusWrapper* st) { eventos_->cancel(st); });
        eventos_->release();
        eventos_ = nullptr;
    }
    for (Retorno** r : {&retorno_, &gasto_}) {
        if (*r) (*r)->release();
        *r = nullptr;
    }
}

void TAvisosBanco::enfileira(const QByteArray& bloco) {
    IAttachment* attachment = database_ ? database_->attachment() : nullptr;
    if (!attachment) return;
    auto* retorno = new Retorno(dono_, ++geracao_);
    try {
        eventos_ = guarded([&](ThrowStatusWrapper* st) {
            return attachment->queEvents(st, retorno, unsigned(bloco.size()),
                                         reinterpret_cast<const unsigned char*>(bloco.constData()));
        });
        retorno_ = retorno;
    } catch (const DatabaseError& e) {
        // The lists are then refreshed only when the operator reloads them; the work goes on.
        retorno->release();
        std::fprintf(stderr, "Avisos do banco de dados indisponíveis: %s\n", e.message().toLocal8Bit().constData());
    }
}

void TAvisosBanco::chegou(quint64 geracao, const QByteArray& bloco) {
    if (geracao != geracao_ || !eventos_) return;  // from an interest already given up
    // The interest fired once and is spent: let it go and queue the next with these counts.
    eventos_->release();
    eventos_ = nullptr;
    // The client library's thread may still be returning from this callback: it is let go one
    // delivery later.
    if (gasto_) gasto_->release();
    gasto_ = std::exchange(retorno_, nullptr);
    const bool exames = contagem(bloco, 0) != contagem(contagens_, 0);
    const bool pacientes = contagem(bloco, 1) != contagem(contagens_, 1);
    // The first delivery may only bring counts that earlier sessions left: one refresh too
    // many at connection is harmless, a change missed is not.
    contagens_ = bloco;
    enfileira(contagens_);
    // A slot may reload lists and even reconnect: the signals come after the next interest is
    // queued, and this object may be left behind by none of it.
    const QPointer<TAvisosBanco> vivo(this);
    if (exames) emit examesAlterados();
    if (vivo && pacientes) emit pacientesAlterados();
}

QList<TObjetoEsquema> TAvisosBanco::objetos() {
    return {{existeGatilho("EXAMES_AVISA"), gatilho("EXAMES_AVISA", "EXAMES", kExames)},
            {existeGatilho("PACIENTES_AVISA"), gatilho("PACIENTES_AVISA", "PACIENTES", kPacientes)}};
}

QString AvisoGatilhosAvisos() { return AvisoEsquema(QStringLiteral("AVISOS")); }

}  // namespace norvix
