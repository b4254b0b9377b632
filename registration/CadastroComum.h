#pragma once
// What the patient and the doctor windows do alike when they save: the checks of the name and
// of the CPF, and the messages of a failed save.
#include <QString>

class QPushButton;
class QWidget;

namespace norvix {

class Error;
class TRecordBuffer;
class TFichaCadastro;

namespace cadastro {

// A name of blanks only is no name: it would list as an empty line nobody can find.
bool nomeVazio(const QString& nome);

// A CPF the operator changed that is not a valid one: asks "CPF inválido. Deseja gravar assim
// mesmo?"; true to go on saving. On No the CPF field is shown and focused.
bool confirmaCpf(const TRecordBuffer& buffer, TFichaCadastro& ficha, QWidget* window);

// A birth date the operator changed that is no day from 1900 to today ("31/02/1990"): asks
// "Data de nascimento inválida. Deseja gravar assim mesmo?"; true to go on saving. On No the
// field is shown and focused.
bool confirmaDataNascimento(const TRecordBuffer& buffer, TFichaCadastro& ficha, QWidget* window);

// A CPF the operator changed that another patient (not codigo) already has: asks "Já existe um
// paciente com este CPF (NOME). Deseja gravar assim mesmo?"; true to go on saving.
bool confirmaCpfUnico(const TRecordBuffer& buffer, TFichaCadastro& ficha, int codigo, QWidget* window);

// A failed save: the error's text; the window stays as it is.
void mostraErro(const Error& e, QWidget* window);

// The row being changed was deleted by another workstation: asks whether to register it again
// with what the window holds (oQue: "o paciente", "o médico"); true on Yes.
bool perguntaCadastrarDeNovo(const QString& oQue, QWidget* window);

// The help button of the registration windows (hint "Ajuda"), opening context.
QPushButton* botaoAjuda(QWidget* window, int context);

}  // namespace cadastro
}  // namespace norvix
