#pragma once
// Windows-1252 is the encoding of every file, database text and module text of the system.
// Qt 6 only reaches it through ICU, which is not guaranteed on every build of Qt, and the
// mapping is a fixed 32-entry table, so we keep it here.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace norvix {

// Characters that Windows-1252 cannot hold become '?'.
QByteArray toCp1252(const QString& text);
QString fromCp1252(QByteArrayView bytes);
QString fromCp1252(const QByteArray& bytes);
QString fromCp1252(const char* text);  // null gives the empty text

}  // namespace norvix
