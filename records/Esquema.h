#pragma once
// Tables that newer features add to a database made before them. Each is created when the
// database lacks it, at connection, in transactions of its own before the data module's starts
// (so that one sees the tables as they end up); nothing existing is altered.
#include <QList>
#include <QString>

namespace norvix {

class FbDatabase;

struct TObjetoEsquema {
    QString existe;  // "SELECT COUNT(*) AS N FROM ...": how many of the object the database has
    QString ddl;     // what creates it
};

// Creates the objects missing, in order. Another station creating one at the same moment is as
// good as creating it here. Raises Error (DatabaseError) when one can be neither found nor made.
void GaranteObjetos(FbDatabase& db, const QList<TObjetoEsquema>& objetos);
// The same, as a notice for the operator: empty when the objects are all there afterwards;
// otherwise `falha` with the server's reason in place of %1.
QString GaranteObjetos(FbDatabase& db, const QList<TObjetoEsquema>& objetos, const QString& falha);

// What the last connection said of a feature's table (keyed by the table's name): empty when it
// is there. The feature's windows read it; the data module sets it at each connection.
QString& AvisoEsquema(const QString& tabela);

}  // namespace norvix
