#include "Logging.h"

namespace norvix {

Q_LOGGING_CATEGORY(lcCapture, "norvix.capture")
Q_LOGGING_CATEGORY(lcExams, "norvix.exams")
Q_LOGGING_CATEGORY(lcOutside, "norvix.outside")
Q_LOGGING_CATEGORY(lcPlatform, "norvix.platform")
Q_LOGGING_CATEGORY(lcReports, "norvix.reports")

}  // namespace norvix
