#include "registration/UfrmListaTrabalho.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QThreadPool>
#include <QVBoxLayout>

#include "CadastroComum.h"
#include "UfrmCadastroPacientes.h"
#include "config/UBIniSettings.h"
#include "platform/Errors.h"
#include "platform/ui/MessageSeam.h"
#include "records/UDPacientesRis.h"

namespace norvix {

std::optional<dicom::PacsPeer> worklistPeer(const TBIniSettings& settings) {
    dicom::PacsPeer peer;
    peer.localAeTitle = settings.DicomAeTitle();
    peer.peerAeTitle = settings.WorklistAeTitle();
    peer.host = settings.WorklistHost();
    peer.port = settings.WorklistPorta();
    peer.serverName = QStringLiteral("servidor da lista de trabalho");
    if (peer.peerAeTitle.trimmed().isEmpty() || peer.host.trimmed().isEmpty()) return std::nullopt;
    return peer;
}

TfrmListaTrabalho::TfrmListaTrabalho(const dicom::PacsPeer& peer, QDate day, QWidget* parent)
    : QDialog(parent), peer_(peer), dia_(day) {
    setObjectName(QStringLiteral("frmListaTrabalho"));
    setWindowTitle(QStringLiteral("Lista de Trabalho - %1").arg(day.toString(QStringLiteral("dd/MM/yyyy"))));
    tabela_ = new QTableWidget(0, 6, this);
    tabela_->setObjectName(QStringLiteral("tblListaTrabalho"));
    tabela_->setHorizontalHeaderLabels({QStringLiteral("Horário"), QStringLiteral("Paciente"),
                                        QStringLiteral("Nascimento"), QStringLiteral("Sexo"),
                                        QStringLiteral("ID no RIS"), QStringLiteral("Procedimento")});
    tabela_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tabela_->setSelectionMode(QAbstractItemView::SingleSelection);
    tabela_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tabela_->verticalHeader()->hide();
    tabela_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tabela_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    situacao_ = new QLabel(this);
    situacao_->setObjectName(QStringLiteral("lblSituacao"));
    situacao_->setWordWrap(true);
    escolher_ = new QPushButton(QStringLiteral("&Escolher"), this);
    escolher_->setObjectName(QStringLiteral("btnEscolher"));
    escolher_->setDefault(true);
    atualizar_ = new QPushButton(QStringLiteral("&Atualizar"), this);
    atualizar_->setObjectName(QStringLiteral("btnAtualizar"));
    auto* fechar = new QPushButton(QStringLiteral("&Fechar"), this);
    fechar->setObjectName(QStringLiteral("btnFechar"));
    connect(escolher_, &QPushButton::clicked, this, &TfrmListaTrabalho::escolhe);
    connect(atualizar_, &QPushButton::clicked, this, &TfrmListaTrabalho::consulta);
    connect(fechar, &QPushButton::clicked, this, &QDialog::reject);
    connect(tabela_, &QTableWidget::cellDoubleClicked, this, &TfrmListaTrabalho::escolhe);

    auto* botoes = new QHBoxLayout;
    botoes->addWidget(situacao_, 1);
    botoes->addWidget(atualizar_);
    botoes->addWidget(escolher_);
    botoes->addWidget(fechar);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabela_, 1);
    layout->addLayout(botoes);
    resize(720, 360);
    consulta();
}

QString TfrmListaTrabalho::situacao() const { return situacao_->text(); }

void TfrmListaTrabalho::consulta() {
    if (consultando_) return;
    consultando_ = true;
    escolher_->setEnabled(false);
    atualizar_->setEnabled(false);
    situacao_->setText(QStringLiteral("Consultando a lista de trabalho…"));
    // The query waits on the network for up to its timeout: never on the GUI thread. The answer
    // comes back queued to the application object, which outlives the window, and is shown only
    // if the window still exists by then.
    const QPointer<TfrmListaTrabalho> janela(this);
    QThreadPool::globalInstance()->start([janela, peer = peer_, dia = dia_] {
        QList<dicom::WorklistItem> itens;
        QString erro, nota;
        const bool ok = dicom::queryWorklist(peer, dia, peer.localAeTitle, &itens, &erro, &nota);
        // The DICOM layer words its answers for a PACS; here the server is the worklist's.
        for (QString* texto : {&erro, &nota}) texto->replace(QStringLiteral("PACS"), peer.serverName);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [janela, ok, itens, erro, nota] {
                if (janela) janela->mostra(ok, itens, erro, nota);
            },
            Qt::QueuedConnection);
    });
}

