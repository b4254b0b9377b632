#include "TestDatabase.h"

#include <QFile>
#include <QFileDevice>
#include <gtest/gtest.h>

QString makeTestDatabase(const QString& directory) {
    const QString templ = qEnvironmentVariable("NORVIX_TEMPLATE_DB");
    if (templ.isEmpty() || !QFile::exists(templ)) {
        ADD_FAILURE() << "template database missing (NORVIX_TEMPLATE_DB=" << templ.toStdString()
                      << "); build the target norvix_template_db";
        return QString();
    }
    const QString path = directory + QStringLiteral("/DATABASE.GDB");
    QFile::remove(path);
    if (!QFile::copy(templ, path)) {
        ADD_FAILURE() << "cannot copy the template database to " << path.toStdString();
        return QString();
    }
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                    QFileDevice::ReadGroup | QFileDevice::WriteGroup);
    return path;
}
