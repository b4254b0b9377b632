#include "UBVersionInfo.h"

#include <QMimeDatabase>
#include <QStringList>
#include "platform/VersionNote.h"

namespace norvix {

void TBVersionInfo::clear() {
    *this = TBVersionInfo{};
}

void TBVersionInfo::ReadVersionInfo(const QString& path) {
    const std::array<uint16_t, 4> keepFixed = fixed_;  // belongs to FileVersionText
    clear();
    fixed_ = keepFixed;
    path_ = path;

    const norvix::ElfVersionInfo elf = norvix::readElfVersionInfo(path);
    switch (elf.kind) {
    case norvix::ElfKind::Executable: kind_ = QStringLiteral("Application"); break;
    case norvix::ElfKind::SharedLibrary: kind_ = QStringLiteral("DLL"); break;
    default: kind_ = QStringLiteral("Unknown"); break;
    }
    if (!elf.note) return;
    const norvix::VersionNote& n = *elf.note;
    company_ = n.value(QStringLiteral("CompanyName"));
    description_ = n.value(QStringLiteral("FileDescription"));
    fileVersion_ = n.value(QStringLiteral("FileVersion"));
    internalName_ = n.value(QStringLiteral("InternalName"));
    copyright_ = n.value(QStringLiteral("LegalCopyright"));
    trademarks_ = n.value(QStringLiteral("LegalTrademarks"));
    originalFilename_ = n.value(QStringLiteral("OriginalFilename"));
    productName_ = n.value(QStringLiteral("ProductName"));
    productVersion_ = n.value(QStringLiteral("ProductVersion"));
    comments_ = n.value(QStringLiteral("Comments"));
    specialBuild_ = n.value(QStringLiteral("SpecialBuild"));
    privateBuild_ = n.value(QStringLiteral("PrivateBuild"));

    // A part that is missing or not a number counts as 0.
    const QStringList parts = fileVersion_.split(QLatin1Char('.'));
    int* targets[4] = {&major_, &minor_, &release_, &build_};
    for (int i = 0; i < 4 && i < parts.size(); ++i) *targets[i] = parts[i].trimmed().toInt();
}

QString TBVersionInfo::FileTypeName() const {
    if (!typeNameRead_ && !path_.isEmpty()) {
        typeName_ = QMimeDatabase().mimeTypeForFile(path_).comment();
        typeNameRead_ = true;
    }
    return typeName_;
}

QString TBVersionInfo::FileVersionText(const QString& path) {
    fixed_ = {};
    const norvix::ElfVersionInfo elf = norvix::readElfVersionInfo(path);
    if (!elf.note) return {};
    fixed_ = elf.note->fileVersion;
    return FormatVersion(fixed_);
}

QString TBVersionInfo::FormatVersion(const std::array<uint16_t, 4>& v) {
    return QStringLiteral("%1.%2.%3.%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]);
}

}  // namespace norvix
