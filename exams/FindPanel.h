#pragma once
// The browser's search panel "Localizar Paciente" (pnlFindPac): what to search by, the text,
// the doctor for the first kind, the patients found, and the jump to one of them (and to the
// exam found) in the browser. It takes the place of the exam list while it is open. Every
// text the operator types reaches the database as a bound parameter.
#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableView;
class TfrmExames;
namespace norvix {
class CursorModel;
}

class TPnlFindPac : public QWidget {
    Q_OBJECT
public:
    TPnlFindPac(TfrmExames& browser, QWidget* parent);

    // The browser's toggle pressed and raised.
    void openSearch();
    void closeSearch();
    void focusSearchText();

private:
    TfrmExames& browser_;
};
