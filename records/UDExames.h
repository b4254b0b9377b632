#pragma once
// Reads and writes of the EXAMES and EXAMESORTO tables, and the forward navigator over the
// exams that share one column value (the backup walks the exams not yet backed up with it).
#include <QDate>
#include <QString>
#include <QTime>

namespace norvix {

class FbQuery;

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
    void DeleteExamesByCodigo(int Codigo);
    void DeleteExamesOrtoByCodigoExame(int CodExame);

    // Reads: the named column of the first row, 0 when there is no row.
    int SelectCodRespByCodigo(int Codigo);
    int CountExames();
    int CountExamesByMedico(int CodMed);
    int CountExamesByMedicoPaciente(int CodMed, int CodPac);
    int GenIdExames();
    int CountExamesSemBackup();

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
