#include "UDMedicos.h"

#include "UfrmDataModule.h"

namespace norvix {

using Close = TDMPrincipal::Close;

TDMedicos& DMedicos() {
    static TDMedicos instancia;
    return instancia;
}

void TDMedicos::InsertMedicos(const QString& Nome, const QString& Rg, const QString& Cpf,
                              const QString& Crm, const QString& Sexo,
                              const QString& EstadoCivil, const QString& Conjuge,
                              const QString& DataNascimento, const QString& Naturalidade,
                              const QString& NaturalidadeEstado, const QString& Pai,
                              const QString& Mae, const QString& Rua,
                              const QString& Complemento, const QString& Bairro,
                              const QString& Cidade, const QString& Estado, const QString& Cep,
                              const QString& Fone, const QString& Celular) {
    DMPrincipal().execProcedure(
        "Execute Procedure InsertMedicos :Nome,:Rg,:CPF,:Crm,:Sexo,:EstadoCivil,:Conjuge,"
        ":DataNascimento,:Naturalidade,:NaturalidadeEstado,:Pai,:Mae,:Rua,:Complemento,"
        ":Bairro,:Cidade,:Estado,:Cep,:Fone,:Celular",
        {{"Nome", Nome}, {"Rg", Rg}, {"Cpf", Cpf}, {"Crm", Crm}, {"Sexo", Sexo},
         {"EstadoCivil", EstadoCivil}, {"Conjuge", Conjuge}, {"DataNascimento", DataNascimento},
         {"Naturalidade", Naturalidade}, {"NaturalidadeEstado", NaturalidadeEstado},
         {"Pai", Pai}, {"Mae", Mae}, {"Rua", Rua}, {"Complemento", Complemento},
         {"Bairro", Bairro}, {"Cidade", Cidade}, {"Estado", Estado}, {"Cep", Cep},
         {"Fone", Fone}, {"Celular", Celular}});
}

void TDMedicos::UpdateMedicosByCodigo(
    int Codigo, const QString& Nome, const QString& Rg, const QString& Cpf, const QString& Crm,
    const QString& Sexo, const QString& EstadoCivil, const QString& Conjuge,
    const QString& DataNascimento, const QString& Naturalidade,
    const QString& NaturalidadeEstado, const QString& Pai, const QString& Mae,
    const QString& Rua, const QString& Complemento, const QString& Bairro,
    const QString& Cidade, const QString& Estado, const QString& Cep, const QString& Fone,
    const QString& Celular) {
    DMPrincipal().execProcedure(
        "Execute Procedure UpdateMedicosByCodigo :Codigo,:Nome,:Rg,:CPF,:Crm,:Sexo,"
        ":EstadoCivil,:Conjuge,:DataNascimento,:Naturalidade,:NaturalidadeEstado,:Pai,:Mae,"
        ":Rua,:Complemento,:Bairro,:Cidade,:Estado,:Cep,:Fone,:Celular",
        {{"Codigo", Codigo}, {"Nome", Nome}, {"Rg", Rg}, {"Cpf", Cpf}, {"Crm", Crm},
         {"Sexo", Sexo}, {"EstadoCivil", EstadoCivil}, {"Conjuge", Conjuge},
         {"DataNascimento", DataNascimento}, {"Naturalidade", Naturalidade},
         {"NaturalidadeEstado", NaturalidadeEstado}, {"Pai", Pai}, {"Mae", Mae}, {"Rua", Rua},
         {"Complemento", Complemento}, {"Bairro", Bairro}, {"Cidade", Cidade},
         {"Estado", Estado}, {"Cep", Cep}, {"Fone", Fone}, {"Celular", Celular}});
}

void TDMedicos::DeleteMedicosByCodigo(int Codigo) {
    DMPrincipal().execProcedure("Execute Procedure DeleteMedicosByCodigo :Codigo",
                                {{"Codigo", Codigo}});
}

QString TDMedicos::SelectNomeByCodigo(int Codigo) {
    return DMPrincipal().selectString("SELECT Nome FROM Medicos WHERE Medicos.Codigo=:Codigo",
                                      {{"Codigo", Codigo}}, "Nome");
}

int TDMedicos::SelectCodigoByNome(const QString& Nome) {
    return DMPrincipal().selectInt("SELECT Codigo FROM Medicos WHERE Medicos.Nome=:NomeMedico",
                                   {{"NomeMedico", Nome}}, "Codigo", Close::Yes);
}

int TDMedicos::SelectCodigoInseridoByNome(const QString& Nome) {
    return DMPrincipal().selectInt(
        "SELECT MAX(Codigo) AS Codigo FROM Medicos WHERE Medicos.Nome = :Nome AND "
        "RDB$RECORD_VERSION = CURRENT_TRANSACTION",
        {{"Nome", Nome}}, "Codigo", Close::Yes);
}

bool TDMedicos::ExisteCodigo(int Codigo) {
    return DMPrincipal().selectInt("SELECT FIRST 1 1 AS Existe FROM Medicos WHERE Medicos.Codigo = :Codigo",
                                   {{"Codigo", Codigo}}, "Existe", Close::Yes) == 1;
}

int TDMedicos::CountMedicos() {
    return DMPrincipal().selectInt("SELECT COUNT(*) FROM Medicos", {}, "COUNT");
}

QStringList TDMedicos::NomesMedicos() {
    QStringList nomes;
    FbQuery& q = DMPrincipal().openQuery(DMPrincipal().IBOperation, "SELECT Nome FROM Medicos ORDER BY Nome ASC");
    for (; !q.eof(); q.next()) nomes << q.asString("NOME");
    q.close();
    return nomes;
}

int TDMedicos::GenIdMedicos() {
    return DMPrincipal().selectInt("SELECT FIRST(1) GEN_ID(Codigo_Medicos, 0) FROM Medicos", {},
                                   "GEN_ID");
}

void TDMedicos::AtivaTabela(bool Ativa) {
    if (Ativa)
        DMPrincipal().IBMedicos.open();
    else
        DMPrincipal().IBMedicos.close();
}

}  // namespace norvix
