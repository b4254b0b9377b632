// Storage faults for tests. Linked into a test program (which exports these names), it stands in
// front of the C library for every open, read and write of the process, the program's libraries
// and the modules it loads included; under the sanitizers their interceptors come next. It does
// nothing until $NORVIX_FALHA names a fault; then files whose path contains $NORVIX_FALHA_EM,
// opened from that moment on, suffer it:
//   curta   writes take half of what is asked, and after 64 KiB the device takes nothing more
//           (write returns 0), as a medium pulled out in the middle does
//   enospc  after 16 KiB, writes fail with ENOSPC
//   eio     reads fail with EIO (a medium that no longer reads back)
//   byte    the byte at offset 100 (or the first one written past it) arrives flipped
// Tools the program starts (nbackup, gbak) are separate processes and are not affected.
// Crashes at a chosen step: with $NORVIX_QUEDA_RENOMEACAO = n the process kills itself
// (SIGKILL, as a power cut stops it) just before its n-th rename, the step by which files take
// their places; with $NORVIX_CONTA_RENOMEACOES naming a file, a process that ends normally
// writes there how many renames it made.
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace {

enum Modo : int { Nenhum, Curta, Enospc, Eio, Byte };

constexpr int kMaxFd = 4096;
constexpr off_t kOffsetByte = 100;
struct Estado {
    std::atomic<int> modo{Nenhum};
    std::atomic<int64_t> escritos{0};
};
Estado estados[kMaxFd];

Modo modoPara(const char* caminho) {
    const char* falha = getenv("NORVIX_FALHA");
    const char* em = getenv("NORVIX_FALHA_EM");
    if (!falha || !*falha || !em || !*em || !caminho || !strstr(caminho, em)) return Nenhum;
    if (!strcmp(falha, "curta")) return Curta;
    if (!strcmp(falha, "enospc")) return Enospc;
    if (!strcmp(falha, "eio")) return Eio;
    if (!strcmp(falha, "byte")) return Byte;
    return Nenhum;
}

void marca(int fd, const char* caminho) {
    if (fd < 0 || fd >= kMaxFd) return;
    estados[fd].modo = modoPara(caminho);
    estados[fd].escritos = 0;
}

Modo modoDe(int fd) { return fd >= 0 && fd < kMaxFd ? Modo(estados[fd].modo.load()) : Nenhum; }

template <typename F>
F real(const char* nome) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, nome));
}

bool criaArquivo(int flags) { return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE; }

// The write path shared by write and pwrite: `escreve` does the real call with the (possibly
// changed) buffer and length; `offset` is where it lands (-1: the file's current offset).
template <typename Escreve>
ssize_t escreveComFalha(int fd, const void* dados, size_t n, off_t offset, Escreve escreve) {
    Estado& e = estados[fd];
    switch (modoDe(fd)) {
    case Curta: {
        if (e.escritos >= 64 * 1024) return 0;
        const size_t parte = n > 1 ? n / 2 : n;
        const ssize_t r = escreve(dados, parte);
        if (r > 0) e.escritos += r;
        return r;
    }
    case Enospc:
        if (e.escritos + int64_t(n) > 16 * 1024) {
            errno = ENOSPC;
            return -1;
        }
        e.escritos += n;
        return escreve(dados, n);
    case Byte: {
        const off_t inicio = offset >= 0 ? offset : lseek(fd, 0, SEEK_CUR);
        if (n == 0 || inicio < 0 || inicio + off_t(n) <= kOffsetByte || e.escritos < 0) return escreve(dados, n);
        std::vector<char> copia(static_cast<const char*>(dados), static_cast<const char*>(dados) + n);
        copia[inicio >= kOffsetByte ? 0 : size_t(kOffsetByte - inicio)] ^= 0x20;
        e.escritos = -1;  // one byte per file
        return escreve(copia.data(), n);
    }
    default:
        return escreve(dados, n);
    }
}

}  // namespace

