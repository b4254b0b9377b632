#pragma once
// The forms of the registration fields beyond plain text: the CPF (taxpayer number) shown
// with its mask and checked by its two check digits, the CEP (postal code) in its form
// 00000-000, the telephone numbers in digits only, and the characters a database text can
// hold. Each form is a validator that also puts the typed or pasted text into its form.
#include <QString>
#include <QValidator>

namespace norvix::documentos {

// The digits of a text, in order.
QString digitos(const QString& texto);

// Whether an 11-digit CPF has the right check digits (mod 11, weights 10..2 and 11..2). The
// numbers of one repeated digit pass the arithmetic but are no one's: they are invalid too.
bool cpfValido(const QString& cpf);
// "52998224725" → "529.982.247-25"; fewer digits give as much of the mask as they fill.
QString formataCpf(const QString& digitos);
// "12345678" → "12345-678"; up to five digits stay as they are.
QString formataCep(const QString& digitos);
// "15031975" → "15/03/1975"; fewer digits give as much of the mask as they fill.
QString formataData(const QString& digitos);
// Whether a birth date as typed ("dd/mm/aaaa") is a day that exists, from 1900 to today. An
// empty text is no date at all and passes.
bool dataNascimentoValida(const QString& data);

// What an edit of each form accepts. Punctuation the operator types or pastes ("." "-" "/"
// "(" ")" and blanks) is dropped and the form's own put in; any other character, or more
// digits than the form holds, refuses the change. A text set by the program that does not
// fit the form (a value stored by an older version) is shown as it stands.
class FormatoValidator : public QValidator {
    Q_OBJECT
public:
    enum class Formato { Cpf, Cep, Digitos, Data };
    FormatoValidator(Formato formato, int maxDigitos, QObject* parent = nullptr);
    State validate(QString& texto, int& posicao) const override;

private:
    Formato formato_;
    int maxDigitos_;
};

// Refuses characters that Windows-1252, the character set of every database text, cannot
// hold: they would be stored as "?".
class Cp1252Validator : public QValidator {
    Q_OBJECT
public:
    using QValidator::QValidator;
    State validate(QString& texto, int& posicao) const override;
};

}  // namespace norvix::documentos
