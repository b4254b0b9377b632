#pragma once
// Reads and writes of the PACIENTES table that do not belong to a window's own statement.
// One statement per operation on the scratch cursor IBOperation; writes go through the
// stored procedures and commit at once. Server errors (a text longer than its column, a lock)
// reach the caller as DatabaseError and nothing is committed.
#include <QDate>
#include <QList>
#include <QString>
#include <optional>

namespace norvix {

class FbDataSet;

// One PACIENTES row as the browser and the exam windows need it: they keep the code and read
// this value, never a shared cursor's position.
struct TPaciente {
    int codigo = 0;
    QString nome;
    QString rg;
    QString convenio;
    QString ultimoExame;
    QDate dtCadastro;
    int totalExames = 0;
    // The columns of the row a cursor stands on (raises DatabaseError when there is none).
    static TPaciente daLinha(const FbDataSet& cursor);
};

// What the DICOM objects name of a patient besides the name: the columns as registered (the
// birth date "dd/MM/yyyy", possibly empty or never checked by an older version).
struct TDadosPessoais {
    QString sexo;
    QString dataNascimento;
};

class TDPacientes {
public:
    void InsertPacientes(const QString& Nome, const QString& Rg, const QString& Cpf,
                         const QString& Sexo, const QString& EstadoCivil, const QString& Conjuge,
                         const QString& DataNascimento, const QString& Naturalidade,
                         const QString& NaturalidadeEstado, const QString& Pai,
                         const QString& Mae, const QString& Rua, const QString& Complemento,
                         const QString& Bairro, const QString& Cidade, const QString& Estado,
                         const QString& Cep, const QString& Fone, const QString& Celular,
                         const QString& Convenio, const QString& Profissao,
                         const QString& TipoSang, const QDate& DtCadastro, int TotalExames);
    void UpdatePacientesByCodigo(int Codigo, const QString& Nome, const QString& Rg,
                                 const QString& Cpf, const QString& Sexo,
                                 const QString& EstadoCivil, const QString& Conjuge,
                                 const QString& DataNascimento, const QString& Naturalidade,
                                 const QString& NaturalidadeEstado, const QString& Pai,
                                 const QString& Mae, const QString& Rua,
                                 const QString& Complemento, const QString& Bairro,
                                 const QString& Cidade, const QString& Estado,
                                 const QString& Cep, const QString& Fone,
                                 const QString& Celular, const QString& Convenio,
                                 const QString& Profissao, const QString& TipoSang);
    void DeletePacientesByCodigo(int Codigo);
    // ULTIMOEXAME ("OD dd/MM/yyyy HH:mm:ss") and TOTALEXAMES of the patient.
    void UpdateExamesPacientesByCodigo(int Codigo, const QString& UltimoExame, int TotalExames);

    // Reads: the named column of the first row; 0 or the empty text when there is none.
    QString SelectNomeByCodigo(int Codigo);
    int SelectCodigoByNome(const QString& Nome);  // exact, case-sensitive match
    // Every patient of exactly that name (namesakes), in code order.
    QList<int> SelectCodigosByNome(const QString& Nome);
    // The code of the patient named Nome that the current transaction inserted (within a
    // TDMPrincipal::Batch, before its commit): a patient of the same name that another
    // workstation registers at the same moment is never taken for it. 0 when there is none.
    int SelectCodigoInseridoByNome(const QString& Nome);
    bool ExisteCodigo(int Codigo);  // whether a row has that code
    int CountPacientes();
    int GenIdPacientes();
    int CountPacientesSemExames();  // TOTALEXAMES = 0 (null is not counted)
    // Whether CountPacientesSemExames would be above 0, without counting them all.
    bool ExistemPacientesSemExames();
    int SelectTotalExamesByCodigo(int Codigo);

    // The patient of that code; none when no row has it.
    std::optional<TPaciente> SelectPacienteByCodigo(int Codigo);
    // Sex and birth date of the patient of that code; none when no row has it.
    std::optional<TDadosPessoais> SelectDadosPessoaisByCodigo(int Codigo);
    // The same, read into the shared patient cursor (IBQueryPacientes), which then stands on
    // that patient: the browser's current patient.
    std::optional<TPaciente> AbrePacienteAtual(int Codigo);
    // The name of another patient (not Codigo) registered with that CPF; empty when none.
    QString SelectNomeOutroPacienteByCpf(const QString& Cpf, int Codigo);

    // Holds the patient's row for the current transaction, so that two workstations storing or
    // deleting exams of one patient at once cannot lose a count: the second gets
    // DatabaseError::Kind::LockConflict and tries again (TDMPrincipal::runBatch).
    void BloqueiaPaciente(int Codigo);
    // TOTALEXAMES counted from the rows as the current transaction sees them, and ULTIMOEXAME:
    // the text given, or when it is empty the newest remaining exam ("OD dd/MM/yyyy HH:mm",
    // two blanks when none is left). No commit of its own: callers run it inside their batch,
    // after BloqueiaPaciente.
    void AtualizaContadores(int Codigo, const QString& UltimoExame = QString());
};

// The instance every caller shares.
TDPacientes& DPacientes();

}  // namespace norvix
