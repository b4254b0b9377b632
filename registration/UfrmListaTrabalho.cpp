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
#include "UfrmComparaPacientes.h"
#include "config/UBIniSettings.h"
#include "platform/Errors.h"
#include "platform/ui/MessageSeam.h"
#include "records/ExameNovo.h"
#include "records/UDPacientesRis.h"
#include "records/UDPedidosRis.h"

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

namespace {

// How one worklist item becomes a patient of this system; each step returns the patient's
// code, 0 when the operator stopped, and raises Error when the database failed.
class TResolucaoRis {
public:
    TResolucaoRis(const dicom::WorklistItem& item, QWidget* parent)
        : ris_{item.patientName, item.birthDate, item.sex, item.patientId.trimmed(), item.issuerOfPatientId.trimmed()},
          parent_(parent) {}

    int resolve() {
        if (const int ligado = DPacientesRis().PacienteDoId(ris_.idRis); ligado > 0) {
            const PessoaCadastrada pessoa = DPacientesRis().Pessoa(ligado);
            if (diferencas(ris_, pessoa) == 0) return ligado;
            // Linked before, but the person differs: a link made on too little, or a record
            // changed on either side. Nobody's exam goes under it until the operator says.
            const auto r =
                compara({pessoa},
                        QStringLiteral("O ID %1 do RIS está ligado ao paciente abaixo, mas o nome, o sexo ou "
                                       "a data de nascimento não conferem. É a mesma pessoa?")
                            .arg(ris_.idRis),
                        QStringLiteral("&Não é: desfazer a ligação"));
            if (r.first == TfrmComparaPacientes::Resposta::Cancelar) return 0;
            if (r.first == TfrmComparaPacientes::Resposta::MesmaPessoa) return ligado;
            if (const QStringList avisos = DPacientesRis().Desvincula(ligado, ris_.idRis); !avisos.isEmpty())
                showMessage(avisos.join(u'\n'), QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, parent_);
        }
        const QList<PessoaCadastrada> mesmoNome = homonimos(ris_.nome);
        QList<PessoaCadastrada> conferem, outros;
        for (const PessoaCadastrada& p : mesmoNome) (diferencas(ris_, p) == 0 ? conferem : outros) << p;
        if (conferem.size() == 1) return liga(conferem.first());
        if (mesmoNome.isEmpty()) return cadastra();
        QString texto;
        if (conferem.size() > 1)
            texto = QStringLiteral(
                        "Há %1 pacientes cadastrados com o mesmo nome, sexo e data de nascimento. Escolha "
                        "qual deles é a pessoa agendada, ou cadastre um novo paciente.")
                        .arg(conferem.size());
        else if (!ris_.nascimento.isValid())
            texto = QStringLiteral(
                "A lista de trabalho não traz uma data de nascimento válida, e há paciente "
                "cadastrado com o mesmo nome. É a mesma pessoa?");
        else
            texto = QStringLiteral(
                "Há paciente cadastrado com o mesmo nome, mas o sexo ou a data de nascimento não "
                "conferem. É a mesma pessoa?");
        const auto r = compara(conferem + outros, texto, QStringLiteral("&Cadastrar novo paciente"));
        if (r.first == TfrmComparaPacientes::Resposta::Cancelar) return 0;
        if (r.first == TfrmComparaPacientes::Resposta::MesmaPessoa) return liga(r.second);
        return cadastra();
    }

private:
    std::pair<TfrmComparaPacientes::Resposta, PessoaCadastrada> compara(const QList<PessoaCadastrada>& candidatos,
                                                                        const QString& texto,
                                                                        const QString& outraPessoa) {
        QList<QStringList> ids;
        for (const PessoaCadastrada& p : candidatos) {
            QStringList deste;
            for (const VinculoRis& v : DPacientesRis().Vinculos(p.codigo)) deste << v.idRis;
            ids << deste;
        }
        TfrmComparaPacientes janela(ris_, candidatos, ids, texto, outraPessoa, parent_);
        janela.exec();
        return {janela.resposta(), janela.escolhido()};
    }

    // The patient is the person: linked to the ID, a further ID only when the operator says.
    int liga(const PessoaCadastrada& p) {
        const QList<VinculoRis> vinculos = DPacientesRis().Vinculos(p.codigo);
        for (const VinculoRis& v : vinculos)
            if (v.idRis == ris_.idRis) return p.codigo;
        const bool outro = !vinculos.isEmpty();
        if (outro &&
            showMessage(QStringLiteral("O paciente %1 já está ligado ao ID %2 do RIS, com o qual os exames dele "
                                       "continuam a ser enviados. Ligar também o ID %3?")
                            .arg(descrevePaciente(p), vinculos.first().idRis, ris_.idRis),
                        QStringLiteral("Atenção"), MsgIcon::Question, MsgButtons::YesNo, parent_,
                        MsgAnswer::No) != MsgAnswer::Yes)
            return 0;
        DPacientesRis().Vincula(p.codigo, ris_.idRis, ris_.emissor, outro);
        return p.codigo;
    }

    int cadastra() {
        QList<std::pair<QString, QString>> preenchidos;
        if (ris_.nascimento.isValid())
            preenchidos.append(
                {QStringLiteral("DATANASCIMENTO"), ris_.nascimento.toString(QStringLiteral("dd/MM/yyyy"))});
        if (ris_.sexo == QLatin1String("M") || ris_.sexo == QLatin1String("F"))
            preenchidos.append({QStringLiteral("SEXO"), ris_.sexo});
        const int codigo = TfrmCadastroPacientes::Inclui(ris_.nome, parent_, preenchidos);
        if (codigo <= 0) return 0;
        DPacientesRis().Vincula(codigo, ris_.idRis, ris_.emissor);
        return codigo;
    }

    PessoaRis ris_;
    QWidget* parent_;
};

}  // namespace

int pacienteDaListaDeTrabalho(const dicom::WorklistItem& item, QWidget* parent) {
    try {
        const int codigo = TResolucaoRis(item, parent).resolve();
        return codigo;
    } catch (const Error& e) {
        cadastro::mostraErro(e, parent);
        return 0;
    }
}

void registraPedidoDaListaDeTrabalho(const dicom::WorklistItem& item, int paciente, QWidget* parent) {
    const QDateTime agora = Relogio().Agora();
    try {
        DPedidosRis().Escolhe({paciente, item.patientId, item.issuerOfPatientId, item.accessionNumber,
                               item.studyInstanceUid, item.requestedProcedureId, item.requestedProcedureDescription,
                               item.scheduledStepId, agora.date(), agora.time(), 0});
    } catch (const Error& e) {
        showMessage(QStringLiteral("%1\nO exame deste paciente sairá sem o número de acesso do RIS%2.")
                        .arg(e.message(), item.accessionNumber.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(item.accessionNumber)),
                    QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, parent);
    }
}

}  // namespace norvix
