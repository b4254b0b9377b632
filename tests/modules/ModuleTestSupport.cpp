#include "ModuleTestSupport.h"

#include <dlfcn.h>
#include <QFile>

namespace modtest {

QString lib(const char* name) {
    return QStringLiteral(MODULES_TESTLIB_DIR "/") + QLatin1String(name) + QStringLiteral(".so");
}

bool isLoaded(const QString& path) {
    void* h = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_NOLOAD);
    if (!h) return false;
    dlclose(h);
    return true;
}

Record::Record() : path_(dir_.filePath(QStringLiteral("record.txt"))) {
    qputenv("NORVIX_TEST_RECORD", QFile::encodeName(path_));
}

Record::~Record() { qunsetenv("NORVIX_TEST_RECORD"); }

QStringList Record::lines() const {
    QFile f(path_);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString MapsDir::copy(const char* libName, const QString& asName) const {
    const QString target = file(asName);
    QFile::remove(target);
    return QFile::copy(lib(libName), target) ? target : QString();
}

QString MapsDir::write(const QString& name, const QByteArray& bytes) const {
    QFile f(file(name));
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
    return f.fileName();
}

}  // namespace modtest
