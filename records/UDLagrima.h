#pragma once
// Reads and writes of the tear-film (NIBUT) exams, table EXAMESLAGRIMA: one row per exam with
// its figures, its result as JSON text and its recording, so that the database copy of the
// backup carries it whole. The table is added to a clinic's database that lacks it when the
// database opens (GaranteTabelaLagrima).
#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QTime>
#include <optional>

namespace norvix::lagrima {
struct TearFilmResult;
}

namespace norvix {

class FbDatabase;

struct TExameLagrima {
    int codigo = 0;
    int paciente = 0;
    int medico = 0;
    QString nomeMedico;   // filled by SelectByCodigo; empty when the doctor is gone
    QDate data;
    QTime hora;
    QString olho;         // "OD" or "OS", as EXAMES
    double primeira = 0;  // NaN: no break
    double media = 0;     // NaN: no break
    double area = 0;      // % of the analysed area broken at the end
    double piscada = 0;   // NaN: no blink
    double duracao = 0;   // seconds analysed
    double fps = 0;
    QByteArray resultado; // the result's JSON (filled by SelectByCodigo and UltimoDoOlho)

    bool direito() const { return olho == QLatin1String("OD"); }
    // The browser's caption, two lines as wide as a topography's: "OD - dd/MM/yyyy HH:mm:ss"
    // and the first break ("NIBUT 6,2 s" or "NIBUT sem ruptura").
    QString legenda() const;
    // The result read back from resultado; false with the Portuguese reason.
    bool result(lagrima::TearFilmResult* out, QString* error) const;
};

struct TExameLagrimaNovo {
    int paciente = 0;
    int medico = 0;
    QDate data;
    QTime hora;
    QString olho;
};

// Creates EXAMESLAGRIMA and its index where missing, each in a transaction of its own on the
// attachment (never the data module's). Harmless when they exist, and when another workstation
// creates them at the same moment. Empty when the table is there afterwards; otherwise the
// Portuguese message (nothing else in the database is touched).
QString GaranteTabelaLagrima(FbDatabase& database);
// What GaranteTabelaLagrima said at the data module's last connection: empty when the table is
// there; otherwise the Portuguese notice, and the tear-film exams are unavailable (the other
// exams are not affected).
QString AvisoTabelaLagrima();
void DefineAvisoTabelaLagrima(const QString& aviso);

class TDLagrima {
public:
    // The exam, its result and its recording (the recording file's bytes) in one transaction
    // of their own, under the patient's row lock. Returns the code. Raises Error when the
    // patient is gone, DatabaseError when the database refuses (nothing stored then).
    int Grava(const TExameLagrimaNovo& exame, const lagrima::TearFilmResult& result, const QByteArray& gravacao);
    // The same inside the caller's transaction (no commit).
    int Insere(const TExameLagrimaNovo& exame, const lagrima::TearFilmResult& result, const QByteArray& gravacao);

    // The patient's exams (of one doctor when CodMed is not 0), newest first, without the
    // result and the recording.
    QList<TExameLagrima> SelectByPaciente(int CodPac, int CodMed = 0);
    std::optional<TExameLagrima> SelectByCodigo(int Codigo);
    QByteArray SelectGravacao(int Codigo);
    // The patient's newest exam of that eye ("OD"/"OS"), with its result; none when none.
    std::optional<TExameLagrima> UltimoDoOlho(int CodPac, const QString& olho);
    int CountByPaciente(int CodPac);

    void DeleteByCodigo(int Codigo);      // no commit
    void DeleteByPaciente(int CodPac);    // no commit
    // One exam in a transaction of its own.
    void Exclui(int Codigo);
};

TDLagrima& DLagrima();

}  // namespace norvix
