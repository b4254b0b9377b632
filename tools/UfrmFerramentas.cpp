#include "UfrmFerramentas.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDoubleValidator>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QScreen>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStyle>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "backup/BackupMidia.h"
#include "config/SharedRecords.h"
#include "config/UBIniSettings.h"
#include "modules/MapCatalogue.h"
#include "platform/Convert.h"
#include "platform/Errors.h"
#include "platform/ui/FileDialogSeam.h"
#include "platform/ui/MessageSeam.h"
#include "platform/Paths.h"
#include "platform/ProfileFile.h"
#include "records/UDExames.h"
#include "records/UDLaudos.h"
#include "records/UDMedicos.h"
#include "records/UDPacientes.h"
#include "records/UfrmDataModule.h"
#include "tools/PaginaDicom.h"

namespace norvix {

QPointer<TfrmFerramentas> TfrmFerramentas::instance_;

namespace {

constexpr int kLogo = 100;
constexpr double kIncMapMin = 0.05, kIncMapMax = 5.0;

const char* const kUtilitarios[8] = {"Sistema", "Gerenciador de Arquivos", "Painel de Controle", "Impressoras",
                                     "Modem", "Data e Hora", "DirectCD", "Configurações Regionais"};

QString logoArquivo() { return recordText(paths().DirQV) + QStringLiteral("/LogoClinica.bmp"); }

QString contagem(int n) { return QStringLiteral("%1").arg(n, 4, 10, QLatin1Char('0')); }

QLabel* titulo(const QString& texto) {
    auto* l = new QLabel(texto);
    l->setWordWrap(true);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

template <class T>
T* nomeado(T* w, const char* nome) {
    w->setObjectName(QLatin1String(nome));
    return w;
}

}  // namespace

QStringList comandoUtilitario(int i) {
    if (i == 1) return {QStringLiteral("xdg-open"), QDir::homePath()};
    if (i == 6) {
        const QString c = ProfileFile(backup::arquivoBackupIni()).readString(QStringLiteral("BACKUP"), QStringLiteral("DIRECTCD"), {});
        return QProcess::splitCommand(c);
    }
    // The desktop's own settings tool, at the panel nearest to the utility asked for.
    static const char* const kGnome[8] = {"info-overview", "", "", "printers", "network", "datetime", "", "region"};
    static const char* const kKde[8] = {"kcm_about-distro", "", "", "kcm_printer_manager", "kcm_networkmanagement",
                                        "kcm_clock", "", "kcm_regionandlang"};
    QStringList comando;
    if (const QString g = QStandardPaths::findExecutable(QStringLiteral("gnome-control-center")); !g.isEmpty()) {
        comando << g;
        if (*kGnome[i]) comando << QLatin1String(kGnome[i]);
    } else if (const QString k = QStandardPaths::findExecutable(QStringLiteral("systemsettings")); !k.isEmpty()) {
        comando << k;
        if (*kKde[i]) comando << QLatin1String(kKde[i]);
    } else if (const QString x = QStandardPaths::findExecutable(QStringLiteral("xfce4-settings-manager")); !x.isEmpty()) {
        comando << x;
    }
    return comando;
}

TfrmFerramentas::TfrmFerramentas(const TMapCatalogue* catalogue, TBIniSettings* settings, QWidget* parent)
    : QDialog(parent), catalogue_(catalogue), settings_(settings) {
    instance_ = this;
    setObjectName(QStringLiteral("frmFerramentas"));
    setWindowTitle(QStringLiteral("Ferramentas"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    pgcFerramentas_ = nomeado(new QTabWidget, "pgcFerramentas");
    pgcFerramentas_->addTab(paginaModulos(), QStringLiteral("Módulos"));
    pgcFerramentas_->addTab(paginaAplicativos(), QStringLiteral("Aplicativos do Sistema"));
    pgcFerramentas_->addTab(paginaClinica(), QStringLiteral("Dados da Clínica"));
    pgcFerramentas_->addTab(nomeado(new QWidget, "TabSheet4"), QStringLiteral("Busca Avançada"));
    pgcFerramentas_->addTab(paginaConfiguracoes(), QStringLiteral("Configurações"));
    pgcFerramentas_->addTab(paginaBanco(), QStringLiteral("Banco de Dados"));
    auto* idioma = nomeado(new QWidget, "tshLinguagem");
    auto* li = new QVBoxLayout(idioma);
    li->addWidget(new QLabel(QStringLiteral("Selecione o Idioma")));
    cbxIdioma_ = nomeado(new QComboBox, "cbxIdioma");
    li->addWidget(cbxIdioma_);
    connect(cbxIdioma_, &QComboBox::textActivated, this, [](const QString& t) { setRecordText(infos().Idioma, t); });
    li->addStretch();
    pgcFerramentas_->addTab(idioma, QStringLiteral("Idioma"));
    pgcFerramentas_->setTabVisible(3, false);
    pgcFerramentas_->setTabVisible(6, false);
    pgcFerramentas_->addTab(dicom_ = new TPaginaDicom, QStringLiteral("DICOM"));  // after the hidden "Idioma"

    auto* fechar = nomeado(new QPushButton(QStringLiteral("Fechar")), "btnFechar");
    fechar->setAutoDefault(false);
    connect(fechar, &QPushButton::clicked, this, &QDialog::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pgcFerramentas_);
    auto* rodape = new QHBoxLayout;
    rodape->addStretch();
    rodape->addWidget(fechar);
    layout->addLayout(rodape);
    resize(640, 500);

    FormCreate();
}

TfrmFerramentas::~TfrmFerramentas() = default;

TfrmFerramentas* TfrmFerramentas::instance() { return instance_; }

void TfrmFerramentas::Executa(const TMapCatalogue* catalogue, TBIniSettings* settings, QWidget* parent) {
    if (!instance_) new TfrmFerramentas(catalogue, settings, parent);
    instance_->exec();
}

QWidget* TfrmFerramentas::paginaModulos() {
    auto* p = nomeado(new QWidget, "tshModulos");
    auto* l = new QVBoxLayout(p);
    l->addWidget(titulo(QStringLiteral("Lista de todos os módulos de visualizações instalados no sistema.")));
    tlvMapas_ = nomeado(new QTreeWidget, "tlvMapas");
    tlvMapas_->setRootIsDecorated(false);
    tlvMapas_->setHeaderLabels({QStringLiteral("Descrição"), QStringLiteral("Tipo"), QStringLiteral("Nº de Mapas"),
                                QStringLiteral("Versão")});
    tlvMapas_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int c = 1; c < 4; ++c) tlvMapas_->header()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    l->addWidget(tlvMapas_);
    return p;
}

QWidget* TfrmFerramentas::paginaAplicativos() {
    auto* p = nomeado(new QWidget, "tshAplicativos");
    auto* l = new QVBoxLayout(p);
    l->addWidget(titulo(QStringLiteral("Ferramentas de configuração do sistema")));
    tlvAplicativos_ = nomeado(new QListWidget, "tlvAplicativos");
    tlvAplicativos_->setViewMode(QListView::IconMode);
    tlvAplicativos_->setIconSize(QSize(32, 32));
    tlvAplicativos_->setGridSize(QSize(130, 72));
    tlvAplicativos_->setResizeMode(QListView::Adjust);
    tlvAplicativos_->setMovement(QListView::Static);
    tlvAplicativos_->setWordWrap(true);
    const QStyle::StandardPixmap icones[8] = {QStyle::SP_ComputerIcon,    QStyle::SP_DirHomeIcon,
                                              QStyle::SP_FileDialogDetailedView, QStyle::SP_DriveNetIcon,
                                              QStyle::SP_DriveNetIcon,    QStyle::SP_FileDialogInfoView,
                                              QStyle::SP_DriveCDIcon,     QStyle::SP_DesktopIcon};
    for (int i = 0; i < 8; ++i) {
        auto* item = new QListWidgetItem(style()->standardIcon(icones[i]), QString::fromUtf8(kUtilitarios[i]), tlvAplicativos_);
        item->setData(Qt::UserRole, i);
    }
    connect(tlvAplicativos_, &QListWidget::itemDoubleClicked, this, &TfrmFerramentas::tlvAplicativosDblClick);
    l->addWidget(tlvAplicativos_);
    return p;
}

QWidget* TfrmFerramentas::paginaClinica() {
    auto* p = nomeado(new QWidget, "tshDadosClinica");
    auto* l = new QVBoxLayout(p);
    l->addWidget(titulo(QStringLiteral("Deve-se preencher os dados da clínica e o logotipo da clínica. Estes dados "
                                       "serão impressos nos relatórios.")));
    auto* linha = new QHBoxLayout;
    auto* form = new QFormLayout;
    edtNome_ = nomeado(new QLineEdit, "edtNome");
    edtEndereco_ = nomeado(new QLineEdit, "edtEndereco");
    edtFone_ = nomeado(new QLineEdit, "edtFone");
    edtCidadeEstado_ = nomeado(new QLineEdit, "edtCidadeEstado");
    form->addRow(QStringLiteral("Nome:"), edtNome_);
    form->addRow(QStringLiteral("Endereço:"), edtEndereco_);
    form->addRow(QStringLiteral("Telefone:"), edtFone_);
    form->addRow(QStringLiteral("Cidade/Estado"), edtCidadeEstado_);
    linha->addLayout(form, 1);
    auto* logo = new QVBoxLayout;
    LogoClinica_ = nomeado(new QLabel, "LogoClinica");
    LogoClinica_->setFixedSize(kLogo, kLogo);
    LogoClinica_->setFrameShape(QFrame::Box);
    LogoClinica_->setAlignment(Qt::AlignCenter);
    LogoClinica_->setCursor(Qt::PointingHandCursor);
    LogoClinica_->installEventFilter(this);
    logo->addWidget(LogoClinica_);
    logo->addWidget(new QLabel(QStringLiteral("Clique para alterar")));
    logo->addStretch();
    linha->addLayout(logo);
    l->addLayout(linha);
    // Options of the map screen, kept but not offered.
    auto* tela = nomeado(new QGroupBox(QStringLiteral("Tela do Mapa")), "gbxTelaMapa");
    auto* lt = new QVBoxLayout(tela);
    lt->addWidget(chkDadosClinica_ = nomeado(new QCheckBox(QStringLiteral("Mostrar dados da clínica.")), "chkDadosClinica"));
    lt->addWidget(chkLogoClinica_ = nomeado(new QCheckBox(QStringLiteral("Mostrar logotipo da clínica.")), "chkLogoClinica"));
    lt->addWidget(chkNomeMedico_ = nomeado(new QCheckBox(QStringLiteral("Mostrar nome do médico.")), "chkNomeMedico"));
    tela->hide();
    l->addWidget(tela);
    l->addStretch();
    return p;
}

QWidget* TfrmFerramentas::paginaConfiguracoes() {
    auto* p = nomeado(new QWidget, "tshConfig");
    auto* grade = new QGridLayout(p);
    auto spin = [](const char* nome, int min, int max, int passo) {
        auto* s = nomeado(new QSpinBox, nome);
        s->setRange(min, max);
        s->setSingleStep(passo);
        return s;
    };

    // Left column.
    auto* mapas = new QGroupBox(QStringLiteral("Mapas:"));
    auto* lm = new QGridLayout(mapas);
    lm->addWidget(new QLabel(QStringLiteral("Incremento:")), 0, 0);
    rbtEnable_ = nomeado(new QRadioButton(QStringLiteral("Automático")), "rbtEnable");
    rbtDisable_ = nomeado(new QRadioButton(QStringLiteral("Personalizado")), "rbtDisable");
    lm->addWidget(rbtEnable_, 0, 1);
    lm->addWidget(rbtDisable_, 0, 2);
    lblIncMap_ = new QLabel(QStringLiteral("Incremento fixo:"));
    EdtIncMap_ = nomeado(new QLineEdit, "EdtIncMap");
    auto* validador = new QDoubleValidator(0, kIncMapMax, 2, EdtIncMap_);
    validador->setLocale(QLocale::c());
    validador->setNotation(QDoubleValidator::StandardNotation);
    EdtIncMap_->setValidator(validador);
    EdtIncMap_->setMaximumWidth(70);
    lm->addWidget(lblIncMap_, 1, 1);
    lm->addWidget(EdtIncMap_, 1, 2);
    rgrMapaPadrao_ = new QButtonGroup(this);
    auto* padrao = nomeado(new QGroupBox(QStringLiteral("Mapa padrão novo exame:")), "rgrMapaPadrao");
    auto* lp = new QHBoxLayout(padrao);
    for (const char* item : {"Axial", "Tangencial"}) {
        auto* r = nomeado(new QRadioButton(QLatin1String(item)), item == QLatin1String("Axial") ? "rbtAxial" : "rbtTangencial");
        rgrMapaPadrao_->addButton(r);
        lp->addWidget(r);
    }
    lm->addWidget(padrao, 2, 0, 1, 3);
    grade->addWidget(mapas, 0, 0);

    auto* gerais = new QGroupBox(QStringLiteral("Exame e imagens"));
    auto* lg = new QFormLayout(gerais);
    lg->addRow(chkAneisAuto_ = nomeado(new QCheckBox(QStringLiteral("Detectar os anéis automaticamente")), "chkAneisAuto"));
    lg->addRow(chkAutoExame_ = nomeado(new QCheckBox(QStringLiteral("Realiza exame após o cadastro do paciente")), "chkAutoExame"));
    lg->addRow(chkSalvarCaptura_ = nomeado(new QCheckBox(QStringLiteral("Habilitar botão (Salvar Imagem) no módulo Digitalização")),
                                           "chkSalvarCaptura"));
    edtValIndConf_ = spin("edtValIndConf", 25, 100, 5);
    lg->addRow(QStringLiteral("Índice de confiabilidade (mínimo aceitável - em %):"), edtValIndConf_);
    SpinEditQualidadeImagem_ = spin("SpinEditQualidadeImagem", 25, 100, 5);
    lg->addRow(QStringLiteral("Compactação / Qualidade da Imagem (%):"), SpinEditQualidadeImagem_);
    auto* olhos = new QHBoxLayout;
    olhos->addWidget(chkImgCentral_ = nomeado(new QCheckBox(QStringLiteral("Imagem Central")), "chkImgCentral"));
    olhos->addWidget(chkImgLateral_ = nomeado(new QCheckBox(QStringLiteral("Imagem Lateral")), "chkImgLateral"));
    lg->addRow(QStringLiteral("Salvar imagens dos olhos:"), olhos);
    cbTipoCeratometria_ = nomeado(new QComboBox, "cbTipoCeratometria");
    cbTipoCeratometria_->addItems({QStringLiteral("Simulada"), QStringLiteral("Convencional")});
    lg->addRow(QStringLiteral("Tipo de Ceratometria padrão:"), cbTipoCeratometria_);
    grade->addWidget(gerais, 1, 0, 2, 1);

    // Right column.
    auto* varredura = new QGroupBox(QStringLiteral("Tolerancia de varredura (Processamento)"));
    auto* lv = new QGridLayout(varredura);
    edtTVlCentral_ = spin("edtTVlCentral", 0, 32, 1);
    edtTIncremento_ = spin("edtTIncremento", 0, 32, 1);
    lv->addWidget(new QLabel(QStringLiteral("Valor central:")), 0, 0);
    lv->addWidget(edtTVlCentral_, 0, 1);
    lv->addWidget(new QLabel(QStringLiteral("Incremento:")), 1, 0);
    lv->addWidget(edtTIncremento_, 1, 1);
    auto* nota = nomeado(new QLabel(QStringLiteral("Cone com 16 anéis:\n    Valor central: 16\nCone com 32 anéis:\n"
                                                   "    Valor central: 8")),
                         "memNota");
    nota->setFrameShape(QFrame::StyledPanel);
    lv->addWidget(nota, 0, 2, 2, 1);
    grade->addWidget(varredura, 0, 1);

    auto* captura = new QGroupBox(QStringLiteral("Captura"));
    auto* lc = new QGridLayout(captura);
    chkAutoPCaptura_ = nomeado(new QCheckBox(QStringLiteral("Executar o AutoCentro antes de congelar a imagem")), "chkAutoPCaptura");
    lc->addWidget(chkAutoPCaptura_, 0, 0, 1, 2);
    lblDelay_ = nomeado(new QLabel(QStringLiteral("Tempo de espera (ms): ")), "lblDelayAutoPCaptura");
    edtDelayAutoPCaptura_ = spin("edtDelayAutoPCaptura", 0, 10000, 100);
    lc->addWidget(lblDelay_, 1, 0);
    lc->addWidget(edtDelayAutoPCaptura_, 1, 1);
    grade->addWidget(captura, 1, 1);

    auto* mapa = new QGroupBox(QStringLiteral("Tela do mapa"));
    auto* lmapa = new QGridLayout(mapa);
    chkExibeGrade_ = nomeado(new QCheckBox(QStringLiteral("Exibir grade de escala sobre o mapa")), "chkExibeGrade");
    chkExibeCeratPontual_ = nomeado(new QCheckBox(QStringLiteral("Exibir ceratometria pontual")), "chkExibeCeratPontual");
    lblCor_ = nomeado(new QLabel(QStringLiteral("Cor:")), "lblCorCeratPontual");
    cbCorCeratPontual_ = nomeado(new QComboBox, "cbCorCeratPontual");
    cbCorCeratPontual_->addItems({QStringLiteral("Amarela"), QStringLiteral("Azul"), QStringLiteral("Branca"),
                                  QStringLiteral("Preta"), QStringLiteral("Vermelha"), QString()});
    cbCorCeratPontual_->setPlaceholderText(QStringLiteral("Selecione a cor"));
    lmapa->addWidget(chkExibeGrade_, 0, 0, 1, 2);
    lmapa->addWidget(chkExibeCeratPontual_, 1, 0, 1, 2);
    lmapa->addWidget(lblCor_, 2, 0);
    lmapa->addWidget(cbCorCeratPontual_, 2, 1);
    grade->addWidget(mapa, 2, 1);
    grade->setRowStretch(3, 1);

    connect(rbtEnable_, &QRadioButton::toggled, this, [this] {
        lblIncMap_->setEnabled(rbtDisable_->isChecked());
        EdtIncMap_->setEnabled(rbtDisable_->isChecked());
    });
    connect(chkAutoPCaptura_, &QCheckBox::toggled, this, [this](bool on) {
        lblDelay_->setEnabled(on);
        edtDelayAutoPCaptura_->setEnabled(on);
    });
    connect(chkExibeCeratPontual_, &QCheckBox::toggled, this, [this](bool on) {
        lblCor_->setEnabled(on);
        cbCorCeratPontual_->setEnabled(on);
    });
    return p;
}

QWidget* TfrmFerramentas::paginaBanco() {
    auto* p = nomeado(new QWidget, "tshBD");
    auto* l = new QVBoxLayout(p);
    l->addWidget(titulo(QStringLiteral("Banco de Dados Norvix Miral")));
    auto* grade = new QGridLayout;
    grade->addWidget(new QLabel(QStringLiteral("Quantidade")), 0, 1);
    grade->addWidget(new QLabel(QStringLiteral("Índice de código")), 0, 2);
    const char* const linhas[4][3] = {{"Médicos:", "lblNumMedicos", "lblIndMedicos"},
                                      {"Pacientes:", "lblNumPacientes", "lblIndPacientes"},
                                      {"Exames:", "lblNumExames", "lblIndExames"},
                                      {"Laudos:", "lblNumLaudos", "lblIndLaudos"}};
    for (int i = 0; i < 4; ++i) {
        grade->addWidget(new QLabel(QString::fromUtf8(linhas[i][0])), i + 1, 0);
        grade->addWidget(nomeado(new QLabel(QStringLiteral("0000")), linhas[i][1]), i + 1, 1);
        grade->addWidget(nomeado(new QLabel(QStringLiteral("0000")), linhas[i][2]), i + 1, 2);
    }
    grade->addWidget(new QLabel(QStringLiteral("Exames com backup:")), 5, 0);
    grade->addWidget(lblExamesBackup_ = nomeado(new QLabel(QStringLiteral("0000")), "lblExamesBackup"), 5, 1);
    grade->addWidget(new QLabel(QStringLiteral("Laudos com backup:")), 6, 0);
    grade->addWidget(lblLaudosBackup_ = nomeado(new QLabel(QStringLiteral("0000")), "lblLaudosBackup"), 6, 1);
    grade->addWidget(new QLabel(QStringLiteral("Tamanho total do banco de dados:")), 7, 0);
    grade->addWidget(lblTamanhoBD_ = nomeado(new QLabel, "lblTamanhoBD"), 7, 1, 1, 2);
    grade->addWidget(new QLabel(QStringLiteral("Arquivo do banco de dados:")), 8, 0);
    grade->addWidget(lblDiretorioBD_ = nomeado(new QLabel, "lblDiretorioBD"), 8, 1, 1, 2);
    lblDiretorioBD_->setWordWrap(true);
    lblDiretorioBD_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grade->addWidget(new QLabel(QStringLiteral("Reinicializações do backup:")), 9, 0);
    grade->addWidget(lblReiniciaBackup_ = nomeado(new QLabel, "lblReiniciaBackup"), 9, 1, 1, 2);
    grade->setColumnStretch(2, 1);
    l->addLayout(grade);
    btnZerarBackup_ = nomeado(new QPushButton(QStringLiteral("Zerar Backup")), "btnZerarBackup");
    btnZerarBackup_->setAutoDefault(false);
    connect(btnZerarBackup_, &QPushButton::clicked, this, &TfrmFerramentas::btnZerarBackupClick);
    auto* botao = new QHBoxLayout;
    botao->addWidget(btnZerarBackup_);
    botao->addStretch();
    l->addLayout(botao);
    l->addStretch();
    return p;
}

void TfrmFerramentas::FormCreate() {
    // The logo: an empty white square, or the stored picture.
    QPixmap vazio(kLogo, kLogo);
    vazio.fill(Qt::white);
    LogoClinica_->setPixmap(vazio);
    if (QFileInfo::exists(logoArquivo())) {
        const QPixmap gravado(logoArquivo());
        if (!gravado.isNull()) LogoClinica_->setPixmap(gravado);
    }

    const TInfosQV& i = infos();
    edtNome_->setText(recordText(i.Nome));
    edtEndereco_->setText(recordText(i.Endereco));
    edtCidadeEstado_->setText(recordText(i.CidadeEst));
    edtFone_->setText(recordText(i.Telefone));
    chkDadosClinica_->setChecked(i.Opt1);
    chkNomeMedico_->setChecked(i.Opt2);
    chkLogoClinica_->setChecked(i.Opt3);

    (i.AutoIncMap ? rbtDisable_ : rbtEnable_)->setChecked(true);
    lblIncMap_->setEnabled(i.AutoIncMap);
    EdtIncMap_->setEnabled(i.AutoIncMap);
    EdtIncMap_->setText(QString::number(i.IncMap, 'f', 2));
    chkAneisAuto_->setChecked(i.AutoAneis);
    edtValIndConf_->setValue(int(std::lround(i.IndiceConf)));
    chkAutoExame_->setChecked(i.AutoExame);
    chkSalvarCaptura_->setChecked(i.SalvarImagemCaptura);
    const QString mapa = recordText(i.MapaPadraoNovoExame);
    for (QAbstractButton* b : rgrMapaPadrao_->buttons()) b->setChecked(b->text() == mapa);
    chkImgCentral_->setChecked(i.sImagemCentral);
    chkImgLateral_->setChecked(i.sImagemLateral);
    cbTipoCeratometria_->setCurrentIndex(cbTipoCeratometria_->findText(recordText(i.TipoCeratometria)));
    SpinEditQualidadeImagem_->setValue(i.QualidadeImagem);
    edtTVlCentral_->setValue(i.TvlCentral);
    edtTIncremento_->setValue(i.TIncremento);
    chkAutoPCaptura_->setChecked(i.AutoPCaptura);
    edtDelayAutoPCaptura_->setValue(i.DelayAutoPCaptura);
    lblDelay_->setEnabled(i.AutoPCaptura);
    edtDelayAutoPCaptura_->setEnabled(i.AutoPCaptura);
    chkExibeGrade_->setChecked(i.ExibeGrade);
    chkExibeCeratPontual_->setChecked(i.ExibeCeratometriaPontual);
    const QString cor = recordText(i.CorCeratometriaPontual);
    // The empty item stands for "no colour" only when the stored text is empty.
    cbCorCeratPontual_->setCurrentIndex(cbCorCeratPontual_->findText(cor));
    lblCor_->setEnabled(i.ExibeCeratometriaPontual);
    cbCorCeratPontual_->setEnabled(i.ExibeCeratometriaPontual);

    mostraReinicios(ProfileFile(backup::arquivoBackupIni()).readInteger(QStringLiteral("BACKUP"), QStringLiteral("BackupZerado"), 0));
    const QString banco = recordText(paths().BancoDados) + QStringLiteral("/DATABASE.GDB");
    const QFileInfo arquivo(banco);
    lblTamanhoBD_->setText(arquivo.isFile() ? textoDecimal(double(arquivo.size()) / 1024 / 1024, 3) + QStringLiteral(" MBytes")
                                            : QStringLiteral("0000 MBytes"));
    lblDiretorioBD_->setText(arquivo.absoluteFilePath());
}

void TfrmFerramentas::mostraReinicios(int vezes) {
    lblReiniciaBackup_->setText(QStringLiteral("%1 vez(es)").arg(vezes));
}

void TfrmFerramentas::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TfrmFerramentas::FormShow() {
    tlvMapas_->clear();
    if (catalogue_) {
        const QStringList& itens = catalogue_->Items();
        for (qsizetype k = 0; k + 3 < itens.size(); k += 4)
            new QTreeWidgetItem(tlvMapas_, {itens[k], itens[k + 1], itens[k + 2], itens[k + 3]});
    }
    StatusBD();
    if (settings_) dicom_->carrega(*settings_, infos().InstrumentModel);
    pgcFerramentas_->setCurrentIndex(0);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

void TfrmFerramentas::StatusBD() {
    auto mostra = [this](const char* nome, int n) { findChild<QLabel*>(QLatin1String(nome))->setText(contagem(n)); };
    try {
        mostra("lblNumMedicos", DMedicos().CountMedicos());
        mostra("lblIndMedicos", DMedicos().GenIdMedicos());
        mostra("lblNumPacientes", DPacientes().CountPacientes());
        mostra("lblIndPacientes", DPacientes().GenIdPacientes());
        const int exames = DExames().CountExames();
        mostra("lblNumExames", exames);
        mostra("lblIndExames", DExames().GenIdExames());
        const int laudos = DLaudos().CountLaudos();
        mostra("lblNumLaudos", laudos);
        mostra("lblIndLaudos", DLaudos().GenIdLaudos());
        mostra("lblExamesBackup", exames - DExames().CountExamesSemBackup());
        mostra("lblLaudosBackup", laudos - DLaudos().CountLaudosSemBackup());
    } catch (const Error& e) {
        showMessage(e.message(), QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
    }
    btnZerarBackup_->setEnabled(lblExamesBackup_->text() != QLatin1String("0000"));
}

bool TfrmFerramentas::eventFilter(QObject* watched, QEvent* event) {
    if (watched == LogoClinica_ && event->type() == QEvent::MouseButtonDblClick) LogoClinicaDblClick();
    return QDialog::eventFilter(watched, event);
}

void TfrmFerramentas::LogoClinicaDblClick() {
    const QString escolhido = askFileName({FileDialogRequest::Open, QStringLiteral("Abrir Logotipo da Clínica"),
                                           recordText(paths().DirQV), QString(),
                                           QStringLiteral("Imagens (*.bmp *.jpg *.jpeg *.png *.gif);;Todos os arquivos (*)")},
                                          this);
    if (escolhido.isEmpty()) return;
    QImageReader leitor(escolhido);
    leitor.setDecideFormatFromContent(true);
    const QImage imagem = leitor.read();
    if (imagem.isNull()) {
        showMessage(QStringLiteral("O arquivo \"%1\" não é uma imagem que possa ser lida. O logotipo não foi alterado.")
                        .arg(QFileInfo(escolhido).fileName()),
                    QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
        return;
    }
    QImage logo = imagem;
    if (imagem.width() > kLogo || imagem.height() > kLogo) {
        const MsgAnswer r = showMessage(
            QStringLiteral("O logotipo escolhido tem %1 x %2 pixels, maior que o espaço de %3 x %3 pixels.\r\n"
                           "Deseja reduzi-lo para caber nesse espaço?").arg(imagem.width()).arg(imagem.height()).arg(kLogo),
            QStringLiteral("Confirmação"), MsgIcon::Question, MsgButtons::YesNo, this);
        if (r != MsgAnswer::Yes) return;
        // The whole picture, scaled without distortion, centred on white.
        logo = QImage(kLogo, kLogo, QImage::Format_RGB32);
        logo.fill(Qt::white);
        QPainter p(&logo);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        const QImage reduzida = imagem.scaled(kLogo, kLogo, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        p.drawImage((kLogo - reduzida.width()) / 2, (kLogo - reduzida.height()) / 2, reduzida);
    }
    QSaveFile arquivo(logoArquivo());
    if (!arquivo.open(QIODevice::WriteOnly) || !logo.save(&arquivo, "BMP") || !arquivo.commit()) {
        showMessage(QStringLiteral("Não foi possível gravar o logotipo em %1 (%2).").arg(logoArquivo(), arquivo.errorString()),
                    QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
        return;
    }
    LogoClinica_->setPixmap(QPixmap::fromImage(logo));
}

void TfrmFerramentas::tlvAplicativosDblClick(QListWidgetItem* item) {
    if (!item) return;
    const int i = item->data(Qt::UserRole).toInt();
    const QStringList comando = comandoUtilitario(i);
    if (comando.isEmpty() || !QProcess::startDetached(comando.first(), comando.mid(1)))
        showMessage(QStringLiteral("Não foi possível iniciar \"%1\" neste computador.").arg(item->text()),
                    QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
}

void TfrmFerramentas::btnZerarBackupClick() {
    const QString ini = backup::arquivoBackupIni();
    const int vezes = ProfileFile(ini).readInteger(QStringLiteral("BACKUP"), QStringLiteral("BackupZerado"), 0) + 1;
    auto falha = [this](const QString& motivo) {
        showMessage(QStringLiteral("Erro - arquivo de backup não foi zerado.\r\n\r\n%1").arg(motivo), QStringLiteral("ERRO"),
                    MsgIcon::Error, MsgButtons::Ok, this);
    };
    QByteArray anterior;
    if (QFile f(ini); f.open(QIODevice::ReadOnly)) anterior = f.readAll();

    // The marks and BackUp.ini change together or not at all: the marks are cleared in one
    // transaction that commits only after the file has been rewritten.
    TDMPrincipal::Batch lote(DMPrincipal());
    if (!DExames().ZeraBackupExames() || !DLaudos().ZeraBackupLaudos()) {
        falha(QStringLiteral("As marcas de backup dos exames e laudos não puderam ser apagadas no banco de dados; "
                             "nada foi alterado."));
        return;
    }
    const QString zero = QStringLiteral("0"), inicio = QStringLiteral("01/01/2007 00:00:00");
    QString motivo;
    const bool gravado = ProfileFile(ini).writeStrings(
        QStringLiteral("BACKUP"),
        {{QStringLiteral("DiscoAtual"), QStringLiteral("1")}, {QStringLiteral("ArquivoAtual"), zero},
         {QStringLiteral("NumArquivos"), zero}, {QStringLiteral("NumArquivosLau"), zero},
         {QStringLiteral("ArquivosGeral"), zero}, {QStringLiteral("NumExamDisco"), zero},
         {QStringLiteral("NumExamGeral"), zero}, {QStringLiteral("NumLauDisco"), zero},
         {QStringLiteral("UltDsk"), inicio}, {QStringLiteral("UltBkp"), inicio},
         {QStringLiteral("BackupZerado"), QString::number(vezes)},
         // A new series of disks: a restore never mixes its disks with the former series'.
         {QStringLiteral("Conjunto"), backup::novoConjunto()}},
        &motivo);
    if (!gravado) {
        falha(motivo + QStringLiteral("\r\nAs marcas de backup do banco de dados foram mantidas."));
        return;
    }
    // A refused commit raises, and the batch rolls the marks back as it ends: the file must
    // then go back too.
    try {
        lote.commit();
    } catch (const DatabaseError&) {
    }
    if (!lote.committed()) {
        QSaveFile volta(ini);
        if (volta.open(QIODevice::WriteOnly)) {
            volta.write(anterior);
            volta.commit();
        }
        falha(QStringLiteral("O banco de dados não confirmou a alteração; BackUp.ini voltou ao que era."));
        return;
    }
    lblExamesBackup_->setText(QStringLiteral("0000"));
    lblLaudosBackup_->setText(QStringLiteral("0000"));
    mostraReinicios(vezes);
    btnZerarBackup_->setEnabled(false);
    showMessage(QStringLiteral("Arquivo de backup zerado com sucesso."), QStringLiteral("Informação"),
                MsgIcon::Information, MsgButtons::Ok, this);
}

void TfrmFerramentas::reject() { close(); }

void TfrmFerramentas::closeEvent(QCloseEvent* event) {
    if (!valoresValidos()) {
        event->ignore();
        return;
    }
    if (gravaOpcoes()) atualizaRegistro();
    event->accept();
}

bool TfrmFerramentas::valoresValidos() {
    if (EdtIncMap_->text().trimmed().isEmpty()) EdtIncMap_->setText(QStringLiteral("0.50"));
    bool ok = false;
    const double inc = EdtIncMap_->text().trimmed().toDouble(&ok);
    if (ok && inc >= kIncMapMin && inc <= kIncMapMax) return dicom_->confirma(pgcFerramentas_);
    pgcFerramentas_->setCurrentWidget(findChild<QWidget*>(QStringLiteral("tshConfig")));
    EdtIncMap_->setFocus();
    showMessage(QStringLiteral("O incremento fixo dos mapas deve ser um número de %1 a %2 (como 0.50).")
                    .arg(kIncMapMin, 0, 'f', 2).arg(kIncMapMax, 0, 'f', 2),
                QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
    return false;
}

bool TfrmFerramentas::gravaOpcoes() {
    if (!settings_) return false;
    const QString str = QStringLiteral("Str"), flag = QStringLiteral("Bool");
    const QString clinica = QStringLiteral("CLINICA"), opcoes = QStringLiteral("OPCOES"), mapa = QStringLiteral("MAPA");
    auto texto = [&](const QString& secao, const char* chave, const QString& valor) {
        settings_->WriteParameter(str, secao, QLatin1String(chave), valor, false);
    };
    auto marca = [&](const QString& secao, const char* chave, bool valor) {
        settings_->WriteParameter(flag, secao, QLatin1String(chave), QString(), valor);
    };
    try {
        texto(clinica, "Nome", edtNome_->text());
        texto(clinica, "Endereco", edtEndereco_->text());
        texto(clinica, "CidadeEst", edtCidadeEstado_->text());
        texto(clinica, "TELEFONE", edtFone_->text());
        marca(clinica, "Opt1", chkDadosClinica_->isChecked());
        marca(clinica, "Opt2", chkNomeMedico_->isChecked());
        marca(clinica, "Opt3", chkLogoClinica_->isChecked());

        texto(opcoes, "INCMAP", EdtIncMap_->text().trimmed());
        marca(opcoes, "AUTOINCMAP", rbtDisable_->isChecked());
        marca(opcoes, "AUTOANEIS", chkAneisAuto_->isChecked());
        texto(opcoes, "INDICECONF", QString::number(edtValIndConf_->value()));
        marca(opcoes, "AUTOEXAME", chkAutoExame_->isChecked());
        marca(opcoes, "SalvarImagemCaptura", chkSalvarCaptura_->isChecked());
        // Without a choice there is no text to write: the stored value stays.
        if (QAbstractButton* b = rgrMapaPadrao_->checkedButton()) texto(opcoes, "MapaPadraoNovoExame", b->text());
        marca(opcoes, "sImagemCentral", chkImgCentral_->isChecked());
        marca(opcoes, "sImagemLateral", chkImgLateral_->isChecked());
        texto(opcoes, "TIPOCERATOMETRIA", cbTipoCeratometria_->currentText());
        texto(opcoes, "QualidadeImagem", QString::number(SpinEditQualidadeImagem_->value()));
        texto(opcoes, "IDIOMA", cbxIdioma_->currentText());
        texto(opcoes, "TVLCENTRAL", QString::number(edtTVlCentral_->value()));
        texto(opcoes, "TINCREMENTO", QString::number(edtTIncremento_->value()));
        marca(opcoes, "AUTOPCAPTURA", chkAutoPCaptura_->isChecked());
        texto(opcoes, "DELAYAUTOPCAPTURA", QString::number(edtDelayAutoPCaptura_->value()));
        marca(mapa, "EXIBEGRADE", chkExibeGrade_->isChecked());
        marca(mapa, "EXIBECERATOMETRIAPONTUAL", chkExibeCeratPontual_->isChecked());
        if (cbCorCeratPontual_->currentIndex() >= 0) texto(mapa, "CORCERATOMETRIAPONTUAL", cbCorCeratPontual_->currentText());
        dicom_->grava(*settings_);
        return true;
    } catch (const SettingsWriteError& e) {
        showMessage(e.message() + QStringLiteral("\r\nAs opções não foram todas gravadas."), QStringLiteral("ERRO"),
                    MsgIcon::Error, MsgButtons::Ok, this);
        return false;
    }
}

void TfrmFerramentas::atualizaRegistro() {
    TInfosQV& i = infos();
    settings_->LoadDicom(i.InstrumentModel);  // validated before writing: no warnings to show
    if (!settings_->LoadOptions(i.InstrumentModel)) return;
    for (const QString& aviso : settings_->loadWarnings())
        showMessage(aviso, QStringLiteral("ERRO"), MsgIcon::Error, MsgButtons::Ok, this);
    try {
        const TBIniSettings& s = *settings_;
        i.IndiceConf = s.IndiceConf();
        i.IncMap = s.IncMap();
        i.AutoAneis = s.AutoAneis();
        i.AutoIncMap = s.AutoIncMap();
        i.AutoExame = s.AutoExame();
        setRecordText(i.Nome, s.Nome());
        setRecordText(i.Endereco, s.Endereco());
        setRecordText(i.CidadeEst, s.CidadeEst());
        setRecordText(i.Telefone, s.Telefone());
        i.SalvarImagemCaptura = s.SalvarImagemCaptura();
        setRecordText(i.MapaPadraoNovoExame, s.MapaPadraoNovoExame());
        i.sImagemCentral = s.sImagemCentral();
        i.sImagemLateral = s.sImagemLateral();
        setRecordText(i.TipoCeratometria, s.TipoCeratometria());
        i.QualidadeImagem = strToInt(s.QualidadeImagem());
        setRecordText(i.Idioma, s.Idioma());
        i.ExibeGrade = s.ExibeGrade();
        i.ExibeCeratometriaPontual = s.ExibeCeratometriaPontual();
        setRecordText(i.CorCeratometriaPontual, s.CorCeratometriaPontual());
        i.TvlCentral = s.TvlCentral();
        i.TIncremento = s.TIncremento();
        i.AutoPCaptura = s.AutoPCaptura();
        i.DelayAutoPCaptura = s.DelayAutoPCaptura();
    } catch (const Error& e) {
        showMessage(e.message(), QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
    }
}

}  // namespace norvix
