#pragma once
// The start-up progress window "Iniciando . . .": four steps and a progress bar.
#include <QDialog>
#include <QPointer>
#include <array>

class QLabel;
class QProgressBar;

namespace norvix {

class TfrmIniciando : public QDialog {
    Q_OBJECT
public:
    explicit TfrmIniciando(QWidget* parent = nullptr);

    // The process-wide window, created on demand; cleared when the window is closed.
    static TfrmIniciando* instance();
    static bool exists();

    void showStep(int step);  // 1..4: makes the step's image visible
    bool stepVisible(int step) const;
    QProgressBar* PBProgress() const { return bar_; }
    void setProgress(int value);
    void advance(int delta);  // stops at the bar's maximum
    int progress() const;
    QString stepText(int step) const;

private:
    std::array<QLabel*, 4> images_{};
    std::array<QLabel*, 4> labels_{};
    QProgressBar* bar_;
    static QPointer<TfrmIniciando> instance_;
};

}  // namespace norvix
