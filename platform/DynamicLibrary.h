#pragma once
// Run-time libraries: load by path, resolve entry points by name, free. One object holds at
// most one library handle and frees it when destroyed or when another library is loaded.
#include <QString>

namespace norvix {

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;

    // Loads the library with every symbol bound at once and kept local to it. A bare file
    // name (no '/') is looked for in the program's directory only. On failure the
    // previous library (if any) stays loaded, lastError() tells why and the loader's text goes
    // to standard error. A successful load frees the previously held library afterwards.
    bool load(const QString& path);
    // Frees the library; harmless when none is held.
    void unload();
    // Forgets the handle without freeing it: the library stays loaded until the process ends.
    void detach() { handle_ = nullptr; }
    bool isLoaded() const { return handle_ != nullptr; }
    void* nativeHandle() const { return handle_; }

    // The entry point of that exact name, or null (also when no library is held).
    void* resolve(const char* name) const;
    template <typename F>
    F resolveAs(const char* name) const {
        return reinterpret_cast<F>(resolve(name));
    }

    // The number of the last failed load, errno style: 2 no such file (or a library it needs
    // is missing), 13 no permission, 8 not a loadable library; 0 after a successful load.
    int lastError() const { return lastError_; }
    QString lastErrorText() const { return lastErrorText_; }

    // Works out the number for a path whose load failed with the loader's text.
    static int errorNumberFor(const QString& path, const QString& loaderText);

private:
    void* handle_ = nullptr;
    int lastError_ = 0;
    QString lastErrorText_;
};

}  // namespace norvix
