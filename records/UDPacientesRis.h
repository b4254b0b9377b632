#pragma once
// The patient IDs the clinic's RIS gives (through the DICOM worklist), linked to this system's
// patients. Kept in a table of their own, PACIENTESRIS, so that no column of PACIENTES changes
// meaning; the DICOM objects of a linked patient carry the RIS's ID.
#include <QList>
#include <QString>

namespace norvix {

class FbDatabase;

// Adds PACIENTESRIS to a database made before it. Empty when the database has it; otherwise
// why it could not be added (Portuguese): only the worklist's link is then unavailable.
QString GaranteTabelaRis(FbDatabase& db);
// What GaranteTabelaRis said at the data module's last connection (empty: the table is there).
QString AvisoTabelaRis();
void DefineAvisoTabelaRis(const QString& aviso);

class TDPacientesRis {
public:
    // The patient linked to a RIS ID; 0 when none.
    int PacienteDoId(const QString& idRis);
    // The RIS ID of a patient; empty when none.
    QString IdDoPaciente(int paciente);
    // The patients registered under this name (compared in capitals, accents kept) and, when
    // given as "dd/MM/yyyy", this birth date.
    QList<int> PacientesDoNome(const QString& nome, const QString& nascimento);
    // Links a RIS ID to a patient, committed; a link the ID already had to another patient is
    // moved (the RIS is the authority on its IDs). Raises DatabaseError, nothing changed.
    void Vincula(int paciente, const QString& idRis);
};

TDPacientesRis& DPacientesRis();

}  // namespace norvix
