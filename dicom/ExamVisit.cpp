#include "dicom/ExamVisit.h"

#include <algorithm>

namespace norvix::dicom {

namespace {

QDateTime takenAt(const TExame& e) { return QDateTime(e.data, e.hora.isValid() ? e.hora : QTime(0, 0)); }

bool takenBefore(const TExame& a, const TExame& b) {
    const QDateTime ta = takenAt(a), tb = takenAt(b);
    return ta != tb ? ta < tb : a.codigo < b.codigo;
}

}  // namespace

ExamVisit visitOf(const TExame& exam, const QList<TExame>& patientExams) {
    QList<TExame> day;
    bool listed = false;
    for (const TExame& e : patientExams) {
        if (e.data != exam.data || e.ortoceratologia()) continue;
        day << (e.codigo == exam.codigo ? exam : e);
        listed = listed || e.codigo == exam.codigo;
    }
    if (!listed) day << exam;
    std::sort(day.begin(), day.end(), takenBefore);

    ExamVisit visit;
    for (const TExame& e : day) {
        const bool joins = !visit.exams.isEmpty() && takenAt(e) <= visit.start.addSecs(kSessionMinutes * 60) &&
                           std::none_of(visit.exams.begin(), visit.exams.end(),
                                        [&](const TExame& in) { return in.olho == e.olho; });
        if (!joins) {
            // The visit being built is over: it was the exam's, or the next one is.
            if (std::any_of(visit.exams.begin(), visit.exams.end(),
                            [&](const TExame& in) { return in.codigo == exam.codigo; }))
                break;
            visit = {QStringLiteral("E%1").arg(e.codigo), takenAt(e), {}};
        }
        visit.exams << e;
    }
    return visit;
}

}  // namespace norvix::dicom
