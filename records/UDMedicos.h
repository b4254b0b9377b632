#pragma once
// Reads and writes of the MEDICOS table, one statement per operation on IBOperation; writes
// go through the stored procedures and commit at once. Server errors reach the caller.
#include <QString>
#include <QStringList>

namespace norvix {

class TDMedicos {
public:
    void InsertMedicos(const QString& Nome, const QString& Rg, const QString& Cpf,
                       const QString& Crm, const QString& Sexo, const QString& EstadoCivil,
                       const QString& Conjuge, const QString& DataNascimento,
                       const QString& Naturalidade, const QString& NaturalidadeEstado,
                       const QString& Pai, const QString& Mae, const QString& Rua,
                       const QString& Complemento, const QString& Bairro,
                       const QString& Cidade, const QString& Estado, const QString& Cep,
                       const QString& Fone, const QString& Celular);
    void UpdateMedicosByCodigo(int Codigo, const QString& Nome, const QString& Rg,
                               const QString& Cpf, const QString& Crm, const QString& Sexo,
                               const QString& EstadoCivil, const QString& Conjuge,
                               const QString& DataNascimento, const QString& Naturalidade,
                               const QString& NaturalidadeEstado, const QString& Pai,
                               const QString& Mae, const QString& Rua,
                               const QString& Complemento, const QString& Bairro,
                               const QString& Cidade, const QString& Estado,
                               const QString& Cep, const QString& Fone,
                               const QString& Celular);
    void DeleteMedicosByCodigo(int Codigo);

    QString SelectNomeByCodigo(int Codigo);       // empty when no doctor has the code
    int SelectCodigoByNome(const QString& Nome);  // 0 when no doctor has the name
    // The doctor named Nome that the current transaction inserted (see
    // TDPacientes::SelectCodigoInseridoByNome); 0 when there is none.
    int SelectCodigoInseridoByNome(const QString& Nome);
    bool ExisteCodigo(int Codigo);  // whether a row has that code
    int CountMedicos();
    QStringList NomesMedicos();  // every doctor's name, in alphabetical order
    int GenIdMedicos();

    // Opens (true) or closes (false) the table cursor IBMedicos.
    void AtivaTabela(bool Ativa);
};

// The instance every caller shares.
TDMedicos& DMedicos();

}  // namespace norvix
