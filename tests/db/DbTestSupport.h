#pragma once
// Shared by the database tests: a data module connected to a fresh database in a temporary
// folder, and a connector that refuses chosen passwords (the embedded engine ignores them).
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

#include "records/UfrmDataModule.h"

namespace dbtest {

class RefusingConnector : public norvix::FbConnector {
public:
    QStringList accepted;  // passwords let through to the real engine
    QStringList tried;     // every password tried, in order
    QStringList names;     // every database name asked for
    Firebird::IAttachment* attach(const QString& name, const QString& user,
                                  const QString& password) override;
};

class DbTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Inserts a patient through the program's statement; returns its code.
    int insertPaciente(const QString& nome, int totalExames = 0);
    int insertMedico(const QString& nome);
    int insertExame(int paciente, int medico, const QDate& data, const QTime& hora,
                    const QString& olho = QStringLiteral("OD"));
    int count(const QString& sql, const norvix::FbParams& params = {});

    QTemporaryDir dir;
    QString path;
    std::unique_ptr<norvix::TDMPrincipal> dm;
};

// The 22 text parameters of the patient procedures, in statement order, each set to a short
// value; Nome set to `nome`.
norvix::FbParams pacienteTexts(const QString& nome);
norvix::FbParams medicoTexts(const QString& nome);

extern const char* const kInsertPacientes;
extern const char* const kUpdatePacientes;
extern const char* const kInsertMedicos;
extern const char* const kUpdateMedicos;
extern const char* const kInsertExames;

}  // namespace dbtest
