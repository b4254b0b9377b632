#pragma once
// The user's regional values ("Control Panel\International") kept in a per-user profile file.
// The workstation writes its own notation there for the length of a run and puts the user's
// values back when the main window closes.
#include <QString>
#include <array>
#include "platform/ProfileFile.h"

namespace norvix {

class TBRegConfig {
public:
    static constexpr int kCount = 6;
    using Values = std::array<QString, kCount>;  // sDecimal, sShortDate, sThousand, sTimeFormat, s1159, s2359

    // fileName empty: $XDG_CONFIG_HOME/NORVIX/registro.ini (default ~/.config).
    explicit TBRegConfig(QString fileName = QString());

    // Reads the six values into the saved set; a missing file or value reads as empty. An
    // unreadable file shows "Problemas ao ler registro" and keeps what was read before.
    void SaveCurrent();
    void SetValues(const QString& decimal, const QString& shortDate, const QString& thousand,
                   const QString& timeFormat, const QString& am, const QString& pm);
    void Apply();
    void Restore();

    const Values& saved() const { return saved_; }
    const QString& fileName() const { return fileName_; }
    static QString defaultFileName();
    static const char* valueName(int i);

private:
    void write(const Values& values, norvix::ProfileFile::Flush flush);
    QString fileName_;
    Values saved_;
    Values toApply_;
    bool opened_ = false;  // the key opened at SaveCurrent
};

}  // namespace norvix
