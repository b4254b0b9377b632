#include "registration/ConferenciaRis.h"

namespace norvix {

QString nomeComparavel(const QString& nome) {
    const QString decomposto = nome.normalized(QString::NormalizationForm_D);
    QString letras;
    letras.reserve(decomposto.size());
    for (const QChar c : decomposto)
        if (c.category() != QChar::Mark_NonSpacing) letras += c;
    return letras.toUpper().simplified();
}

QDate nascimentoCadastrado(const QString& texto) {
    return QDate::fromString(texto.trimmed(), QStringLiteral("dd/MM/yyyy"));
}

int diferencas(const PessoaRis& ris, const PessoaCadastrada& local) {
    int d = 0;
    if (nomeComparavel(ris.nome) != nomeComparavel(local.nome)) d |= int(Diferenca::Nome);
    if (ris.sexo.isEmpty() || ris.sexo != local.sexo.trimmed().toUpper()) d |= int(Diferenca::Sexo);
    const QDate nascimento = nascimentoCadastrado(local.nascimento);
    if (!ris.nascimento.isValid() || !nascimento.isValid() || ris.nascimento != nascimento)
        d |= int(Diferenca::Nascimento);
    return d;
}

QList<PessoaCadastrada> homonimos(const QString& nome) {
    const QString alvo = nomeComparavel(nome);
    QList<PessoaCadastrada> mesmos;
    if (alvo.isEmpty()) return mesmos;
    for (const PessoaCadastrada& p : DPacientesRis().PessoasDoPrimeiroNome(nome))
        if (nomeComparavel(p.nome) == alvo) mesmos << p;
    return mesmos;
}

}  // namespace norvix
