#pragma once
// The RIS's orders (worklist items) chosen for an exam, table PEDIDOSRIS. When the operator
// takes a patient from the DICOM worklist, the item's order waits here for that patient's next
// exam saved on the same day (a topography or a tear-film exam), and from then on belongs to
// that exam: the DICOM objects of its visit carry the order's Accession Number, Study Instance
// UID and requested procedure, so that the RIS can close the order. At most one order of a
// patient waits at a time: choosing another item for the patient replaces it.
#include <QDate>
#include <QList>
#include <QString>
#include <QTime>
#include <optional>

namespace norvix {

class FbDatabase;

struct TPedidoRis {
    int paciente = 0;
    QString idRis, emissor;     // the RIS's patient ID and its Issuer of Patient ID (empty: none)
    QString accession;          // Accession Number
    QString estudoUid;          // the Study Instance UID the RIS gave; empty when none
    QString procedimentoId;     // Requested Procedure ID
    QString procedimento;       // Requested Procedure Description
    QString passoId;            // Scheduled Procedure Step ID
    QDate data;                 // when it was chosen
    QTime hora;
    int exame = 0;              // the exam it belongs to; 0 while it waits
};

// Adds PEDIDOSRIS to a database made before it: empty when it is there, otherwise why not.
QString GaranteTabelaPedidosRis(FbDatabase& db);
QString AvisoTabelaPedidosRis();
void DefineAvisoTabelaPedidosRis(const QString& aviso);

class TDPedidosRis {
public:
    // Keeps the order as the one waiting for the patient's next exam, replacing any order of
    // the patient still waiting; committed. Raises Error (a value too long for its column, a
    // database without the table, the database failing), nothing changed.
    void Escolhe(const TPedidoRis& pedido);
    // The order waiting for the patient, chosen on the exam's day, now belongs to the exam.
    // In the caller's transaction, not committed; nothing when none waits or the table is
    // missing (the exam is stored all the same).
    void Anexa(int paciente, int exame, const QDate& dia);
    // The order belonging to any of these exams (the one chosen first); nullopt when none or
    // the table is missing.
    std::optional<TPedidoRis> DosExames(const QList<int>& exames);
    // The patient's orders, waiting or not, in the caller's transaction (the patient is deleted).
    void ExcluiDoPaciente(int paciente);
};

TDPedidosRis& DPedidosRis();

}  // namespace norvix
