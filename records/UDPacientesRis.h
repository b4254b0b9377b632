#pragma once
// The patient IDs the clinic's RIS gives (through the DICOM worklist), linked to this system's
// patients. Kept in a table of their own, PACIENTESRIS, so that no column of PACIENTES changes
// meaning. A link is made only once the person is known to be the same (the worklist picker
// decides, asking the operator when in doubt); a patient's first link is the Patient ID its
// DICOM objects carry, the others go with it as other IDs.
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace norvix {

class FbDatabase;

// Adds PACIENTESRIS, and the columns it gained since, to a database made before them. Empty
// when the database has them; otherwise why they could not be added (Portuguese): only the
// worklist's link is then unavailable.
QString GaranteTabelaRis(FbDatabase& db);
// What GaranteTabelaRis said at the data module's last connection (empty: the table is there).
QString AvisoTabelaRis();
void DefineAvisoTabelaRis(const QString& aviso);

struct VinculoRis {
    QString idRis;
    QString emissor;        // the RIS's Issuer of Patient ID; empty when the worklist sent none
    QDateTime vinculadoEm;  // invalid for a link made before the time was kept
};

// What the matching compares of a registered patient.
struct PessoaCadastrada {
    int codigo = 0;
    QString nome;
    QString nascimento;  // as typed, "dd/MM/yyyy" when valid
    QString sexo;        // "M", "F" or what is stored
};

class TDPacientesRis {
public:
    // The patient linked to a RIS ID; 0 when none.
    int PacienteDoId(const QString& idRis);
    // The patient's links, oldest first (then by ID): the first is its Patient ID outside.
    QList<VinculoRis> Vinculos(int paciente);
    // The Patient ID the patient's objects carry: its first link; empty when none.
    QString IdDoPaciente(int paciente);
    // The patient of that code; codigo 0 when there is none.
    PessoaCadastrada Pessoa(int codigo);
    // The patients whose names begin with the first word of `nome` (letter case, accents and
    // blanks aside), in code order: the caller compares the whole names.
    QList<PessoaCadastrada> PessoasDoPrimeiroNome(const QString& nome);
    // Links a RIS ID to a patient, committed. Raises DatabaseError (nothing changed) when the
    // ID is linked to another patient (the link is removed first, by the operator), and when
    // the patient already has another ID and the operator did not confirm a further one.
    void Vincula(int paciente, const QString& idRis, const QString& emissor, bool outroIdConfirmado = false);
    // Removes one link, committed; no link, no change. Then tells the listeners (see
    // OuveDesvinculos) and returns what they say the operator must know (Portuguese).
    QStringList Desvincula(int paciente, const QString& idRis);
};

// Told after a link was undone, for as long as the program runs: what waits to go out under the
// ID (the PACS outbox) must not go as that person's. Returns an empty text, or what the
// operator must know; a listener that raises does not undo the unlinking.
using OuvinteDesvinculo = std::function<QString(int paciente, const QString& idRis)>;
int OuveDesvinculos(OuvinteDesvinculo ouvinte);
void DeixaDeOuvirDesvinculos(int id);

TDPacientesRis& DPacientesRis();

}  // namespace norvix
