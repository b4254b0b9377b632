#pragma once
// One logging category per folder, so that a clinic's log (stderr, or the journal) can be sorted
// and filtered by part: QT_LOGGING_RULES="norvix.capture.info=false" and the like.
#include <QLoggingCategory>

namespace norvix {

Q_DECLARE_LOGGING_CATEGORY(lcCapture)   // capture/
Q_DECLARE_LOGGING_CATEGORY(lcExams)     // exams/
Q_DECLARE_LOGGING_CATEGORY(lcOutside)   // outside/ (the reference modules)
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)  // platform/
Q_DECLARE_LOGGING_CATEGORY(lcReports)   // reports/

}  // namespace norvix
