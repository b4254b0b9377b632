#pragma once
// "Lista de Trabalho": today's procedures the clinic's RIS scheduled for this station (a DICOM
// worklist query, run off the GUI thread), from which the patient picker takes a patient; and
// how a chosen item becomes a patient of this system.
#include <QDialog>
#include <QList>
#include <optional>

#include "dicom/PacsClient.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace norvix {

class TBIniSettings;

// The worklist's server and this station as the settings name them; nullopt when the settings
// name no worklist (WORKLIST_AETITLE or WORKLIST_HOST empty).
std::optional<dicom::PacsPeer> worklistPeer(const TBIniSettings& settings);

class TfrmListaTrabalho : public QDialog {
    Q_OBJECT
public:
    TfrmListaTrabalho(const dicom::PacsPeer& peer, QDate day, QWidget* parent = nullptr);

    // The item chosen (Enter, "Escolher" or a double-click), once the window closed accepted.
    std::optional<dicom::WorklistItem> escolhido() const { return escolhido_; }
    // The query's state for the operator: "Consultando...", the count, or why it failed.
    QString situacao() const;
    bool consultando() const { return consultando_; }

    void consulta();  // "Atualizar": asks the worklist again
    void escolhe();

private:
    void mostra(bool ok, const QList<dicom::WorklistItem>& itens, const QString& erro, const QString& nota);

    dicom::PacsPeer peer_;
    QDate dia_;
    QList<dicom::WorklistItem> itens_;
    std::optional<dicom::WorklistItem> escolhido_;
    QTableWidget* tabela_;
    QLabel* situacao_;
    QPushButton* escolher_;
    QPushButton* atualizar_;
    bool consultando_ = false;
};

// The patient of a worklist item, the one point where an item becomes a patient code: the
// patient linked to its RIS ID when name, sex and birth date still agree; else the one patient
// registered with the same name, sex and valid birth date, then linked; anything less is shown
// beside the registered record for the operator to decide (the same person, a new patient, or
// nothing). A new patient is registered with what the RIS gave and linked once saved. The
// patient's code; 0 when the operator stopped or the database failed (said to the operator).
int pacienteDaListaDeTrabalho(const dicom::WorklistItem& item, QWidget* parent);

// Keeps the item's order (accession number, study, requested procedure) for the patient's next
// exam saved today, whose DICOM objects then carry it. When it cannot be kept the operator is
// told that the exam will go without it; the patient stays chosen.
void registraPedidoDaListaDeTrabalho(const dicom::WorklistItem& item, int paciente, QWidget* parent);

}  // namespace norvix
