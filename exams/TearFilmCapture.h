#pragma once
// Recording an eye's tear film through the installed capture module's optional video export.
#include <QString>

#include "ExamKind.h"

class QWidget;

namespace norvix {

// Records the rings' video of one eye (0 left, 1 right) into path, as a tear-film recording
// (tearfilm/TearRecording.h), for at most maxSeconds. ok: a recording is at path. Not ok with
// an empty message: the operator cancelled (nothing at path). Otherwise message says why (a
// module that cannot record video included).
StepOutcome recordTearFilm(QWidget* window, int eye, const QString& path, int maxSeconds = 30);

}  // namespace norvix
