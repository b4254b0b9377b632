#pragma once
// A plain-text memo that holds at most what its database column takes: typing or pasting past
// the limit keeps the first maxChars characters, so a save never fails on a long text.
class QPlainTextEdit;

namespace norvix {

void limitMemo(QPlainTextEdit* memo, int maxChars);

}  // namespace norvix
