// db_estacao: a second workstation for the database server test, in a process of its own with
// its own data module. It reads one command per line on standard input and answers each with
// one line on standard output: "ok" with the value asked for, or "erro" with the message.
//
//   conecta <banco>                  PSetDataBaseName
//   paciente <nome>                  TDPacientes::InsertPacientes (commits)
//   pacientes <n> <prefixo>          n of them, named <prefixo>1 ... <prefixo>n
//   codigo <nome>                    TDPacientes::SelectCodigoByNome
//   diag-pendente <exame> <texto>    the diagnosis changed and not yet committed
//   diag <exame>                     the diagnosis as this workstation reads it
//   exame-pendente <paciente> <hora> an exam of doctor 1 stored as a new exam stores its row
//                                    and the patient's counters, in a batch not yet committed
//   espera <ms>                      pauses (the next commands wait behind it)
//   commit                           commits that batch, else PCommitDataBase
#include <QCoreApplication>
#include <QDate>
#include <QLocale>
#include <QTextStream>
#include <QThread>
#include <memory>

#include "records/UDExames.h"
#include "records/UDPacientes.h"
#include "records/UfrmDataModule.h"

using namespace norvix;

namespace {

std::unique_ptr<TDMPrincipal::Batch> lote;  // the batch "exame-pendente" leaves open

void novoPaciente(const QString& nome) {
    DPacientes().InsertPacientes(nome, "", "", "F", "S", "", "", "", "", "", "", "", "", "", "",
                                 "", "", "", "", "", "", "", QDate::currentDate(), 0);
}

QString executa(TDMPrincipal& dm, const QString& linha) {
    const QString comando = linha.section(QLatin1Char(' '), 0, 0);
    const QString resto = linha.section(QLatin1Char(' '), 1);
    const QString arg1 = resto.section(QLatin1Char(' '), 0, 0);
    const QString arg2 = resto.section(QLatin1Char(' '), 1);
    if (comando == "conecta") {
        QString motivo;
        if (dm.PSetDataBaseName(resto, &motivo)) return QString();
        return QStringLiteral("erro ") + motivo;
    }
    if (comando == "paciente") {
        novoPaciente(resto);
        return QString();
    }
    if (comando == "pacientes") {
        for (int i = 1; i <= arg1.toInt(); ++i) novoPaciente(arg2 + QString::number(i));
        return QString();
    }
    if (comando == "codigo") return QString::number(DPacientes().SelectCodigoByNome(resto));
    if (comando == "diag-pendente") {
        dm.execProcedure("Execute Procedure UpdateDiagExameByCodigo :Codigo,:Diag",
                         {{"Codigo", arg1.toInt()}, {"Diag", arg2}}, TDMPrincipal::Commit::No,
                         TDMPrincipal::Close::Yes);
        return QString();
    }
    if (comando == "diag")
        return dm.selectString("SELECT Diag FROM Exames WHERE Codigo = :Codigo",
                               {{"Codigo", arg1.toInt()}}, "Diag", TDMPrincipal::Close::Yes);
    if (comando == "exame-pendente") {
        const int paciente = arg1.toInt();
        const QTime hora = QTime::fromString(arg2, QStringLiteral("HH:mm:ss"));
        lote = std::make_unique<TDMPrincipal::Batch>(dm);
        DPacientes().BloqueiaPaciente(paciente);
        DExames().InsertExames(paciente, 1, QDate(2024, 5, 6), hora, "OD", 0.9, "T", "", "", "", 32, "1");
        DPacientes().AtualizaContadores(paciente, "OD 06/05/2024 " + arg2);
        return QString();
    }
    if (comando == "espera") {
        QThread::msleep(arg1.toULong());
        return QString();
    }
    if (comando == "commit") {
        if (lote) {
            lote->commit();
            lote.reset();
        } else {
            dm.PCommitDataBase();
        }
        return QString();
    }
    return QStringLiteral("erro comando desconhecido: ") + comando;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    TDMPrincipal dm;
    QTextStream entrada(stdin);
    QTextStream saida(stdout);
    QString linha;
    while (entrada.readLineInto(&linha)) {
        QString resposta;
        try {
            resposta = executa(dm, linha.trimmed());
            if (!resposta.startsWith(QLatin1String("erro ")))
                resposta = (QStringLiteral("ok ") + resposta).trimmed();
        } catch (const std::exception& e) {
            resposta = QStringLiteral("erro ") + QString::fromUtf8(e.what());
        }
        saida << resposta << Qt::endl;
    }
    return 0;
}