extern "C" {

int open(const char* caminho, int flags, ...) {
    mode_t modo = 0;
    if (criaArquivo(flags)) {
        va_list a;
        va_start(a, flags);
        modo = va_arg(a, mode_t);
        va_end(a);
    }
    static auto f = real<int (*)(const char*, int, ...)>("open");
    const int fd = f(caminho, flags, modo);
    marca(fd, caminho);
    return fd;
}

int open64(const char* caminho, int flags, ...) {
    mode_t modo = 0;
    if (criaArquivo(flags)) {
        va_list a;
        va_start(a, flags);
        modo = va_arg(a, mode_t);
        va_end(a);
    }
    static auto f = real<int (*)(const char*, int, ...)>("open64");
    const int fd = f(caminho, flags, modo);
    marca(fd, caminho);
    return fd;
}

int openat(int dir, const char* caminho, int flags, ...) {
    mode_t modo = 0;
    if (criaArquivo(flags)) {
        va_list a;
        va_start(a, flags);
        modo = va_arg(a, mode_t);
        va_end(a);
    }
    static auto f = real<int (*)(int, const char*, int, ...)>("openat");
    const int fd = f(dir, caminho, flags, modo);
    marca(fd, caminho);
    return fd;
}

int openat64(int dir, const char* caminho, int flags, ...) {
    mode_t modo = 0;
    if (criaArquivo(flags)) {
        va_list a;
        va_start(a, flags);
        modo = va_arg(a, mode_t);
        va_end(a);
    }
    static auto f = real<int (*)(int, const char*, int, ...)>("openat64");
    const int fd = f(dir, caminho, flags, modo);
    marca(fd, caminho);
    return fd;
}

// What _FORTIFY_SOURCE builds call for an open without a mode.
int __open_2(const char* caminho, int flags) {
    static auto f = real<int (*)(const char*, int)>("__open_2");
    const int fd = f(caminho, flags);
    marca(fd, caminho);
    return fd;
}

int __open64_2(const char* caminho, int flags) {
    static auto f = real<int (*)(const char*, int)>("__open64_2");
    const int fd = f(caminho, flags);
    marca(fd, caminho);
    return fd;
}

int close(int fd) {
    static auto f = real<int (*)(int)>("close");
    if (fd >= 0 && fd < kMaxFd) estados[fd].modo = Nenhum;
    return f(fd);
}

ssize_t write(int fd, const void* dados, size_t n) {
    static auto f = real<ssize_t (*)(int, const void*, size_t)>("write");
    if (modoDe(fd) == Nenhum) return f(fd, dados, n);
    return escreveComFalha(fd, dados, n, -1, [&](const void* d, size_t k) { return f(fd, d, k); });
}

ssize_t pwrite64(int fd, const void* dados, size_t n, off_t offset) {
    static auto f = real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite64");
    if (modoDe(fd) == Nenhum) return f(fd, dados, n, offset);
    return escreveComFalha(fd, dados, n, offset, [&](const void* d, size_t k) { return f(fd, d, k, offset); });
}

ssize_t pwrite(int fd, const void* dados, size_t n, off_t offset) { return pwrite64(fd, dados, n, offset); }

ssize_t read(int fd, void* dados, size_t n) {
    static auto f = real<ssize_t (*)(int, void*, size_t)>("read");
    if (modoDe(fd) == Eio) {
        errno = EIO;
        return -1;
    }
    return f(fd, dados, n);
}

ssize_t pread64(int fd, void* dados, size_t n, off_t offset) {
    static auto f = real<ssize_t (*)(int, void*, size_t, off_t)>("pread64");
    if (modoDe(fd) == Eio) {
        errno = EIO;
        return -1;
    }
    return f(fd, dados, n, offset);
}

ssize_t pread(int fd, void* dados, size_t n, off_t offset) { return pread64(fd, dados, n, offset); }

namespace {
std::atomic<long> renomeacoes{0};
struct ContaNoFim {
    ~ContaNoFim() {
        const char* arquivo = getenv("NORVIX_CONTA_RENOMEACOES");
        if (!arquivo || !*arquivo) return;
        if (FILE* f = fopen(arquivo, "w")) {
            fprintf(f, "%ld\n", renomeacoes.load());
            fclose(f);
        }
    }
} contaNoFim;
}  // namespace

int rename(const char* de, const char* para) {
    static auto f = real<int (*)(const char*, const char*)>("rename");
    const long n = ++renomeacoes;
    const char* queda = getenv("NORVIX_QUEDA_RENOMEACAO");
    if (queda && *queda && n >= atol(queda)) raise(SIGKILL);
    return f(de, para);
}

// Lets a test see that the layer is really in place before it trusts a pass.
int norvix_falhas_carregadas() { return 1; }

}  // extern "C"
