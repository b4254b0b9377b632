#pragma once
// Whether a person the RIS scheduled and a patient registered here are surely the same: the
// name (letter case, accents and extra blanks aside), the sex and a valid birth date must all
// agree. Anything less is for the operator to decide.
#include <QDate>
#include <QList>
#include <QString>

#include "records/UDPacientesRis.h"

namespace norvix {

// The person as the worklist gives it.
struct PessoaRis {
    QString nome;
    QDate nascimento;  // null when the worklist gave none or an impossible one
    QString sexo;      // "M", "F", "O" or empty
    QString idRis;
    QString emissor;
};

// "  José  da silva" and "JOSE DA SILVA" give the same text.
QString nomeComparavel(const QString& nome);
// A stored birth date ("dd/MM/yyyy" as typed); null when the text is no date.
QDate nascimentoCadastrado(const QString& texto);

enum class Diferenca { Nome = 1, Sexo = 2, Nascimento = 4 };
// What keeps the two from being surely the same person, as Diferenca flags; 0 when nothing.
// A birth date or sex missing on either side is a difference.
int diferencas(const PessoaRis& ris, const PessoaCadastrada& local);

// The registered patients whose name is the same as `nome` (comparable form), in code order.
QList<PessoaCadastrada> homonimos(const QString& nome);

}  // namespace norvix
