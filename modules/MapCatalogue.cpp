#include "MapCatalogue.h"

#include <QBitmap>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>
#include "modules/HostStream.h"
#include "modules/ModuleBindings.h"
#include "platform/Convert.h"
#include "platform/VersionNote.h"
#include "shell/UBVersionInfo.h"

namespace norvix {

namespace {

// The names from the last to the first in ascending order without regard to letter case;
// names differing only in case keep a fixed order. Comparing without case folds every
// character again at each comparison; for the usual plain ASCII names the lower-case text,
// made once per name, gives the same order at a fraction of the cost.
QStringList lastToFirstWithoutCase(const QStringList& names) {
    struct Name {
        QString text;
        QString asciiLower;  // null when the name is not plain ASCII
    };
    std::vector<Name> keyed;
    keyed.reserve(names.size());
    for (const QString& n : names) {
        const bool ascii = std::all_of(n.begin(), n.end(), [](QChar c) { return c.unicode() < 0x80; });
        keyed.push_back({n, ascii ? n.toLower() : QString()});
    }
    std::sort(keyed.begin(), keyed.end(), [](const Name& a, const Name& b) {
        const int c = !a.asciiLower.isNull() && !b.asciiLower.isNull()
                          ? a.asciiLower.compare(b.asciiLower, Qt::CaseSensitive)
                          : a.text.compare(b.text, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.text < b.text;
    });
    QStringList sorted;
    sorted.reserve(names.size());
    for (auto it = keyed.crbegin(); it != keyed.crend(); ++it) sorted.append(it->text);
    return sorted;
}

}  // namespace

void TMapCatalogue::BuildCatalogue(const QString& mapsDir, const std::function<void()>& advanceProgress) {
    mapsDir_ = mapsDir;
    items_.clear();
    buttons_.clear();

    QStringList names;
    QSet<QString> bitmaps;  // the button pictures, known from this scan instead of one lookup each
    if (!mapsDir.isEmpty()) {
        // Links are followed (a link to a regular file is taken, a broken one is not); the
        // suffix is compared here rather than through a name filter, which compiles a pattern.
        // The standard library's walk reuses the entry types the directory read gave, where
        // QDirIterator builds a full file information per entry.
        std::error_code error;
        for (std::filesystem::directory_iterator it(QFile::encodeName(mapsDir).toStdString(), error), end;
             !error && it != end; it.increment(error)) {
            if (!it->is_regular_file(error)) {
                error.clear();
                continue;
            }
            const QString name = QFile::decodeName(it->path().filename().native().c_str());
            if (name.endsWith(QLatin1String(".bmp"))) bitmaps.insert(name);
            if (!name.endsWith(QLatin1String(".so"), Qt::CaseInsensitive)) continue;
            names.append(name);
            if (advanceProgress) advanceProgress();
        }
    }
    for (const QString& name : lastToFirstWithoutCase(names)) {
        addEntry(name, &bitmaps);
        if (advanceProgress) advanceProgress();
    }
}

void TMapCatalogue::AddCatalogueEntry(const QString& fileName) { addEntry(fileName, nullptr); }

void TMapCatalogue::addEntry(const QString& fileName, const QSet<QString>* bitmaps) {
    const QString path = mapsDir_ + QLatin1Char('/') + fileName;
    TModuleInfoBinding binding;
    if (!binding.ReadModuleInfo(path, 1, parent_)) return;
    norvix::HostStream stream;
    binding.InfoMapa(stream.moduleStream());
    const QStringList lines = stream.lines(norvix::kMaxInfoLines, norvix::kMaxInfoLength);
    // The loaded image carries the same note as the file; reading it there spares a second
    // pass over the file for every module at start-up, and only the version numbers are
    // taken from it.
    QString version;
    if (lines.size() >= 3) {
        if (const auto fileVersion = norvix::readLoadedFileVersion(binding.Library().nativeHandle()))
            version = norvix::versionText(*fileVersion);
        else
            version = TBVersionInfo().FileVersionText(path);
    }
    binding.ReleaseModule();

    if (lines.size() >= 3) {
        int kind = 0;
        if (!norvix::tryStrToInt(lines[1], &kind)) kind = 0;
        const QString kindText = kind == 1   ? QStringLiteral("Simples")
                                 : kind == 2 ? QStringLiteral("Wizard")
                                             : QString();
        items_ << lines[0] << kindText << lines[2] << version;
    }
    if (lines.size() < 2) return;

    TMapButton button;
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));  // the name without its extension
    button.caption = dot < 0 ? fileName : fileName.left(dot);
    button.hint = lines[0];
    button.singleMap = lines[1] == QLatin1String("1");
    const QString bmpName = button.caption + QStringLiteral(".bmp");
    const QString bmp = mapsDir_ + QLatin1Char('/') + bmpName;
    const bool hasBitmap = bitmaps ? bitmaps->contains(bmpName) : QFileInfo(bmp).isFile();
    if (hasBitmap && LoadButtonImages(bmp, &button.hot, &button.normal)) button.useImage1 = false;
    // Each new button goes in front of the earlier ones, so the walk from the last name to the
    // first leaves the toolbar in ascending order.
    buttons_.prepend(button);
}

bool TMapCatalogue::LoadButtonImages(const QString& bmpPath, QPixmap* hot, QPixmap* normal) {
    QImage strip;
    if (!strip.load(bmpPath) || strip.width() < 2 * kImageSize || strip.height() < kImageSize)
        return false;
    strip = strip.convertToFormat(QImage::Format_RGB32);
    auto square = [&](int left) {
        QPixmap p = QPixmap::fromImage(strip.copy(left, 0, kImageSize, kImageSize));
        p.setMask(p.createMaskFromColor(QColor(255, 0, 255), Qt::MaskInColor));
        return p;
    };
    *hot = square(0);
    *normal = square(kImageSize);
    return true;
}

QList<QToolButton*> TMapCatalogue::PlaceButtons(QToolBar* tlbMapas, const QIcon& image1,
                                                const std::function<void(QToolButton*)>& mapaClick,
                                                const std::function<void(QToolButton*)>& mapasClick) const {
    QList<QToolButton*> placed;
    if (!tlbMapas) return placed;
    for (const TMapButton& b : buttons_) {
        auto* button = new QToolButton(tlbMapas);
        button->setText(b.caption);
        button->setToolTip(b.hint);
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setIconSize(QSize(kImageSize, kImageSize));
        if (b.useImage1) {
            button->setIcon(image1);
        } else {
            QIcon icon(b.normal);
            icon.addPixmap(b.hot, QIcon::Active);
            button->setIcon(icon);
        }
        const auto& handler = b.singleMap ? mapaClick : mapasClick;
        QObject::connect(button, &QToolButton::clicked, button, [handler, button] {
            if (handler) handler(button);
        });
        tlbMapas->addWidget(button);
        placed.append(button);
    }
    return placed;
}

}  // namespace norvix
