#include "CadastroComum.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

#include "Documentos.h"
#include "FichaCadastro.h"
#include "RecordBuffer.h"
#include "platform/Errors.h"
#include "platform/ui/MessageSeam.h"
#include "records/UDPacientes.h"
#include "shell/HelpViewer.h"

namespace norvix::cadastro {

bool nomeVazio(const QString& nome) { return nome.trimmed().isEmpty(); }

bool confirmaCpf(const TRecordBuffer& buffer, TFichaCadastro& ficha, QWidget* window) {
    const QString cpf = buffer.value(QStringLiteral("CPF"));
    if (cpf.isEmpty() || cpf == buffer.storedValue(QStringLiteral("CPF")) || documentos::cpfValido(cpf))
        return true;
    if (showMessage(QStringLiteral("CPF inválido. Deseja gravar assim mesmo?"), QStringLiteral("Atenção"),
                    MsgIcon::Question, MsgButtons::YesNo, window) == MsgAnswer::Yes)
        return true;
    ficha.setCurrentIndex(0);
    ficha.edtCPF->setFocus();
    return false;
}

bool confirmaDataNascimento(const TRecordBuffer& buffer, TFichaCadastro& ficha, QWidget* window) {
    const QString data = buffer.value(QStringLiteral("DATANASCIMENTO"));
    if (data == buffer.storedValue(QStringLiteral("DATANASCIMENTO")) || documentos::dataNascimentoValida(data))
        return true;
    if (showMessage(QStringLiteral("Data de nascimento inválida. Deseja gravar assim mesmo?"), QStringLiteral("Atenção"),
                    MsgIcon::Question, MsgButtons::YesNo, window, MsgAnswer::No) == MsgAnswer::Yes)
        return true;
    ficha.setCurrentIndex(0);
    ficha.edtDataNascimento->setFocus();
    return false;
}

bool confirmaCpfUnico(const TRecordBuffer& buffer, TFichaCadastro& ficha, int codigo, QWidget* window) {
    const QString cpf = buffer.value(QStringLiteral("CPF"));
    if (cpf.isEmpty() || cpf == buffer.storedValue(QStringLiteral("CPF"))) return true;
    const QString outro = DPacientes().SelectNomeOutroPacienteByCpf(cpf, codigo);
    if (outro.isEmpty()) return true;
    if (showMessage(QStringLiteral("Já existe um paciente com este CPF (%1). Deseja gravar assim mesmo?").arg(outro),
                    QStringLiteral("Atenção"), MsgIcon::Question, MsgButtons::YesNo, window,
                    MsgAnswer::No) == MsgAnswer::Yes)
        return true;
    ficha.setCurrentIndex(0);
    ficha.edtCPF->setFocus();
    return false;
}

void mostraErro(const Error& e, QWidget* window) {
    showMessage(e.message(), QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, window);
}

bool perguntaCadastrarDeNovo(const QString& oQue, QWidget* window) {
    QString texto = oQue;
    texto[0] = texto[0].toUpper();
    return showMessage(texto + QStringLiteral(" foi excluído em outra estação de trabalho enquanto era alterado. "
                                              "Deseja cadastrá-lo de novo com os dados desta janela?"),
                       QStringLiteral("Atenção"), MsgIcon::Question, MsgButtons::YesNo, window) == MsgAnswer::Yes;
}

QPushButton* botaoAjuda(QWidget* window, int context) {
    auto* b = new QPushButton(QApplication::style()->standardIcon(QStyle::SP_DialogHelpButton),
                              QStringLiteral("Ajuda"), window);
    b->setObjectName(QStringLiteral("sbtAjuda"));
    b->setToolTip(QStringLiteral("Ajuda"));
    b->setAutoDefault(false);
    QObject::connect(b, &QPushButton::clicked, window, [window, context] { help::showHelp(context, window); });
    return b;
}

}  // namespace norvix::cadastro
