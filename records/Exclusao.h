#pragma once
// Deleting an exam or a patient with everything that belongs to it: the rows in one
// transaction (with the patient's counters recounted under its row lock), the files only after
// that commit, so that no row is ever left pointing at files already gone.
#include <QList>
#include <QStringList>
#include <functional>

#include "UDExames.h"

namespace norvix {

// The reports that name the exam for its eye (MEDIDAOD of a right eye, MEDIDAOS of a left).
QList<int> LaudosDoExame(const TExame& exame);

struct TExclusao {
    QList<int> laudos;          // report codes deleted with it
    QStringList naoRemovidos;   // files that stayed on disk (the rows are gone all the same)
    int examesRestantes = 0;    // the patient's exams afterwards
    int examesLagrima = 0;      // tear-film exams deleted with the patient
    QStringList avisos;         // what a listener could not do (Portuguese), e.g. the PACS outbox
    // Exams whose queued visit a listener withdrew (the deleted one and the other eye of its
    // visit): the caller queues again those that remain.
    QList<int> retiradosDaFila;
};

// What a deletion took away, told to the listeners once its transaction committed (never
// before: a deletion that fails keeps everything, its place in any queue included).
struct TExcluido {
    int paciente = 0;
    bool pacienteInteiro = false;  // the patient itself is gone
    QList<int> exames;             // topography and orthokeratology exams
    QList<int> examesLagrima;
    QList<int> laudos;
};
// A listener (the PACS outbox, which must not send what is gone) returns an empty text, or
// what it could not do, which the deletion passes on in TExclusao::avisos; and adds to
// `retirados` the exams of what it withdrew.
using OuvinteExclusao = std::function<QString(const TExcluido&, QList<int>* retirados)>;
// Registers a listener for every deletion of this process; the id stops it.
int OuveExclusoes(OuvinteExclusao ouvinte);
void DeixaDeOuvirExclusoes(int id);

// The exam's reports (when it has any), its orthokeratology row, its row and the patient's
// TOTALEXAMES and ULTIMOEXAME in one transaction; then the reports' l.txt files, the exam's a,
// d and m files and the folders left empty. Raises DatabaseError with nothing deleted when the
// transaction fails.
TExclusao ExcluiExame(const TExame& exame);

// The reports of a patient without exams (those written with "Nenhum" for both eyes).
QList<int> LaudosDoPaciente(int paciente);
// A patient without exams, with those reports, the patient's tear-film exams and RIS IDs, in
// one transaction; then their files. Raises
// Error (nothing deleted) when the patient has exams, DatabaseError when the transaction fails.
TExclusao ExcluiPaciente(int paciente);

// One tear-film exam (its row holds its recording; it has no files).
TExclusao ExcluiExameLagrima(int codigo);

// A report of the patient deleted on its own (the report wizard deletes the row and its file
// itself): told to the listeners as any deletion is, so the outbox does not keep it.
TExclusao AnunciaLaudoExcluido(int paciente, int laudo);

}  // namespace norvix
