// The tear-film road's real recording (the capture module's video) and analysis, bound where the
// program starts; the tests bind fakes instead.
#include "TearFilmExam.h"
#include "exams/TearFilmCapture.h"

namespace norvix {

void bindTearFilmSeams(TearFilmExam::Seams& seams) {
    seams.record = [](QWidget* window, int eye, const QString& path, int maxSeconds) {
        return recordTearFilm(window, eye, path, maxSeconds);
    };
    seams.analyse = [](const QString& path, lagrima::TearFilmResult* result, QString* error,
                       const std::function<bool(int, int)>& progress) {
        return lagrima::analyseRecording(path, result, error, progress);
    };
}

}  // namespace norvix
