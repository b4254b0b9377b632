#include "ExamExport.h"

#include <QFile>
#include <QSaveFile>

#include "UfrmExames.h"
#include "config/SharedRecords.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"
#include "platform/ui/FileDialogSeam.h"
#include "platform/ui/MessageSeam.h"
#include "records/UArquivosExame.h"
#include "records/UDMedicos.h"
#include "records/UfrmDataModule.h"

namespace norvix {

namespace {

QStringList fileLines(const QString& path) {
    QFile f(path);
    if (!f.exists()) throw norvix::Error(QStringLiteral("Arquivo %1 não encontrado.").arg(path));
    if (!f.open(QIODevice::ReadOnly))
        throw norvix::Error(QStringLiteral("Não foi possível ler o arquivo %1 (%2).").arg(path, f.errorString()));
    QList<QByteArray> raw = f.readAll().split('\n');
    if (!raw.isEmpty() && raw.last().isEmpty()) raw.removeLast();
    QStringList lines;
    for (QByteArray& l : raw) {
        if (l.endsWith('\r')) l.chop(1);
        lines << norvix::fromCp1252(l);
    }
    return lines;
}

}  // namespace

QStringList TExamExport::Lines(const QString& patientName, int patientCode, const QString& rg, const QString& eye,
                               const QString& date, const QString& time, const QString& doctor,
                               const QString& examPrefix, const QString& calibrationDir) {
    QStringList lines{patientName, QString::number(patientCode), rg, eye, date, time, doctor};
    for (const char* f : {"d.txt", "m.txt", "a.txt"}) {
        lines << QStringLiteral("#");
        lines << fileLines(examPrefix + QLatin1String(f));
    }
    // An installation never calibrated has none of these: say what to do rather than which file.
    for (const QString& f : {QStringLiteral("1.txt"), QStringLiteral("2.txt"), QStringLiteral("3.txt"),
                             QStringLiteral("4.txt"), QStringLiteral("Coef.txt")})
        if (!QFile::exists(calibrationDir + f))
            throw norvix::Error(QStringLiteral("O instrumento ainda não foi calibrado (falta %1 em %2). Faça a calibração "
                                               "com as quatro esferas na tela \"Calibração\" e exporte de novo.")
                                    .arg(f, calibrationDir));
    for (int n = 1; n <= 4; ++n) {
        lines << QStringLiteral("#");
        lines << fileLines(calibrationDir + QString::number(n) + QStringLiteral(".txt"));
    }
    lines << QStringLiteral("#");
    lines << fileLines(calibrationDir + QStringLiteral("Coef.txt"));
    return lines;
}

QByteArray TExamExport::Scramble(const QStringList& lines) {
    QByteArray out;
    for (const QString& line : lines) {
        QByteArray bytes = norvix::toCp1252(line.left(kMaxLine));
        for (char& c : bytes) c = char(static_cast<unsigned char>(c) ^ kKey);
        out += bytes;
        out += "\r\n";
    }
    return out;
}

QStringList TExamExport::Unscramble(const QByteArray& file) {
    QStringList lines;
    QList<QByteArray> raw = file.split('\n');
    if (!raw.isEmpty() && raw.last().isEmpty()) raw.removeLast();
    for (QByteArray& l : raw) {
        if (l.endsWith('\r')) l.chop(1);
        for (char& c : l) c = char(static_cast<unsigned char>(c) ^ kKey);
        lines << norvix::fromCp1252(l);
    }
    return lines;
}

void TExamExport::Write(const QString& fileName, const QByteArray& content) {
    QSaveFile file(fileName);
    // Unbuffered so that a disk filling up shows in the count, and the old file stays.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw norvix::Error(QStringLiteral("Não foi possível criar o arquivo %1 (%2).").arg(fileName, file.errorString()));
    if (file.write(content) != content.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw norvix::Error(QStringLiteral("Não foi possível gravar o arquivo %1 (%2).").arg(fileName, reason));
    }
    if (!file.commit())
        throw norvix::Error(QStringLiteral("Não foi possível gravar o arquivo %1 (%2).").arg(fileName, file.errorString()));
}

void TExamExport::Run(TfrmExames& browser) {
    using norvix::MsgButtons;
    using norvix::MsgIcon;
    QStringList lines;
    try {
        const std::optional<norvix::TExame> exam = browser.selectedExam();
        if (!exam) throw norvix::Error(QStringLiteral("O exame selecionado não foi encontrado."));
        const std::optional<norvix::TPaciente> patient = norvix::DPacientes().SelectPacienteByCodigo(exam->paciente);
        if (!patient) throw norvix::Error(QStringLiteral("O paciente do exame não foi encontrado."));
        const QString name = patient->nome;
        const int code = patient->codigo;
        const QString rg = patient->rg;
        const QString eye = exam->direito() ? QStringLiteral("Olho Direito") : QStringLiteral("Olho Esquerdo");
        const QString date = exam->data.toString(QStringLiteral("dd/MM/yyyy"));
        const QString time = exam->hora.toString(QStringLiteral("HH:mm:ss"));
        const int examCode = exam->codigo;
        const int doctorCode = exam->medico;
        const QString prefix = norvix::CaminhoArquivoExame(code, examCode, 'd').chopped(5);
        lines = Lines(name, code, rg, eye, date, time, norvix::DMedicos().SelectNomeByCodigo(doctorCode), prefix,
                      norvix::recordText(norvix::paths().DirQV) + QStringLiteral("/Calibração/"));
    } catch (const norvix::Error& e) {
        norvix::showMessage(QStringLiteral("Erro ao exportar o exame.\r") + e.message(), QStringLiteral("Exportação"),
                            MsgIcon::Error, MsgButtons::Ok, &browser);
        return;
    }
    QString fileName = norvix::askFileName({norvix::FileDialogRequest::Save, QStringLiteral("Exportação de Exame"),
                                            QString(), QString(), QStringLiteral("Arquivo Exportação (*.exp)")},
                                           &browser);
    if (fileName.isEmpty()) return;
    // A name already ending in .exp is not given a second one.
    if (!fileName.endsWith(QStringLiteral(".exp"), Qt::CaseInsensitive)) fileName += QStringLiteral(".exp");
    try {
        Write(fileName, Scramble(lines));
    } catch (const norvix::Error& e) {
        norvix::showMessage(QStringLiteral("Erro ao exportar o exame.\r") + e.message(), QStringLiteral("Exportação"),
                            MsgIcon::Error, MsgButtons::Ok, &browser);
        return;
    }
    if (QFile::exists(fileName))
        norvix::showMessage(QStringLiteral("Arquivo exportado com sucesso."), QStringLiteral("Exportação"),
                            MsgIcon::Information, MsgButtons::Ok, &browser);
    else
        norvix::showMessage(QStringLiteral("Erro ao exportar o exame."), QStringLiteral("Exportação"), MsgIcon::Error,
                            MsgButtons::Ok, &browser);
}

}  // namespace norvix
