#pragma once
// The identity under which each visit's DICOM objects first went out, table VISITASDICOM: the
// Patient ID, its issuer and the Study Instance UID. Every later write of the same visit reuses
// them, so a PACS never holds one study under two patients, whatever links to the RIS are made
// or removed meanwhile. Forgetting a patient's visits (the operator's choice, after deleting them
// on the PACS) lets their next write take the identity the patient has then.
#include <QDate>
#include <QList>
#include <QString>
#include <QTime>
#include <optional>

namespace norvix {

class FbDatabase;

struct TVisitaDicom {
    QString visita;  // the visit's key ("E" and the code of its first exam)
    int paciente = 0;
    QString idPaciente, emissor;  // emissor empty: no Issuer of Patient ID
    QString estudoUid;
    QDate data;  // when first written
    QTime hora;
};

QString GaranteTabelaVisitasDicom(FbDatabase& db);
QString AvisoTabelaVisitasDicom();
void DefineAvisoTabelaVisitasDicom(const QString& aviso);

class TDVisitasDicom {
public:
    std::optional<TVisitaDicom> DaVisita(const QString& visita);
    // Records `v` unless the visit already has an identity, committed, and returns the one that
    // stands (another station's, when it recorded the visit first). Raises Error.
    TVisitaDicom Registra(const TVisitaDicom& v);
    // Whether a visit of another patient already went out under this Study Instance UID.
    bool EstudoDeOutroPaciente(const QString& estudoUid, int paciente);
    // The patient's visits already written, oldest first.
    QList<TVisitaDicom> DoPaciente(int paciente);
    // Forgets the patient's visits, committed; how many.
    int Esquece(int paciente);
    // In the caller's transaction (the patient is deleted).
    void ExcluiDoPaciente(int paciente);
};

TDVisitasDicom& DVisitasDicom();

}  // namespace norvix
