#include "MemoLimit.h"

#include <QPlainTextEdit>
#include <QSignalBlocker>

namespace norvix {

void limitMemo(QPlainTextEdit* memo, int maxChars) {
    QObject::connect(memo, &QPlainTextEdit::textChanged, memo, [memo, maxChars] {
        const QString text = memo->toPlainText();
        if (text.size() <= maxChars) return;
        const QSignalBlocker block(memo);
        memo->setPlainText(text.left(maxChars));
        memo->moveCursor(QTextCursor::End);
    });
}

}  // namespace norvix
