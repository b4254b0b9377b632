#include "UBRegConfig.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include "platform/ui/MessageSeam.h"
#include "platform/ProfileFile.h"

namespace norvix {

namespace {
const char* const kNames[TBRegConfig::kCount] = {"sDecimal",    "sShortDate", "sThousand",
                                                 "sTimeFormat", "s1159",      "s2359"};
const QString kSection = QStringLiteral("Control Panel\\International");
}  // namespace

TBRegConfig::TBRegConfig(QString fileName)
    : fileName_(fileName.isEmpty() ? defaultFileName() : std::move(fileName)) {}

QString TBRegConfig::defaultFileName() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/NORVIX/registro.ini");
}

const char* TBRegConfig::valueName(int i) { return kNames[i]; }

void TBRegConfig::SaveCurrent() {
    const QFileInfo info(fileName_);
    // A key that does not exist is not an error: nothing is read.
    if (!info.exists()) return;
    opened_ = true;
    if (!info.isFile() || !info.isReadable()) {
        norvix::showMessage(QStringLiteral("Problemas ao ler registro"), QStringLiteral("ERRO"),
                            norvix::MsgIcon::Error);
        return;
    }
    const norvix::ProfileFile file(fileName_);
    for (int i = 0; i < kCount; ++i)
        saved_[i] = file.readString(kSection, QLatin1String(kNames[i]), QString());
}

void TBRegConfig::SetValues(const QString& decimal, const QString& shortDate, const QString& thousand,
                            const QString& timeFormat, const QString& am, const QString& pm) {
    toApply_ = {decimal, shortDate, thousand, timeFormat, am, pm};
}

// The program's values are not flushed to the disk: they live for the run only, and a power cut
// that lost them would have ended the run that needs them. The start saves a journal commit.
void TBRegConfig::Apply() { write(toApply_, norvix::ProfileFile::Flush::Later); }

void TBRegConfig::Restore() {
    // A user who had no regional file gets none back instead of a file of empty values.
    if (!opened_) {
        QFile::remove(fileName_);
        return;
    }
    write(saved_, norvix::ProfileFile::Flush::ToDisk);  // the user's own values are kept
}

void TBRegConfig::write(const Values& values, norvix::ProfileFile::Flush flush) {
    QDir().mkpath(QFileInfo(fileName_).absolutePath());
    // One rewrite for the six values, not six.
    QList<std::pair<QString, QString>> entries;
    for (int i = 0; i < kCount; ++i) entries.append({QLatin1String(kNames[i]), values[i]});
    norvix::ProfileFile(fileName_).writeStrings(kSection, entries, nullptr, flush);
}

}  // namespace norvix
