#include "QuestionGuard.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace norvix {
namespace {

bool isUserInput(QEvent::Type t) {
    switch (t) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick: return true;
        default: return false;
    }
}

class InputDiscarder : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override { return isUserInput(event->type()); }
};

}  // namespace

void discardQueuedInput() {
    InputDiscarder discarder;
    qApp->installEventFilter(&discarder);
    QCoreApplication::processEvents();
    qApp->removeEventFilter(&discarder);
}

QuestionKeyGuard::QuestionKeyGuard(QWidget* box) : box_(box) {
    quiet_.start();
    qApp->installEventFilter(this);
}

QuestionKeyGuard::~QuestionKeyGuard() { qApp->removeEventFilter(this); }

bool QuestionKeyGuard::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type t = event->type();
    if (t != QEvent::KeyPress && t != QEvent::KeyRelease) return false;
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || (w != box_ && !box_->isAncestorOf(w))) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (t == QEvent::KeyRelease) return !pressed_.remove(key->key());  // its press was not ours
    switch (key->key()) {  // Alt held down for a button's letter is no typing
        case Qt::Key_Shift:
        case Qt::Key_Control:
        case Qt::Key_Alt:
        case Qt::Key_AltGr:
        case Qt::Key_Meta: pressed_.insert(key->key()); return false;
        default: break;
    }
    const bool typing = quiet_.elapsed() < kQuestionQuietMs;
    quiet_.restart();
    const bool command = key->modifiers() & (Qt::AltModifier | Qt::ControlModifier | Qt::MetaModifier);
    const QString text = key->text();
    const bool letterOrDigit = !command && text.size() == 1 && text.at(0).isLetterOrNumber();
    if (typing || letterOrDigit) return true;
    if (!key->isAutoRepeat()) pressed_.insert(key->key());
    return false;
}

}  // namespace norvix