void TfrmListaTrabalho::mostra(bool ok, const QList<dicom::WorklistItem>& itens, const QString& erro,
                               const QString& nota) {
    consultando_ = false;
    atualizar_->setEnabled(true);
    itens_ = ok ? itens : QList<dicom::WorklistItem>();
    tabela_->setRowCount(0);
    for (const dicom::WorklistItem& w : std::as_const(itens_)) {
        const int linha = tabela_->rowCount();
        tabela_->insertRow(linha);
        const QString sexo = w.sex == QLatin1String("M")   ? QStringLiteral("Masculino")
                             : w.sex == QLatin1String("F") ? QStringLiteral("Feminino")
                             : w.sex == QLatin1String("O") ? QStringLiteral("Outro")
                                                           : QString();
        const QStringList colunas{w.scheduledTime.isValid() ? w.scheduledTime.toString(QStringLiteral("HH:mm")) : QString(),
                                  w.patientName,
                                  w.birthDate.isValid() ? w.birthDate.toString(QStringLiteral("dd/MM/yyyy")) : QString(),
                                  sexo, w.patientId, w.procedureDescription};
        for (int c = 0; c < colunas.size(); ++c) tabela_->setItem(linha, c, new QTableWidgetItem(colunas[c]));
    }
    QString texto;
    if (!ok)
        texto = erro;
    else if (itens_.isEmpty())
        texto = QStringLiteral("Nenhum paciente agendado para hoje nesta estação (%1).").arg(peer_.localAeTitle);
    else
        texto = itens_.size() == 1 ? QStringLiteral("1 paciente agendado.")
                                   : QStringLiteral("%1 pacientes agendados.").arg(itens_.size());
    if (ok && !nota.isEmpty()) texto += QLatin1Char(' ') + nota;
    situacao_->setText(texto);
    escolher_->setEnabled(!itens_.isEmpty());
    if (!itens_.isEmpty()) {
        tabela_->selectRow(0);
        tabela_->setFocus();
    }
}

void TfrmListaTrabalho::escolhe() {
    const int linha = tabela_->currentRow();
    if (consultando_ || linha < 0 || linha >= itens_.size()) return;
    escolhido_ = itens_[linha];
    accept();
}

int pacienteDaListaDeTrabalho(const dicom::WorklistItem& item, QWidget* parent) {
    const QString nascimento = item.birthDate.isValid() ? item.birthDate.toString(QStringLiteral("dd/MM/yyyy")) : QString();
    try {
        if (const int ligado = DPacientesRis().PacienteDoId(item.patientId); ligado > 0) return ligado;
        // Registered before the clinic had a worklist: the same name and birth date is the same
        // person. Two such patients are not guessed between.
        const QList<int> mesmos = DPacientesRis().PacientesDoNome(item.patientName, nascimento);
        if (mesmos.size() > 1) {
            showMessage(QStringLiteral("Há %1 pacientes cadastrados como %2%3. Escolha o paciente na lista de pacientes.")
                            .arg(mesmos.size())
                            .arg(item.patientName,
                                 nascimento.isEmpty() ? QString() : QStringLiteral(", nascido(a) em ") + nascimento),
                        QStringLiteral("Informação"), MsgIcon::Information, MsgButtons::Ok, parent);
            return 0;
        }
        int codigo = mesmos.value(0);
        if (codigo == 0) {
            QList<std::pair<QString, QString>> preenchidos;
            if (!nascimento.isEmpty()) preenchidos.append({QStringLiteral("DATANASCIMENTO"), nascimento});
            if (item.sex == QLatin1String("M") || item.sex == QLatin1String("F"))
                preenchidos.append({QStringLiteral("SEXO"), item.sex});
            codigo = TfrmCadastroPacientes::Inclui(item.patientName, parent, preenchidos);
            if (codigo <= 0) return 0;
        }
        DPacientesRis().Vincula(codigo, item.patientId);
        return codigo;
    } catch (const Error& e) {
        cadastro::mostraErro(e, parent);
        return 0;
    }
}

}  // namespace norvix
