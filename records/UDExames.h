#pragma once
// Reads and writes of the EXAMES and EXAMESORTO tables, and the forward navigator over the
// exams that share one column value (the backup walks the exams not yet backed up with it).
#include <QDate>
#include <QList>
#include <QString>
#include <QTime>
#include <optional>

namespace norvix {

class FbDataSet;
class FbQuery;

// The orthokeratology values of an exam (its EXAMESORTO row).
struct TOrtoExame {
    double sag = 0, div = 0, raio = 0;
};

// One EXAMES row as a value. Windows keep an exam by its code and act on this value, never on
// where a shared cursor happens to stand (a commit closes every cursor, a reload moves it).
struct TExame {
    int codigo = 0;
    int paciente = 0;
    int medico = 0;
    QString nomeMedico;  // filled by SelectExameByCodigo; empty when the doctor is gone
    QString olho;        // "OD" or "OS"
    QDate data;
    QTime hora;
    QString tipo;        // "T" topography, "O" orthokeratology
    QString diag;
    QString observacao;
    double indConf = 0;
    int numAnel = 0;
    QString tipoCone;
    std::optional<TOrtoExame> orto;  // filled by SelectExameByCodigo for an exam of type "O"

    bool ortoceratologia() const { return tipo == QLatin1String("O"); }
    bool direito() const { return olho == QLatin1String("OD"); }
    // The exam list's caption: "OD - dd/MM/yyyy HH:mm:ss".
    QString legenda() const;
    // The columns of the row a cursor stands on (raises DatabaseError when there is none).
    static TExame daLinha(const FbDataSet& cursor);
};

// A navigator over "SELECT * FROM <table> WHERE <table>.<column>=:Content" on a shared
// query cursor; it does nothing until opened. Used by the exam and the report tables.
class TNavegadorRegistros {
public:
    TNavegadorRegistros(const char* tabela, FbQuery& (*cursor)());
    void Abre() { aberto_ = true; }
    void Fecha();
    bool Aberto() const { return aberto_; }
    // Empty Comando: runs the statement for Campo = Conteudo and stands on the first row;
    // then "First", "Next" (stays on the last row at the end) or "Prior". Campo must be a
    // column name: anything else is refused, it would become part of the statement.
    void Navegar(const QString& Campo, const QString& Conteudo, const QString& Comando);
    // The column of the current row; 0 when closed or when there is no row.
    int Inteiro(const char* coluna) const;

private:
    const char* tabela_;
    FbQuery& (*cursor_)();
    bool aberto_ = false;
};

class TDExames {
public:
    TDExames();

    void InsertExames(int CodPaciente, int CodResp, const QDate& Data, const QTime& Hora,
                      const QString& Olho, double IndConf, const QString& TipoExame,
                      const QString& Backup, const QString& Diag, const QString& Observacao,
                      int NumAneis, const QString& TipoCone);
    void InsertExamesOrto(int ECodExame, double EDiv, double EExc, double ERaio, double ESag);
    void UpdateBackupExameByCodigo(int Codigo, const QString& Backup);  // no commit
    bool ZeraBackupExames();  // no commit; false when anything failed, without a message
    void UpdateDiagExameByCodigo(int Codigo, const QString& Diag);
    void UpdateObsExameByCodigo(int Codigo, const QString& Obs);
    // The diagnosis (observation) replaced only while the stored text is still `Mostrado`, the
    // one the operator was shown (a NULL column counts as the empty text; trailing blanks and
    // case count): true when it was, committed; false when another workstation stored another
    // text meanwhile or deleted the exam, and nothing was written.
    bool UpdateDiagExameSeInalterado(int Codigo, const QString& Mostrado, const QString& Diag);
    bool UpdateObsExameSeInalterado(int Codigo, const QString& Mostrado, const QString& Obs);
    void DeleteExamesByCodigo(int Codigo);
    void DeleteExamesOrtoByCodigoExame(int CodExame);

    // Reads: the named column of the first row, 0 when there is no row.
    int SelectCodRespByCodigo(int Codigo);
    int CountExames();
    int CountExamesByMedico(int CodMed);
    int CountExamesByMedicoPaciente(int CodMed, int CodPac);
    int CountExamesByPaciente(int CodPac);
    int GenIdExames();
    int CountExamesSemBackup();

    // Lookups that return values. The exam of that code with its doctor's name and its
    // orthokeratology values; none when no row has that code.
    std::optional<TExame> SelectExameByCodigo(int Codigo);
    // The patient's exams (of one doctor when CodMed is not 0) as the exam browser lists them,
    // read through its exam cursor IBQueryExames, in the server's order.
    QList<TExame> SelectExamesByPaciente(int CodPac, int CodMed = 0);
    // The exam of the patient whose list caption is legenda ("OD - dd/MM/yyyy HH:mm:ss"), by
    // eye, date and time; none when the caption is malformed or no row matches.
    std::optional<TExame> SelectExameByLegenda(int CodPac, const QString& legenda);

    // The navigator, on the exam cursor IBQueryExames (shared with the exam browser).
    TDExames& AbreNavegador();
    void FechaNavegador();
    void Navegar(const QString& Campo, const QString& Conteudo, const QString& Comando);
    int CodPacienteAtual() const;
    int CodigoAtual() const;

private:
    TNavegadorRegistros navegador_;
};

// The instance shared by the callers that do not use the navigator.
TDExames& DExames();

}  // namespace norvix
