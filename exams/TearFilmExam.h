#pragma once
// The road of a tear-film (NIBUT) exam, apart from any window: the eye and the doctor chosen,
// the rings filmed into a temporary file of the installation, the film analysed under a
// cancellable progress dialog, the result shown, and stored only when the operator keeps it.
// The recording and the analysis come in as functions, so that the road runs (and is tested)
// without the capture module; the program binds the real ones (bindTearFilmSeams).
#include <QString>
#include <QStringList>
#include <functional>

#include "ExamKind.h"
#include "records/UDLagrima.h"
#include "tearfilm/TearFilm.h"

class QWidget;

namespace norvix {

class TearFilmExam {
public:
    struct Choice {
        int eye = 1;       // 0 left, 1 right (the capture module's index)
        QString doctor;    // the responsible doctor's name
    };
    struct Seams {
        // recordTearFilm (exams/TearFilmCapture.h).
        std::function<StepOutcome(QWidget* window, int eye, const QString& path, int maxSeconds)> record;
        // lagrima::analyseRecording (tearfilm/TearFilm.h).
        std::function<bool(const QString& path, lagrima::TearFilmResult* result, QString* error,
                           const std::function<bool(int, int)>& progress)>
            analyse;
        // The eye and doctor; false when the operator gave up. Default: the choice dialog.
        std::function<bool(QWidget* window, const QStringList& doctors, Choice* choice)> choose;
        // The result shown with Gravar and Descartar; true for Gravar. Default: the result window.
        std::function<bool(QWidget* window, const QString& patientName, const TExameLagrima& exam,
                           const lagrima::TearFilmResult& result)>
            decide;
    };
    // The program's bindings; a missing record or analyse makes the road say the exam is not
    // available here.
    static Seams& seams();

    // window: the parent of what the road shows; patient: the browser's patient.
    TearFilmExam(QWidget* window, int patient, QString patientName, Seams seams = TearFilmExam::seams());

    // The whole road; the code stored, or 0 when nothing was stored (cancelled, refused or
    // failed, each failure told through the message seam). doctor: the one proposed first.
    int run(const QString& doctor = QString());
    // From the recording on, for a choice already made.
    int run(const Choice& choice);

    static constexpr int kMaxSeconds = 30;
    static const QString kCaption;  // "Filme Lacrimal (NIBUT)"

private:
    // The analysis on a worker thread, the progress dialog on this one. False: cancelled or
    // refused (error empty when cancelled).
    bool analyse(const QString& path, lagrima::TearFilmResult* result, QString* error);
    void fail(const QString& text) const;

    QWidget* window_;
    int patient_;
    QString patientName_;
    Seams seams_;
};

// The real recording and analysis, where this build has them (capture module and analysis
// built in); otherwise nothing is bound and the road says so.
void bindTearFilmSeams(TearFilmExam::Seams& seams);

}  // namespace norvix
