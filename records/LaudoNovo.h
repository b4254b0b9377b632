#pragma once
// Storing a new report: its LAUDOS row and its l.txt stand or fall together. The row is
// inserted in a batch, its code read back as the row this transaction inserted, the file
// written atomically, and only then the batch committed; any failure rolls the row back and
// takes the file away again.
#include <QDate>
#include <QString>
#include <QTime>
#include <array>

namespace norvix {

struct TLaudoNovo {
    int paciente = 0;
    int medidaOD = -1;  // -1: the eye has no exam
    int medidaOS = -1;
    QDate data;
    QTime hora;
    // The texts of the five boxes (conditions, right eye, left eye, conclusion, comments);
    // their gaps are resolved as the file is written.
    std::array<QString, 5> caixas;
};

// The new report's code. Raises norvix::Error (a DatabaseError or an ArquivoExameError) when
// anything fails; nothing is then stored.
int GravaLaudoNovo(const TLaudoNovo& laudo);

// The code of the newest report of the patient that the current transaction inserted (0 when
// none): another workstation's report saved at the same moment is never taken for it.
int CodigoLaudoInserido(int paciente);

}  // namespace norvix
