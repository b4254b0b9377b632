#include "FindPanel.h"

#include "UfrmExames.h"

TPnlFindPac::TPnlFindPac(TfrmExames& browser, QWidget* parent) : QWidget(parent), browser_(browser) {
    setObjectName(QStringLiteral("pnlFindPac"));
}

void TPnlFindPac::openSearch() {}
void TPnlFindPac::closeSearch() {}
void TPnlFindPac::focusSearchText() {}
