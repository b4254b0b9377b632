#pragma once
// A memo is one field of a form: Tab moves on to the next field, as everywhere else, instead of
// storing a tab character in the text; Ctrl+Tab puts one in when it is really wanted.
class QPlainTextEdit;
class QTextEdit;

namespace norvix {

void tabMovesOn(QPlainTextEdit* memo);
void tabMovesOn(QTextEdit* memo);

}  // namespace norvix
