#pragma once
// A question takes only the keys the operator meant for it. Keys and clicks already queued when
// it appears were meant for the window below (a name being typed, say) and are dropped; while
// it is up, a plain letter or digit never answers (the buttons take Alt+letter), and no key
// answers while typing goes on, that is until the keyboard has rested for a moment.
#include <QElapsedTimer>
#include <QObject>
#include <QSet>

class QWidget;

namespace norvix {

inline constexpr int kQuestionQuietMs = 500;

// Drops the keys and clicks waiting in the queue; the other events are delivered.
void discardQueuedInput();

// Watches the keys that reach box (and its buttons) for as long as it lives.
class QuestionKeyGuard : public QObject {
public:
    explicit QuestionKeyGuard(QWidget* box);
    ~QuestionKeyGuard() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* box_;
    QElapsedTimer quiet_;  // since the box appeared or the last key pressed on it
    QSet<int> pressed_;    // keys pressed while it was up, whose release it may take
};

}  // namespace norvix
