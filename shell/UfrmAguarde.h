#pragma once
// The small "Aguarde..." window shown around long operations.
#include <QDialog>
#include <QPointer>

namespace norvix {

class TfrmAguarde : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAguarde(QWidget* parent = nullptr);
    static TfrmAguarde* instance();  // created hidden on first use
    static bool exists();
    // Shows and paints it at once, so it is visible before the long operation blocks.
    void showNow();

private:
    static QPointer<TfrmAguarde> instance_;
};

}  // namespace norvix
