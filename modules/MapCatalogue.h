#pragma once
// The catalogue of the map modules found in the maps directory: four texts per module for the
// tools window, and one toolbar button description per module for the exam browser's map
// toolbar (tlbMapas), which places them.
//
// Decisions where the module information leaves things open:
// - A module whose kind line (line 2) reads as neither 1 nor 2 still gets its four texts, with
//   an empty kind text, so that readers taking the list in groups of four stay aligned.
// - A module with exactly two information lines gets a button but no texts; one with fewer
//   than two lines gets neither (it has no hint and no click kind).
// - Only regular files named *.so (the name compared without regard to case), or links to
//   regular files, are taken; directories, broken links and other entries are passed over.
// - A .bmp strip that cannot be read or is smaller than 48 x 24 gives the default image 1.
#include <QList>
#include <QPixmap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>

class QIcon;
class QToolBar;
class QToolButton;
class QWidget;

namespace norvix {

struct TMapButton {
    QString caption;          // module file name without its extension
    QString hint;             // line 1 of the module information
    bool useImage1 = true;    // no own images: the toolbar's default image 1
    QPixmap hot;              // 24 x 24, magenta transparent; when !useImage1
    QPixmap normal;           // 24 x 24, magenta transparent; when !useImage1
    bool singleMap = false;   // line 2 exactly "1": MapaClick, otherwise MapasClick
};

class TMapCatalogue {
public:
    static constexpr int kImageSize = 24;

    // parent: owner of the error-number messages of modules that cannot be loaded.
    explicit TMapCatalogue(QWidget* parent = nullptr) : parent_(parent) {}

    // Replaces the texts and buttons with those of the modules in mapsDir. advanceProgress,
    // when set, is called once per module file found and once per module processed (the
    // start-up advances its bar by 6 each time). A missing directory gives an empty catalogue.
    void BuildCatalogue(const QString& mapsDir, const std::function<void()>& advanceProgress = {});
    // Reads one module file of the maps directory into the catalogue and puts its button in
    // front of the others.
    void AddCatalogueEntry(const QString& fileName);

    // Four texts per module, in the order processed: name, "Simples"/"Wizard", number of maps,
    // version text.
    const QStringList& Items() const { return items_; }
    // The buttons in the order the toolbar shows them.
    const QList<TMapButton>& Buttons() const { return buttons_; }
    QString MapsDirectory() const { return mapsDir_; }

    // Puts one button per module at the end of the toolbar, in the order of Buttons(): caption
    // as text, hint as tool tip, the normal image as icon with the hot image under the mouse
    // (image1 for a module without its own), flat. A click calls mapaClick (single map) or
    // mapasClick (multi-map) with the button; its text is the module file name without
    // extension. The toolbar owns the buttons.
    QList<QToolButton*> PlaceButtons(QToolBar* tlbMapas, const QIcon& image1,
                                     const std::function<void(QToolButton*)>& mapaClick,
                                     const std::function<void(QToolButton*)>& mapasClick) const;

    // Splits a 48 x 24 strip into its hot (left) and normal (right) squares with magenta
    // transparent; false when the file cannot be read or is too small.
    static bool LoadButtonImages(const QString& bmpPath, QPixmap* hot, QPixmap* normal);

private:
    // bitmaps: the names of the .bmp files the scan found; null to look the file up.
    void addEntry(const QString& fileName, const QSet<QString>* bitmaps);

    QWidget* parent_;
    QString mapsDir_;
    QStringList items_;
    QList<TMapButton> buttons_;
};

}  // namespace norvix
