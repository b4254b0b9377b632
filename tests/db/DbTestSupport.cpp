#include "DbTestSupport.h"

#include "support/TestDatabase.h"

using namespace norvix;

namespace dbtest {

const char* const kInsertPacientes =
    "Execute Procedure InsertPacientes :Nome,:Rg,:CPF,:Sexo,:EstadoCivil,:Conjuge,"
    ":DataNascimento,:Naturalidade,:NaturalidadeEstado,:Pai,:Mae,:Rua,:Complemento,:Bairro,"
    ":Cidade,:Estado,:Cep,:Fone,:Celular,:Convenio,:Profissao,:TipoSang,:DtCadastro,"
    ":TotalExames";
const char* const kUpdatePacientes =
    "Execute Procedure UpdatePacientesByCodigo :Codigo,:Nome,:Rg,:CPF,:Sexo,:EstadoCivil,"
    ":Conjuge,:DataNascimento,:Naturalidade,:NaturalidadeEstado,:Pai,:Mae,:Rua,:Complemento,"
    ":Bairro,:Cidade,:Estado,:Cep,:Fone,:Celular,:Convenio,:Profissao,:TipoSang";
const char* const kInsertMedicos =
    "Execute Procedure InsertMedicos :Nome,:Rg,:CPF,:Crm,:Sexo,:EstadoCivil,:Conjuge,"
    ":DataNascimento,:Naturalidade,:NaturalidadeEstado,:Pai,:Mae,:Rua,:Complemento,:Bairro,"
    ":Cidade,:Estado,:Cep,:Fone,:Celular";
const char* const kUpdateMedicos =
    "Execute Procedure UpdateMedicosByCodigo :Codigo,:Nome,:Rg,:CPF,:Crm,:Sexo,:EstadoCivil,"
    ":Conjuge,:DataNascimento,:Naturalidade,:NaturalidadeEstado,:Pai,:Mae,:Rua,:Complemento,"
    ":Bairro,:Cidade,:Estado,:Cep,:Fone,:Celular";
const char* const kInsertExames =
    "Execute Procedure InsertExames :CodPaciente,:CodResp,:Data,:Hora,:Olho,:IndConf,"
    ":TipoExame,:Backup,:Diag,:Observacao,:NumAneis,:TipoCone";

Firebird::IAttachment* RefusingConnector::attach(const QString& name, const QString& user,
                                                 const QString& password) {
    tried << password;
    names << name;
    if (!accepted.contains(password))
        throw DatabaseError(QStringLiteral(
            "Your user name and password are not defined. Ask your database administrator to "
            "set up a Firebird login."));
    return defaultConnector().attach(name, user, password);
}

void DbTest::SetUp() {
    ASSERT_TRUE(dir.isValid());
    path = makeTestDatabase(dir.path());
    ASSERT_FALSE(path.isEmpty());
    dm = std::make_unique<TDMPrincipal>();
    ASSERT_TRUE(dm->PSetDataBaseName(path));
}

void DbTest::TearDown() { dm.reset(); }

FbParams pacienteTexts(const QString& nome) {
    return {{"Nome", nome},       {"Rg", "123456"},      {"Cpf", "12345678901"},
            {"Sexo", "F"},        {"EstadoCivil", "S"},  {"Conjuge", ""},
            {"DataNascimento", "01/02/1970"},            {"Naturalidade", "Recife"},
            {"NaturalidadeEstado", "PE"},                {"Pai", "Pai"},
            {"Mae", "Mãe"},       {"Rua", "Rua A"},      {"Complemento", "ap 1"},
            {"Bairro", "Centro"}, {"Cidade", "Olinda"},  {"Estado", "PE"},
            {"Cep", "53000-000"}, {"Fone", "8133330000"}, {"Celular", "81999990000"},
            {"Convenio", "Particular"},                  {"Profissao", "Professora"},
            {"TipoSang", "O+"}};
}

FbParams medicoTexts(const QString& nome) {
    return {{"Nome", nome},       {"Rg", "654321"},      {"Cpf", "10987654321"},
            {"Crm", "CRM-PE 1234"},                      {"Sexo", "M"},
            {"EstadoCivil", "C"}, {"Conjuge", "Ana"},    {"DataNascimento", "03/04/1960"},
            {"Naturalidade", "Natal"},                   {"NaturalidadeEstado", "RN"},
            {"Pai", "P"},         {"Mae", "M"},          {"Rua", "Rua B"},
            {"Complemento", ""},  {"Bairro", "Boa Vista"}, {"Cidade", "Recife"},
            {"Estado", "PE"},     {"Cep", "50000-000"},  {"Fone", "8132220000"},
            {"Celular", "81988880000"}};
}

int DbTest::insertPaciente(const QString& nome, int totalExames) {
    FbParams p = pacienteTexts(nome);
    p.push_back({"DtCadastro", QDate(2024, 5, 6)});
    p.push_back({"TotalExames", totalExames});
    dm->execProcedure(QString::fromLatin1(kInsertPacientes), p);
    return dm->selectInt(QStringLiteral("SELECT MAX(Codigo) AS Codigo FROM Pacientes"), {},
                         QStringLiteral("Codigo"), TDMPrincipal::Close::Yes);
}

int DbTest::insertMedico(const QString& nome) {
    dm->execProcedure(QString::fromLatin1(kInsertMedicos), medicoTexts(nome));
    return dm->selectInt(QStringLiteral("SELECT MAX(Codigo) AS Codigo FROM Medicos"), {},
                         QStringLiteral("Codigo"), TDMPrincipal::Close::Yes);
}

int DbTest::insertExame(int paciente, int medico, const QDate& data, const QTime& hora,
                        const QString& olho) {
    dm->execProcedure(QString::fromLatin1(kInsertExames),
                      {{"CodPaciente", paciente}, {"CodResp", medico}, {"Data", data},
                       {"Hora", hora}, {"Olho", olho}, {"IndConf", 0.875}, {"TipoExame", "T"},
                       {"Backup", ""}, {"Diag", "diag"}, {"Observacao", "obs"},
                       {"NumAneis", 32}, {"TipoCone", "1"}});
    return dm->selectInt(
        QStringLiteral("SELECT Codigo FROM Exames WHERE Exames.CodPaciente = :CodPac AND "
                       "Exames.CodResp = :CodMed AND Exames.Data = :Data AND Exames.Hora = :Hora"),
        {{"CodPac", paciente}, {"CodMed", medico}, {"Data", data}, {"Hora", hora}},
        QStringLiteral("Codigo"), TDMPrincipal::Close::Yes);
}

int DbTest::count(const QString& sql, const FbParams& params) {
    return dm->selectInt(sql, params, QStringLiteral("COUNT"), TDMPrincipal::Close::Yes);
}

}  // namespace dbtest
