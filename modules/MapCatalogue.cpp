#include "MapCatalogue.h"

#include <QBitmap>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include "modules/HostStream.h"
#include "modules/ModuleBindings.h"
#include "platform/Convert.h"
#include "platform/VersionNote.h"
#include "shell/UBVersionInfo.h"

void TMapCatalogue::BuildCatalogue(const QString& mapsDir, const std::function<void()>& advanceProgress) {
    mapsDir_ = mapsDir;
    items_.clear();
    buttons_.clear();

    QStringList names;
    if (!mapsDir.isEmpty()) {
        // Links are followed (a link to a regular file is taken, a broken one is not); the
        // suffix is compared here rather than through a name filter, which compiles a pattern.
        QDirIterator it(mapsDir, QDir::Files | QDir::Hidden);
        while (it.hasNext()) {
            it.next();
            const QFileInfo e = it.fileInfo();
            if (!e.isFile() || !e.fileName().endsWith(QLatin1String(".so"), Qt::CaseInsensitive)) continue;
            names.append(e.fileName());
            if (advanceProgress) advanceProgress();
        }
    }
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;  // names differing only in case keep a fixed order
    });
    for (auto it = names.crbegin(); it != names.crend(); ++it) {
        AddCatalogueEntry(*it);
        if (advanceProgress) advanceProgress();
    }
}

void TMapCatalogue::AddCatalogueEntry(const QString& fileName) {
    const QString path = mapsDir_ + QLatin1Char('/') + fileName;
    TModuleInfoBinding binding;
    if (!binding.ReadModuleInfo(path, 1, parent_)) return;
    norvix::HostStream stream;
    binding.InfoMapa(stream.moduleStream());
    const QStringList lines = stream.lines(norvix::kMaxInfoLines, norvix::kMaxInfoLength);
    // The loaded image carries the same note as the file; reading it there spares a second
    // pass over the file for every module at start-up.
    QString version;
    if (lines.size() >= 3) {
        if (const auto note = norvix::readLoadedVersionNote(binding.Library().nativeHandle()))
            version = TBVersionInfo::FormatVersion(note->fileVersion);
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
    button.caption = QFileInfo(fileName).completeBaseName();
    button.hint = lines[0];
    button.singleMap = lines[1] == QLatin1String("1");
    const QString bmp = mapsDir_ + QLatin1Char('/') + button.caption + QStringLiteral(".bmp");
    if (QFileInfo(bmp).isFile() && LoadButtonImages(bmp, &button.hot, &button.normal))
        button.useImage1 = false;
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
