#include "QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace norvix {

bool installQtTranslations() {
    auto* app = QCoreApplication::instance();
    if (!app) return false;
    // "qt" is the catalogue that loads qtbase and the other modules' files together.
    auto* translator = new QTranslator(app);
    if (!translator->load(QLocale(QLocale::Portuguese, QLocale::Brazil), QStringLiteral("qt"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

}  // namespace norvix
