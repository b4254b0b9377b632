#pragma once
// Qt's own texts (file dialogs, the print preview's tool bar, the standard buttons) in
// Brazilian Portuguese, from the translations Debian ships with Qt (qt6-translations-l10n).

namespace norvix {

// Installs the pt_BR translations of Qt's modules into the running application; whether they
// were found. Without them Qt speaks English and nothing else changes.
bool installQtTranslations();

}  // namespace norvix
