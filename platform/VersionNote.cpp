#include "VersionNote.h"

#include <cerrno>
#include <charconv>
#include <dlfcn.h>
#include <link.h>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include "Cp1252.h"

namespace norvix {

namespace {

constexpr char kSectionName[] = ".note.norvix.version";
constexpr char kNoteName[] = "NORVIX";
constexpr uint32_t kNoteType = 1;
// Bounds for what a sane header table or note can need; anything larger is garbage.
constexpr qint64 kMaxTable = 1 << 20;
// The four file-version and four product-version numbers in front of the texts.
constexpr qsizetype kFixedPart = 16;

// A read-only file read with pread: the catalogue reads the notes of every module at start-up,
// and the plain system calls cost a fraction of a buffered QFile.
class ElfFile {
public:
    explicit ElfFile(const QString& path) {
        const QByteArray native = QFile::encodeName(path);
        fd_ = native.isEmpty() ? -1 : ::open(native.constData(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) close();
        size_ = fd_ >= 0 ? static_cast<quint64>(st.st_size) : 0;
    }
    ~ElfFile() { close(); }
    ElfFile(const ElfFile&) = delete;
    ElfFile& operator=(const ElfFile&) = delete;
    bool isOpen() const { return fd_ >= 0; }

    // Exactly count bytes at offset, or nothing.
    QByteArray readAt(quint64 offset, quint64 count) const {
        if (fd_ < 0 || count == 0 || count > static_cast<quint64>(kMaxTable)) return {};
        if (offset > size_ || count > size_ - offset) return {};
        QByteArray data(static_cast<qsizetype>(count), Qt::Uninitialized);
        quint64 done = 0;
        while (done < count) {
            const ssize_t n = ::pread(fd_, data.data() + done, count - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return {};
            done += static_cast<quint64>(n);
        }
        return data;
    }

private:
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd_ = -1;
    quint64 size_ = 0;
};

template <typename T>
T at(QByteArrayView data, qsizetype offset) {
    T v{};
    std::memcpy(&v, data.constData() + offset, sizeof v);
    return v;
}

uint32_t align4(uint32_t n) { return (n + 3u) & ~3u; }

// Our build writes the texts as UTF-8; a note written by other tools in the Windows code page
// is still read correctly rather than as replacement characters.
QString decodeText(const char* data, qsizetype size) {
    const QByteArray bytes = QByteArray::fromRawData(data, size);
    const QString utf8 = QString::fromUtf8(bytes);
    if (!utf8.contains(QChar::ReplacementCharacter) || bytes.contains("\xEF\xBF\xBD")) return utf8;
    return fromCp1252(QByteArray(data, size));
}

// The descriptor of our note among the notes of a section or segment (a view into it).
std::optional<QByteArrayView> findDescriptor(QByteArrayView section) {
    qsizetype pos = 0;
    while (section.size() - pos >= 12) {
        const uint32_t namesz = at<uint32_t>(section, pos);
        const uint32_t descsz = at<uint32_t>(section, pos + 4);
        const uint32_t type = at<uint32_t>(section, pos + 8);
        pos += 12;
        const quint64 nameSpan = align4(namesz), descSpan = align4(descsz);
        if (namesz > kMaxTable || descsz > kMaxTable ||
            nameSpan + descSpan > static_cast<quint64>(section.size() - pos))
            return std::nullopt;
        const QByteArrayView name = section.sliced(pos, namesz);
        const QByteArrayView desc = section.sliced(pos + static_cast<qsizetype>(nameSpan), descsz);
        pos += static_cast<qsizetype>(nameSpan + descSpan);
        if (type == kNoteType && name == QByteArrayView(kNoteName, sizeof kNoteName)) return desc;
    }
    return std::nullopt;
}

// The descriptor of our note in a library this process has loaded, read from its mapped note
// segment (a view into it, valid while the library stays loaded). The loader hands over the
// object's own program headers; walking every loaded object for them cost more than the note.
std::optional<QByteArrayView> loadedDescriptor(void* dlHandle) {
    link_map* map = nullptr;
    const ElfW(Phdr)* headers = nullptr;
    if (!dlHandle || dlinfo(dlHandle, RTLD_DI_LINKMAP, &map) != 0 || !map) return std::nullopt;
    const int count = dlinfo(dlHandle, RTLD_DI_PHDR, &headers);
    for (int i = 0; headers && i < count; ++i) {
        const ElfW(Phdr)& ph = headers[i];
        if (ph.p_type != PT_NOTE || ph.p_memsz > static_cast<quint64>(kMaxTable)) continue;
        const auto* start = reinterpret_cast<const char*>(map->l_addr + ph.p_vaddr);
        if (auto d = findDescriptor(QByteArrayView(start, static_cast<qsizetype>(ph.p_memsz)))) return d;
    }
    return std::nullopt;
}

std::array<uint16_t, 4> fileVersionOf(QByteArrayView descriptor) {
    std::array<uint16_t, 4> v{};
    for (int i = 0; i < 4; ++i) v[i] = at<uint16_t>(descriptor, 2 * i);
    return v;
}

}  // namespace

QString VersionNote::value(const QString& name) const {
    for (const auto& [k, v] : strings)
        if (k == name) return v;
    return {};
}

std::optional<VersionNote> parseVersionDescriptor(const QByteArray& d) {
    if (d.size() < kFixedPart) return std::nullopt;
    VersionNote note;
    note.fileVersion = fileVersionOf(d);
    for (int i = 0; i < 4; ++i) note.productVersion[i] = at<uint16_t>(d, 8 + 2 * i);
    // Pairs of zero-terminated texts closed by an empty name; a pair cut short by the end of
    // the descriptor is dropped rather than read past it.
    qsizetype pos = kFixedPart;
    while (pos < d.size()) {
        const qsizetype nameEnd = d.indexOf('\0', pos);
        if (nameEnd < 0 || nameEnd == pos) break;
        const qsizetype valueEnd = d.indexOf('\0', nameEnd + 1);
        if (valueEnd < 0) break;
        note.strings.append({decodeText(d.constData() + pos, nameEnd - pos),
                             decodeText(d.constData() + nameEnd + 1, valueEnd - nameEnd - 1)});
        pos = valueEnd + 1;
    }
    return note;
}

std::optional<VersionNote> readLoadedVersionNote(void* dlHandle) {
    const std::optional<QByteArrayView> d = loadedDescriptor(dlHandle);
    if (!d) return std::nullopt;
    return parseVersionDescriptor(d->toByteArray());
}

std::optional<std::array<uint16_t, 4>> readLoadedFileVersion(void* dlHandle) {
    const std::optional<QByteArrayView> d = loadedDescriptor(dlHandle);
    if (!d || d->size() < kFixedPart) return std::nullopt;
    return fileVersionOf(*d);
}

QString versionText(const std::array<uint16_t, 4>& v) {
    char text[4 * 6];
    char* end = text;
    for (int i = 0; i < 4; ++i) {
        if (i) *end++ = '.';
        end = std::to_chars(end, text + sizeof text, v[i]).ptr;
    }
    return QString::fromLatin1(text, end - text);
}

ElfVersionInfo readElfVersionInfo(const QString& path) {
    ElfVersionInfo info;
    const ElfFile f(path);
    if (!f.isOpen()) return info;
    const QByteArray eh = f.readAt(0, sizeof(Elf64_Ehdr));
    if (eh.isEmpty() || std::memcmp(eh.constData(), ELFMAG, SELFMAG) != 0) return info;
    // Our platform writes 64-bit little-endian files only; others are foreign.
    if (eh[EI_CLASS] != ELFCLASS64 || eh[EI_DATA] != ELFDATA2LSB) {
        info.kind = ElfKind::Other;
        return info;
    }
    const auto h = at<Elf64_Ehdr>(eh, 0);

    info.kind = ElfKind::Other;
    if (h.e_type == ET_EXEC) {
        info.kind = ElfKind::Executable;
    } else if (h.e_type == ET_DYN) {
        info.kind = ElfKind::SharedLibrary;
        if (h.e_phentsize == sizeof(Elf64_Phdr)) {
            const QByteArray ph = f.readAt(h.e_phoff, quint64(h.e_phnum) * sizeof(Elf64_Phdr));
            for (int i = 0; i < ph.size() / int(sizeof(Elf64_Phdr)); ++i)
                if (at<Elf64_Phdr>(ph, i * sizeof(Elf64_Phdr)).p_type == PT_INTERP)
                    info.kind = ElfKind::Executable;
        }
    }

    if (h.e_shentsize != sizeof(Elf64_Shdr) || h.e_shnum == 0 || h.e_shstrndx >= h.e_shnum)
        return info;
    const QByteArray sh = f.readAt(h.e_shoff, quint64(h.e_shnum) * sizeof(Elf64_Shdr));
    if (sh.isEmpty()) return info;
    const auto strHdr = at<Elf64_Shdr>(sh, h.e_shstrndx * sizeof(Elf64_Shdr));
    const QByteArray names = f.readAt(strHdr.sh_offset, strHdr.sh_size);
    if (names.isEmpty()) return info;
    for (int i = 0; i < h.e_shnum; ++i) {
        const auto s = at<Elf64_Shdr>(sh, i * sizeof(Elf64_Shdr));
        if (s.sh_name >= static_cast<quint64>(names.size())) continue;
        const char* name = names.constData() + s.sh_name;
        const qsizetype room = names.size() - s.sh_name;
        if (qsizetype(qstrnlen(name, uint(room))) == room || std::strcmp(name, kSectionName) != 0) continue;
        if (s.sh_type == SHT_NOBITS) continue;
        const QByteArray notes = f.readAt(s.sh_offset, s.sh_size);
        if (const std::optional<QByteArrayView> d = findDescriptor(notes))
            info.note = parseVersionDescriptor(d->toByteArray());
        break;
    }
    return info;
}

}  // namespace norvix
