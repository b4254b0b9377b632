// A clinic's backup and restore run headless, to be killed by backup_queda_test at any moment:
//   backup_queda prepara <raiz> <exames>   a clinic with that many exams (files included)
//   backup_queda muda <raiz> <nome>        a patient with three exams more, as a day's work
//   backup_queda reprocessa <raiz>         every exam's map file written again
//   backup_queda backup <raiz>             "Iniciar Backup", every question answered as offered
//   backup_queda restaura <raiz>           "Restaurar", the same
// The clinic lives under <raiz>: qv (installation, BackUp.ini), qv/Banco de Dados, Exames,
// Laudos, and midia (the backup medium). Exit 0 when the window said it succeeded.
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QLocale>
#include <cstdio>

#include "BackupTestSupport.h"
#include "backup/CopiaBanco.h"
#include "backup/UfrmBackup.h"
#include "config/SharedRecords.h"
#include "db/DbTestSupport.h"
#include "records/UDLaudos.h"
#include "records/UfrmDataModule.h"

using norvix::TfrmBackup;

using namespace backup_test;
using norvix::TDMPrincipal;

namespace {

struct Clinica {
    QString raiz;
    QString qv() const { return raiz + "/qv"; }
    QString banco() const { return qv() + "/Banco de Dados"; }
    QString exames() const { return raiz + "/Exames"; }
    QString laudos() const { return raiz + "/Laudos"; }
    QString midia() const { return raiz + "/midia"; }
};

int codigo(TDMPrincipal& dm, const char* tabela) {
    return dm.selectInt(QStringLiteral("SELECT MAX(Codigo) AS Codigo FROM %1").arg(tabela), {}, "Codigo",
                        TDMPrincipal::Close::Yes);
}

// A patient with `exames` exams (three files each, some kilobytes) and a report on the first.
void paciente(TDMPrincipal& dm, const Clinica& c, const QString& nome, int exames) {
    if (dm.selectInt("SELECT COUNT(*) FROM Medicos", {}, "COUNT", TDMPrincipal::Close::Yes) == 0)
        dm.execProcedure(QString::fromLatin1(dbtest::kInsertMedicos), dbtest::medicoTexts("DR QUEDA"));
    const int medico = codigo(dm, "Medicos");
    norvix::FbParams p = dbtest::pacienteTexts(nome);
    p.push_back({"DtCadastro", QDate(2026, 12, 1)});
    p.push_back({"TotalExames", exames});
    dm.execProcedure(QString::fromLatin1(dbtest::kInsertPacientes), p);
    const int pac = codigo(dm, "Pacientes");
    for (int k = 0; k < exames; ++k) {
        dm.execProcedure(QString::fromLatin1(dbtest::kInsertExames),
                         {{"CodPaciente", pac}, {"CodResp", medico}, {"Data", QDate(2026, 12, 1 + k % 28)},
                          {"Hora", QTime(8 + k / 60, k % 60)}, {"Olho", k % 2 ? "OS" : "OD"}, {"IndConf", 0.9},
                          {"TipoExame", "T"}, {"Backup", ""}, {"Diag", "diag"}, {"Observacao", "obs"},
                          {"NumAneis", 32}, {"TipoCone", "1"}});
        const int exame = codigo(dm, "Exames");
        for (char letra : {'a', 'd', 'm'})
            escreve(QStringLiteral("%1/%2/%3%4.txt").arg(c.exames()).arg(pac).arg(exame).arg(letra),
                    QByteArray(3000 + 100 * (exame % 7), char('A' + (exame + letra) % 26)));
        if (k == 0) {
            norvix::DLaudos().InsertLaudos(pac, exame, -1, "", QDate(2026, 12, 1), QTime(11, 0));
            escreve(QStringLiteral("%1/%2/%3l.txt").arg(c.laudos()).arg(pac).arg(codigo(dm, "Laudos")), "laudo " + nome.toUtf8());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QLocale::setDefault(QLocale::c());
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "uso: backup_queda prepara|muda|reprocessa|backup|restaura <raiz> [...]\n");
        return 2;
    }
    const QString acao = args[1];
    const Clinica c{QDir(args[2]).absolutePath()};
    qputenv("NORVIX_BACKUP_DIR", QFile::encodeName(c.qv()));
    if (acao == "prepara") {
        for (const QString& pasta : {c.banco(), c.exames(), c.laudos(), c.midia()}) QDir().mkpath(pasta);
        escreve(c.qv() + "/BackUp.ini",
                "[BACKUP]\r\nTipoBkp=ZIP\r\nDiscoAtual=1\r\nDrive=e\r\n[UNIDADES]\r\nE=" + c.midia().toUtf8() + "\r\n");
        if (!QFile::copy(qEnvironmentVariable("NORVIX_TEMPLATE_DB"), c.banco() + "/DATABASE.GDB")) return 3;
        QFile::setPermissions(c.banco() + "/DATABASE.GDB", QFile::ReadOwner | QFile::WriteOwner);
    }
    auto& p = norvix::paths();
    norvix::setRecordText(p.DirQV, c.qv());
    norvix::setRecordText(p.BancoDados, c.banco());
    norvix::setRecordText(p.Exames, c.exames());
    norvix::setRecordText(p.Laudos, c.laudos());
    norvix::setRecordText(p.Backup, qEnvironmentVariable("NORVIX_BIN_DIR") + "/Backup.so");
    // What the program does at start-up before it opens the database.
    if (const QString relato = norvix::recuperaInstalacao(c.banco(), {c.exames(), c.laudos()}); !relato.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(relato));
    TDMPrincipal dm;
    if (!dm.PSetDataBaseName(c.banco() + "/DATABASE.GDB")) return 4;

    // Exams processed again: a restore has to put back the files of the day of the backup.
    if (acao == "reprocessa") {
        for (QDirIterator it(c.exames(), {"*m.txt"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            escreve(it.next(), "processado de novo");
        return 0;
    }
    if (acao == "prepara" || acao == "muda") {
        const int exames = acao == "prepara" ? args.value(3).toInt() : 3;
        const QString nome = acao == "prepara" ? QStringLiteral("PACIENTE") : args.value(3);
        for (int feitos = 0, k = 0; feitos < exames; feitos += 6, ++k)
            paciente(dm, c, QStringLiteral("%1 %2").arg(nome).arg(k), std::min(6, exames - feitos));
        return 0;
    }
    // The window's questions answered as offered (a yes to a question, OK to a notice); the
    // module's message boxes by their default button.
    SeamComAcao seam([](const norvix::ShownMessage& m) {
        std::fprintf(stderr, "%s\n", qPrintable(m.text));
        return m.buttons == norvix::MsgButtons::YesNo || m.buttons == norvix::MsgButtons::YesNoCancel ? norvix::MsgAnswer::Yes
                                                                                                       : norvix::MsgAnswer::Ok;
    });
    Respondedor modulo;
    auto* janela = new TfrmBackup(nullptr);
    janela->FormShow();
    QString sucesso;
    if (acao == "backup") {
        janela->btnIniciarBkpClick();
        sucesso = QStringLiteral("Backup dos Exames e Laudos concluído com êxito");
    } else if (acao == "restaura") {
        janela->btnRestaurarClick();
        sucesso = QStringLiteral("Restauração concluída com êxito");
    } else {
        return 2;
    }
    const bool ok = !seam.textos.isEmpty() && seam.textos.last() == sucesso;
    delete janela;
    return ok ? 0 : 1;
}
