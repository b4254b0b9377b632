#pragma once
// The exam export file (.exp): patient, exam and doctor lines, the exam's three data files and
// the instrument's calibration files, each line scrambled with one fixed byte.
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace norvix {

class TfrmExames;

class TExamExport {
public:
    // The byte every character is combined with. It scrambles the file so that it is not read
    // as plain text by accident; it protects nothing (anyone with one file can undo it). A
    // control character as key keeps every scrambled text character clear of CR and LF, so
    // the file still splits into its lines.
    static constexpr unsigned char kKey = 0x1B;
    static constexpr int kMaxLine = 255;

    // The export of the browser's selected exam: the save dialog, the file, the messages.
    static void Run(TfrmExames& browser);

    // The plain lines of an exam: patient name, code and RG; the eye; date and time; the
    // doctor; then "#" and each data file, "#" and each of the four calibration files and
    // Coef.txt. Raises norvix::Error naming the first file that is missing or unreadable.
    static QStringList Lines(const QString& patientName, int patientCode, const QString& rg, const QString& eye,
                             const QString& date, const QString& time, const QString& doctor,
                             const QString& examPrefix, const QString& calibrationDir);
    // Each line cut at kMaxLine characters, scrambled, written as Windows-1252 with CR LF.
    static QByteArray Scramble(const QStringList& lines);
    static QStringList Unscramble(const QByteArray& file);
    // Writes the file whole or not at all (an existing file is replaced only by a complete one).
    // Raises norvix::Error with the reason.
    static void Write(const QString& fileName, const QByteArray& content);
};

}  // namespace norvix
