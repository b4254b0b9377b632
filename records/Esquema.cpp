#include "records/Esquema.h"

#include "FbCursor.h"
#include "FbDatabase.h"
#include "FbValue.h"

#include <QHash>

namespace norvix {

namespace {

bool existe(FbDatabase& db, const QString& sql) {
    FbTransaction t(db);
    FbQuery q(t, QStringLiteral("esquema"), sql);
    q.open();
    const bool sim = q.asInt(QStringLiteral("N")) > 0;
    q.close();
    t.commit();
    return sim;
}

void executaDdl(FbDatabase& db, const QString& sql) {
    FbTransaction t(db);
    try {
        FbQuery q(t, QStringLiteral("esquema"), sql);
        q.execSql();
        q.close();
        t.commit();
    } catch (...) {
        try {
            t.rollback();
        } catch (const DatabaseError&) {
        }
        throw;
    }
}

}  // namespace

void GaranteObjetos(FbDatabase& db, const QList<TObjetoEsquema>& objetos) {
    for (const TObjetoEsquema& o : objetos) {
        if (existe(db, o.existe)) continue;
        try {
            executaDdl(db, o.ddl);
        } catch (const DatabaseError&) {
            if (!existe(db, o.existe)) throw;
        }
    }
}

QString GaranteObjetos(FbDatabase& db, const QList<TObjetoEsquema>& objetos, const QString& falha) {
    try {
        GaranteObjetos(db, objetos);
        return {};
    } catch (const Error& e) {
        return falha.arg(e.message());
    }
}

QString& AvisoEsquema(const QString& tabela) {
    static QHash<QString, QString> avisos;
    return avisos[tabela];
}

}  // namespace norvix
