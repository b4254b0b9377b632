#pragma once
// "Dica de Busca": the tip shown when the search panel opens while tips are on.
#include <QDialog>
#include <QPointer>

class QLabel;

namespace norvix {

class TfrmDica : public QDialog {
    Q_OBJECT
public:
    explicit TfrmDica(QWidget* parent = nullptr);
    static TfrmDica* instance(QWidget* parent = nullptr);  // created on first use
    static bool exists();

private:
    static QPointer<TfrmDica> instance_;
};

}  // namespace norvix
