#pragma once
// Our own drawings for the main window's skin: background, banners and the seven picture
// buttons of each model family (normal and mouse-over), written as JPEG files with the ".dat"
// names the main window loads from <installation>/imgs.
#include <QString>
#include <QStringList>

namespace norvix::skins {

// Button captions, index i belonging to BtnImage<i>.
QStringList buttonCaptions();

// File names (relative to imgs/) of the pictures of one family's button list.
QString buttonFileName(bool orventFamily, bool mouseOver, int index);

// Writes every skin picture into directory (created when missing). Existing files are kept
// unless overwrite is true. Returns the names that could not be written.
QStringList writeSkinPictures(const QString& directory, bool overwrite = false);

}  // namespace norvix::skins
