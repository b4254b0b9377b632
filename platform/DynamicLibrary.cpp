#include "DynamicLibrary.h"

#include <cerrno>
#include <cstdio>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <QFile>
#include "Paths.h"
#include "platform/Logging.h"

namespace norvix {

DynamicLibrary::~DynamicLibrary() { unload(); }

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      lastError_(other.lastError_),
      lastErrorText_(std::move(other.lastErrorText_)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        unload();
        handle_ = std::exchange(other.handle_, nullptr);
        lastError_ = other.lastError_;
        lastErrorText_ = std::move(other.lastErrorText_);
    }
    return *this;
}

bool DynamicLibrary::load(const QString& path) {
    // A bare file name would send the loader through the system's library directories and
    // could bind an unrelated library of that name; modules live with the program instead.
    const QString where = !path.isEmpty() && !path.contains(QLatin1Char('/')) ? programDirectory() + path : path;
    const QByteArray native = QFile::encodeName(where);
    // An empty name would hand back the program itself.
    void* handle = native.isEmpty() ? nullptr : dlopen(native.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* text = native.isEmpty() ? "empty library path" : dlerror();
        lastErrorText_ = QString::fromLocal8Bit(text ? text : "unknown loader error");
        lastError_ = errorNumberFor(where, lastErrorText_);
        qCWarning(lcPlatform).noquote() << QStringLiteral("dlopen:") << lastErrorText_;
        return false;
    }
    unload();
    handle_ = handle;
    lastError_ = 0;
    lastErrorText_.clear();
    return true;
}

void DynamicLibrary::unload() {
    if (handle_) {
        dlclose(handle_);
        handle_ = nullptr;
    }
}

void* DynamicLibrary::resolve(const char* name) const {
    if (!handle_ || !name) return nullptr;
    return dlsym(handle_, name);
}

int DynamicLibrary::errorNumberFor(const QString& path, const QString& loaderText) {
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (native.isEmpty()) return ENOENT;
    if (stat(native.constData(), &st) != 0) return errno == EACCES ? EACCES : ENOENT;
    if (access(native.constData(), R_OK) != 0) return EACCES;
    // The file itself is there and readable: the loader's text tells a missing or forbidden
    // library it depends on from a file that is no library at all.
    if (loaderText.contains(QLatin1String("No such file or directory"))) return ENOENT;
    if (loaderText.contains(QLatin1String("Permission denied"))) return EACCES;
    return ENOEXEC;
}

}  // namespace norvix
