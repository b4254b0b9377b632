#include "MemoKeys.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace norvix {
namespace {

template <class Memo>
class CtrlTabInserts : public QObject {
public:
    explicit CtrlTabInserts(Memo* memo) : QObject(memo), memo_(memo) { memo->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Tab || key->modifiers() != Qt::ControlModifier) return false;
        if (event->type() == QEvent::ShortcutOverride) {
            event->accept();  // not the tab pages' Ctrl+Tab
            return true;
        }
        if (!memo_->isReadOnly()) memo_->insertPlainText(QStringLiteral("\t"));
        return true;
    }

private:
    Memo* memo_;
};

template <class Memo>
void apply(Memo* memo) {
    memo->setTabChangesFocus(true);
    new CtrlTabInserts<Memo>(memo);
}

}  // namespace

void tabMovesOn(QPlainTextEdit* memo) { apply(memo); }
void tabMovesOn(QTextEdit* memo) { apply(memo); }

}  // namespace norvix
