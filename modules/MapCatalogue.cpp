#include "MapCatalogue.h"

#include <QBitmap>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <algorithm>
#include "modules/HostStream.h"
#include "modules/ModuleBindings.h"
#include "platform/Convert.h"
#include "shell/UBVersionInfo.h"

void TMapCatalogue::BuildCatalogue(const QString& mapsDir, const std::function<void()>& advanceProgress) {
    mapsDir_ = mapsDir;
    items_.clear();
    buttons_.clear();

    QStringList names;
    const QDir dir(mapsDir);
    if (!mapsDir.isEmpty() && dir.exists()) {
        // QDir::Files follows links, so a link to a regular file is taken and a broken one is
        // not; the system filter would let sockets and devices in and stays off.
        const QFileInfoList entries =
            dir.entryInfoList({QStringLiteral("*.so")}, QDir::Files | QDir::Hidden, QDir::NoSort);
        for (const QFileInfo& e : entries) {
            if (!e.isFile()) continue;
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
    binding.ReleaseModule();

    if (lines.size() >= 3) {
        int kind = 0;
        if (!norvix::tryStrToInt(lines[1], &kind)) kind = 0;
        const QString kindText = kind == 1   ? QStringLiteral("Simples")
                                 : kind == 2 ? QStringLiteral("Wizard")
                                             : QString();
        items_ << lines[0] << kindText << lines[2] << TBVersionInfo().FileVersionText(path);
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
