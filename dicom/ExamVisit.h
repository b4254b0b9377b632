#pragma once
// Which exams make one visit: the study a PACS files them under. An exam row is one eye; the
// visit joins the eyes taken together, so that both eyes of one sitting are one study.
//
// The rule, over one patient's topography exams of one date in the order taken (time, then
// code): a visit starts at an exam and takes each following exam taken within kSessionMinutes
// of the visit's first one, as long as that eye is not in the visit yet; anything else starts
// the next visit. A retake of the same eye therefore opens a new visit, which the other eye
// taken after it joins. The key is the code of the visit's first exam: a later exam never
// changes the visit of an earlier one, so sending again always gives the same study. Only
// deleting the first exam of a visit gives the remaining eye another key.
#include <QDateTime>
#include <QList>
#include <QString>

#include "records/UDExames.h"

namespace norvix::dicom {

inline constexpr int kSessionMinutes = 30;

struct ExamVisit {
    QString key;          // "E" and the code of the visit's first exam
    QDateTime start;      // when the first exam was taken
    QList<TExame> exams;  // one per eye at most, in the order taken
};

// The visit of `exam` among the patient's exams (`exam` itself included or not, any order;
// those of other dates and orthokeratology exams are passed over).
ExamVisit visitOf(const TExame& exam, const QList<TExame>& patientExams);

}  // namespace norvix::dicom
