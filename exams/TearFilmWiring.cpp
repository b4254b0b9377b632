// The tear-film road's real recording and analysis. A build without the capture module's video
// recording or the recording's analysis leaves them unbound, and the road tells the operator
// the exam is not available rather than failing to link.
#include "TearFilmExam.h"

#if NORVIX_TEARFILM_IMPLEMENTED
#include "exams/TearFilmCapture.h"
#endif

namespace norvix {

void bindTearFilmSeams(TearFilmExam::Seams& seams) {
#if NORVIX_TEARFILM_IMPLEMENTED
    seams.record = [](QWidget* window, int eye, const QString& path, int maxSeconds) {
        return recordTearFilm(window, eye, path, maxSeconds);
    };
    seams.analyse = [](const QString& path, lagrima::TearFilmResult* result, QString* error,
                       const std::function<bool(int, int)>& progress) {
        return lagrima::analyseRecording(path, result, error, progress);
    };
#else
    (void)seams;
#endif
}

}  // namespace norvix
