// The browser's controls and their layout, built once at the first showing (see ensureUi), in
// a unit of their own so that the window's behaviour reads apart from its construction.
#include "UfrmExames.h"
#include "UfrmExamesShared.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QMenu>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstdio>

#include "ExamExport.h"
#include "ExamMaps.h"
#include "PatientGrid.h"
#include "UPnlFindPac.h"
#include "config/SharedRecords.h"
#include "config/UBIniSettings.h"
#include "modules/MapCatalogue.h"
#include "platform/Errors.h"
#include "platform/Logging.h"
#include "platform/ui/MemoKeys.h"
#include "platform/ui/MemoLimit.h"
#include "platform/ui/MessageSeam.h"
#include "records/Exclusao.h"
#include "records/UArquivosExame.h"
#include "records/UDExames.h"
#include "records/UDLaudos.h"
#include "records/UDMedicos.h"
#include "records/UDPacientes.h"
#include "records/UfrmDataModule.h"
#include "shell/HelpViewer.h"
#include "shell/UfrmAguarde.h"

namespace norvix {

using namespace norvix::browser;

// ---- building the window ---------------------------------------------------------------------

void TfrmExames::buildUi() {
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(6, 6, 6, 6);
    root->setSpacing(4);

    // Title bar of a borderless window: the caption, help and close.
    auto* title = new QHBoxLayout;
    auto* caption = new QLabel(windowTitle(), this);
    caption->setObjectName(QStringLiteral("lblTitulo"));
    QFont cf = caption->font();
    cf.setPointSizeF(cf.pointSizeF() * 1.4);
    cf.setBold(true);
    caption->setFont(cf);
    caption->setStyleSheet(QStringLiteral("color: rgb(5,94,149);"));
    title->addWidget(caption);
    title->addStretch();
    SpeedButton3_ = new QPushButton(standardIcon(QStyle::SP_DialogHelpButton), QStringLiteral("Ajuda"), this);
    SpeedButton3_->setObjectName(QStringLiteral("SpeedButton3"));
    connect(SpeedButton3_, &QPushButton::clicked, this, [this] {
        // As the F1 key would: the topic of the active window.
        QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
        QApplication::sendEvent(SpeedButton3_, &f1);
    });
    btnFechar_ = new QPushButton(standardIcon(QStyle::SP_DialogCloseButton), QStringLiteral("&Fechar"), this);
    btnFechar_->setObjectName(QStringLiteral("btnFechar"));
    connect(btnFechar_, &QPushButton::clicked, this, &TfrmExames::btnFecharClick);
    lblPacs_ = new QLabel(this);
    lblPacs_->setObjectName(QStringLiteral("lblPacs"));
    title->addWidget(lblPacs_);
    title->addSpacing(12);
    title->addWidget(SpeedButton3_);
    title->addWidget(btnFechar_);
    root->addLayout(title);

    auto* body = new QHBoxLayout;
    body->setSpacing(8);
    root->addLayout(body, 1);

    // Left: doctor filter, order, the two pages.
    auto* left = new QVBoxLayout;
    auto* filterRow = new QHBoxLayout;
    auto* doctorLabel = new QLabel(QStringLiteral("Médico:"), this);
    CBMedicos_ = new QComboBox(this);
    CBMedicos_->setObjectName(QStringLiteral("CBMedicos"));
    CBMedicos_->setMinimumContentsLength(24);
    doctorLabel->setBuddy(CBMedicos_);
    connect(CBMedicos_, &QComboBox::activated, this, [this] { CBMedicosChange(); });
    filterRow->addWidget(doctorLabel);
    filterRow->addWidget(CBMedicos_, 1);
    left->addLayout(filterRow);

    auto* orderBar = new QToolBar(this);
    orderBar->setObjectName(QStringLiteral("tlbOrdem"));
    orderBar->addWidget(new QLabel(QStringLiteral("Ordem: "), orderBar));
    tbOrdemAlfa_ = new QToolButton(orderBar);
    tbOrdemAlfa_->setObjectName(QStringLiteral("tbOrdemAlfa"));
    tbOrdemAlfa_->setText(QStringLiteral("Alfabética"));
    tbOrdemCriacao_ = new QToolButton(orderBar);
    tbOrdemCriacao_->setObjectName(QStringLiteral("tbOrdemCriacao"));
    tbOrdemCriacao_->setText(QStringLiteral("Criação"));
    for (QToolButton* b : {tbOrdemAlfa_, tbOrdemCriacao_}) {
        b->setCheckable(true);
        b->setAutoExclusive(true);
        orderBar->addWidget(b);
    }
    tbOrdemAlfa_->setChecked(true);
    connect(tbOrdemAlfa_, &QToolButton::clicked, this, &TfrmExames::tbOrdemAlfaClick);
    connect(tbOrdemCriacao_, &QToolButton::clicked, this, &TfrmExames::tbOrdemCriacaoClick);
    left->addWidget(orderBar);

    pcExames_ = new QTabWidget(this);
    pcExames_->setObjectName(QStringLiteral("pcExames"));
    pcExames_->addTab(buildPatientsPage(), QStringLiteral("Pacientes"));
    pcExames_->addTab(buildExamplesPage(), QStringLiteral("Exemplos"));
    connect(pcExames_, &QTabWidget::currentChanged, this, &TfrmExames::pcExamesChange);
    left->addWidget(pcExames_, 1);
    body->addLayout(left, 2);

    // Right: tool bars, map strip, exam list (or the search panel), exam panel.
    auto* right = new QVBoxLayout;
    auto* bars = new QHBoxLayout;
    stkToolBars_ = new QStackedWidget(this);
    stkToolBars_->setObjectName(QStringLiteral("stkToolBars"));
    tlbPaciente_ = new QToolBar(stkToolBars_);
    tlbPaciente_->setObjectName(QStringLiteral("tlbPaciente"));
    tbtCadPaciente_ =
        toolButton(tlbPaciente_, "tbtCadPaciente", QStringLiteral("Novo Paciente"), standardIcon(QStyle::SP_FileIcon));
    tbtAlterarPaciente_ = toolButton(tlbPaciente_, "tbtAlterarPaciente", QStringLiteral("Editar Paciente"),
                                     standardIcon(QStyle::SP_FileDialogDetailedView));
    tbtExcluirPaciente_ = toolButton(tlbPaciente_, "tbtExcluirPaciente", QStringLiteral("Excluir Paciente"),
                                     standardIcon(QStyle::SP_TrashIcon));
    tbLocPacExam_ = toolButton(tlbPaciente_, "tbLocPacExam", QStringLiteral("Localizar Paciente"),
                               standardIcon(QStyle::SP_FileDialogContentsView));
    tbLocPacExam_->setCheckable(true);
    tbNovoExame1_ =
        toolButton(tlbPaciente_, "tbNovoExame1", QStringLiteral("Novo Exame"), standardIcon(QStyle::SP_MediaPlay));
    tlbExame_ = new QToolBar(stkToolBars_);
    tlbExame_->setObjectName(QStringLiteral("tlbExame"));
    tbNovoExame2_ =
        toolButton(tlbExame_, "tbNovoExame2", QStringLiteral("Novo Exame"), standardIcon(QStyle::SP_MediaPlay));
    tbtExcluirExame_ =
        toolButton(tlbExame_, "tbtExcluirExame", QStringLiteral("Excluir Exame"), standardIcon(QStyle::SP_TrashIcon));
    tbLaudo_ = toolButton(tlbExame_, "tbLaudo", QStringLiteral("Laudo"), standardIcon(QStyle::SP_FileDialogInfoView));
    tbExportador_ =
        toolButton(tlbExame_, "tbExportador", QStringLiteral("Exportador "), standardIcon(QStyle::SP_DialogSaveButton));
    tbEnviarPacs_ = toolButton(tlbExame_, "tbEnviarPacs", QStringLiteral("Enviar ao PACS"),
                               standardIcon(QStyle::SP_ArrowUp));
    tbEnviarPacs_->setToolTip(QStringLiteral("Envia a visita do exame selecionado ao PACS (Ctrl+D)"));
    // The orthokeratology exam has a tool bar of its own beside each of the two.
    ToolBarOrto1_ = new QToolBar(stkToolBars_);
    ToolBarOrto1_->setObjectName(QStringLiteral("ToolBarOrto1"));
    tbExameOrto1_ = toolButton(ToolBarOrto1_, "tbExameOrto1", QStringLiteral("Orto"), examIcon(kImageOrto));
    ToolBarOrto2_ = new QToolBar(stkToolBars_);
    ToolBarOrto2_->setObjectName(QStringLiteral("ToolBarOrto2"));
    tbExameOrto2_ = toolButton(ToolBarOrto2_, "tbExameOrto2", QStringLiteral("Orto"), examIcon(kImageOrto));
    for (auto [bar, orto] : {std::pair{tlbPaciente_, ToolBarOrto1_}, std::pair{tlbExame_, ToolBarOrto2_}}) {
        auto* page = new QWidget(stkToolBars_);
        auto* l = new QHBoxLayout(page);
        l->setContentsMargins(0, 0, 0, 0);
        l->setSpacing(0);
        l->addWidget(bar);
        l->addWidget(orto);
        l->addStretch();
        stkToolBars_->addWidget(page);
    }
    // Wide enough for the larger of the two, so no button hides behind an overflow arrow.
    stkToolBars_->setMinimumWidth(stkToolBars_->sizeHint().width());
    bars->addWidget(stkToolBars_);
    pscrollMapas_ = new QScrollArea(this);
    pscrollMapas_->setObjectName(QStringLiteral("pscrollMapas"));
    pscrollMapas_->setWidgetResizable(true);
    pscrollMapas_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pscrollMapas_->setFrameShape(QFrame::NoFrame);
    tlbMapas_ = new QToolBar(pscrollMapas_);
    tlbMapas_->setObjectName(QStringLiteral("tlbMapas"));
    tlbMapas_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    tlbMapas_->setIconSize(QSize(TMapCatalogue::kImageSize, TMapCatalogue::kImageSize));
    pscrollMapas_->setWidget(tlbMapas_);
    // As tall as its buttons (and the scroll bar when they do not fit): a scroll area's own
    // minimum would take room the exam panel needs on a 768-pixel screen.
    pscrollMapas_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    fitMapStrip();
    bars->addStretch();
    right->addLayout(bars);
    // The map buttons on a row of their own: beside the tool bars only four of the ten
    // reference modules were in sight, the axial map behind the tool bar's arrow.
    auto* mapsRow = new QHBoxLayout;
    mapsRow->addWidget(pscrollMapas_, 1);
    right->addLayout(mapsRow);

    connect(tbtCadPaciente_, &QToolButton::clicked, this, &TfrmExames::tbtCadPacienteClick);
    connect(tbtAlterarPaciente_, &QToolButton::clicked, this, &TfrmExames::tbtAlterarPacienteClick);
    connect(tbtExcluirPaciente_, &QToolButton::clicked, this, &TfrmExames::tbtExcluirPacienteClick);
    connect(tbNovoExame1_, &QToolButton::clicked, this, &TfrmExames::tbNovoExameClick);
    connect(tbNovoExame2_, &QToolButton::clicked, this, &TfrmExames::tbNovoExameClick);
    // The button itself still starts a topography; its arrow offers every kind of exam.
    for (QToolButton* b : {tbNovoExame1_, tbNovoExame2_}) {
        auto* menu = new QMenu(b);
        menu->setObjectName(b->objectName() + QStringLiteral("Menu"));
        QAction* topography = menu->addAction(examIcon(kImageTopography), QStringLiteral("&Topografia"), this,
                                              &TfrmExames::tbNovoExameClick);
        topography->setShortcut(QKeySequence(QStringLiteral("Ctrl+E")));
        topography->setShortcutContext(Qt::WidgetShortcut);  // the window's key handling runs it
        menu->addAction(examIcon(kImageOrto), QStringLiteral("&Ortoceratologia"), this, &TfrmExames::tbExameOrtoClick);
        QAction* tearFilm = menu->addAction(examIcon(kImageTearFilm), QStringLiteral("&Filme Lacrimal (NIBUT)"), this,
                                            &TfrmExames::tbFilmeLacrimalClick);
        tearFilm->setObjectName(QStringLiteral("actFilmeLacrimal"));
        tearFilm->setShortcut(QKeySequence(QStringLiteral("Ctrl+T")));
        tearFilm->setShortcutContext(Qt::WidgetShortcut);
        // Held down or right-clicked, the button offers the kinds; its click stays a topography.
        // (A menu arrow would widen it, and on a 1024-pixel screen push it behind the tool bar's
        // overflow.)
        b->setMenu(menu);
        b->setPopupMode(QToolButton::DelayedPopup);
        b->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(b, &QToolButton::customContextMenuRequested, b, [b] { b->showMenu(); });
        b->setToolTip(QStringLiteral("Novo exame de topografia (Ctrl+E). Mantenha pressionado ou clique com o botão "
                                     "direito para os outros tipos: Filme Lacrimal (NIBUT) (Ctrl+T)"));
    }
    connect(tbExameOrto1_, &QToolButton::clicked, this, &TfrmExames::tbExameOrtoClick);
    connect(tbExameOrto2_, &QToolButton::clicked, this, &TfrmExames::tbExameOrtoClick);
    connect(tbtExcluirExame_, &QToolButton::clicked, this, &TfrmExames::tbtExcluirExameClick);
    connect(tbLaudo_, &QToolButton::clicked, this, &TfrmExames::tbLaudoClick);
    connect(tbExportador_, &QToolButton::clicked, this, &TfrmExames::tbExportadorClick);
    connect(tbEnviarPacs_, &QToolButton::clicked, this, &TfrmExames::tbEnviarPacsClick);
    connect(tbLocPacExam_, &QToolButton::toggled, this, [this](bool on) { showFindPanel(on); });

    stkLista_ = new QStackedWidget(this);
    stkLista_->setObjectName(QStringLiteral("stkLista"));
    auto* listPage = new QWidget(stkLista_);
    auto* listLayout = new QVBoxLayout(listPage);
    listLayout->setContentsMargins(0, 0, 0, 0);
    lswPrincipal_ = new QListWidget(listPage);
    lswPrincipal_->setObjectName(QStringLiteral("lswPrincipal"));
    lswPrincipal_->setViewMode(QListView::IconMode);
    lswPrincipal_->setIconSize(QSize(32, 32));
    lswPrincipal_->setGridSize(QSize(170, 64));
    lswPrincipal_->setResizeMode(QListView::Adjust);
    lswPrincipal_->setMovement(QListView::Static);
    lswPrincipal_->setWordWrap(true);
    lswPrincipal_->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(lswPrincipal_, &QListWidget::itemSelectionChanged, this, &TfrmExames::lswPrincipalSelectItem);
    connect(lswPrincipal_, &QListWidget::itemDoubleClicked, this, &TfrmExames::lswPrincipalDblClick);
    CBoxExames_ = new QCheckBox(QStringLiteral("Exibir todos os exames"), listPage);
    CBoxExames_->setObjectName(QStringLiteral("CBoxExames"));
    CBoxExames_->hide();
    connect(CBoxExames_, &QCheckBox::clicked, this, &TfrmExames::CBoxExamesClick);
    listLayout->addWidget(lswPrincipal_, 1);
    listLayout->addWidget(CBoxExames_);
    stkLista_->addWidget(listPage);
    // The stack asks only for the room of the page on show: the search panel's height is not
    // needed while the exam list and the exam panel share the column.
    connect(stkLista_, &QStackedWidget::currentChanged, this, [this](int current) {
        for (int i = 0; i < stkLista_->count(); ++i)
            stkLista_->widget(i)->setSizePolicy(i == current
                                                    ? QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred)
                                                    : QSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored));
        stkLista_->updateGeometry();
    });
    right->addWidget(stkLista_, 1);

    // The exam panel is made when first shown (ensureExamPanel), at the bottom of this column.
    rightColumn_ = right;
    body->addLayout(right, 3);

    // Every input of the window shares the keyboard table.
    for (QWidget* w : {static_cast<QWidget*>(DBGridPacientes_), static_cast<QWidget*>(lswPrincipal_),
                       static_cast<QWidget*>(edtFindGrid_), static_cast<QWidget*>(CBMedicos_)})
        w->installEventFilter(this);

    setTabOrder(CBMedicos_, DBGridPacientes_);
    setTabOrder(DBGridPacientes_, lswPrincipal_);
}

QWidget* TfrmExames::buildPatientsPage() {
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("tsPacientes"));
    DBGridPacientes_ = new QTableView(page);
    DBGridPacientes_->setObjectName(QStringLiteral("DBGridPacientes"));
    patientModel_ = new TPatientGridModel(this);
    DBGridPacientes_->setModel(patientModel_);
    DBGridPacientes_->setItemDelegate(new TPatientNameDelegate(DBGridPacientes_));
    DBGridPacientes_->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGridPacientes_->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGridPacientes_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGridPacientes_->horizontalHeader()->setStretchLastSection(true);
    DBGridPacientes_->verticalHeader()->hide();
    DBGridPacientes_->verticalHeader()->setDefaultSectionSize(DBGridPacientes_->fontMetrics().height() + 6);
    DBGridPacientes_->setTabKeyNavigation(false);
    connect(DBGridPacientes_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (loadingPatients_ || !current.isValid()) return;
                finishPendingEdit();
                openCurrentPatient(current.row());
                DBEditControleChange();
            });
    // Rows above the first one in memory arrive as the operator scrolls up to them.
    connect(DBGridPacientes_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (value > 2 || patientModel_->atStart()) return;
        const int added = patientModel_->fetchBefore();
        if (added > 0) DBGridPacientes_->verticalScrollBar()->setValue(value + added);
    });
    connect(DBGridPacientes_, &QTableView::clicked, this, &TfrmExames::DBGridPacientesCellClick);
    connect(DBGridPacientes_, &QTableView::doubleClicked, this, &TfrmExames::DBGridPacientesDblClick);

    edtFindGrid_ = new QLineEdit(page);
    edtFindGrid_->setObjectName(QStringLiteral("edtFindGrid"));
    edtFindGrid_->setPlaceholderText(QStringLiteral("Nome do paciente"));
    edtFindGrid_->setMaxLength(50);
    edtFindGrid_->hide();
    connect(edtFindGrid_, &QLineEdit::textEdited, this, &TfrmExames::quickFind);
    lblFindGrid_ = new QLabel(page);
    lblFindGrid_->setObjectName(QStringLiteral("lblFindGrid"));
    lblFindGrid_->setStyleSheet(QStringLiteral("color: rgb(190,0,0);"));
    lblFindGrid_->hide();
    bbtnBuscaAv_ = new QPushButton(QStringLiteral("Busca Avançada"), page);
    bbtnBuscaAv_->setObjectName(QStringLiteral("bbtnBuscaAv"));
    bbtnBuscaAv_->hide();
    connect(bbtnBuscaAv_, &QPushButton::clicked, this, [this] {
        hideQuickFind();
        tbLocPacExam_->setChecked(true);
    });

    pnlPaciente_ = new QFrame(page);
    pnlPaciente_->setObjectName(QStringLiteral("pnlPaciente"));
    pnlPaciente_->setFrameShape(QFrame::StyledPanel);
    auto* info = new QGridLayout(pnlPaciente_);
    lblID_ = infoLabel(pnlPaciente_, "lblID");
    lblNomePaciente_ = infoLabel(pnlPaciente_, "lblNomePaciente");
    lblConvenio_ = infoLabel(pnlPaciente_, "lblConvenio");
    lblUltimoExame_ = infoLabel(pnlPaciente_, "lblUltimoExame");
    lblTotalExames_ = infoLabel(pnlPaciente_, "lblTotalExames");
    QFont bold = lblNomePaciente_->font();
    bold.setBold(true);
    lblNomePaciente_->setFont(bold);
    info->setContentsMargins(6, 4, 6, 4);
    info->setVerticalSpacing(2);
    // One fact a line: beside each other they were cut on a narrow column.
    info->addWidget(lblNomePaciente_, 0, 0, 1, 2);
    int line = 1;
    for (auto [caption, value] : {std::pair{"Código:", lblID_}, std::pair{"Total de exames:", lblTotalExames_},
                                  std::pair{"Convênio:", lblConvenio_}, std::pair{"Último exame:", lblUltimoExame_}}) {
        info->addWidget(new QLabel(QString::fromUtf8(caption), pnlPaciente_), line, 0);
        info->addWidget(value, line++, 1);
    }
    info->setColumnStretch(1, 1);
    info->setRowStretch(line, 1);
    // Placed by FormResize: the fractions of the page height depend on the screen's ratio.
    page->installEventFilter(this);
    return page;
}

QWidget* TfrmExames::buildExamplesPage() {
    // The grid itself is made when the page is first opened: most visits never open it, and
    // the browser's opening is the operator's most frequent wait.
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("tsExemplos"));
    new QVBoxLayout(page);
    return page;
}

void TfrmExames::ensureExamplesGrid() {
    if (GridExemplos_) return;
    QWidget* page = pcExames_->widget(1);
    GridExemplos_ = new QTableWidget(7, 2, page);
    GridExemplos_->setObjectName(QStringLiteral("GridExemplos"));
    GridExemplos_->horizontalHeader()->hide();
    GridExemplos_->verticalHeader()->hide();
    GridExemplos_->setColumnWidth(0, 14);
    GridExemplos_->horizontalHeader()->setStretchLastSection(true);
    GridExemplos_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GridExemplos_->setSelectionBehavior(QAbstractItemView::SelectRows);
    GridExemplos_->setSelectionMode(QAbstractItemView::SingleSelection);
    // Row 0 is the grid's fixed title row.
    auto* head = new QTableWidgetItem(QStringLiteral("Exemplos"));
    head->setFlags(Qt::ItemIsEnabled);
    QFont f = head->font();
    f.setBold(true);
    head->setFont(f);
    GridExemplos_->setItem(0, 1, head);
    connect(GridExemplos_, &QTableWidget::currentCellChanged, this, [this](int r) {
        if (r >= 1) GridExemplosSelectCell(r);
    });
    GridExemplos_->installEventFilter(this);
    page->layout()->addWidget(GridExemplos_);
}

TPnlFindPac& TfrmExames::findPanel() {
    ensureUi();
    if (!findPanel_) {
        // Made at its first opening, like the examples grid.
        findPanel_ = new TPnlFindPac(*this, stkLista_);
        findPanel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        stkLista_->addWidget(findPanel_);
    }
    return *findPanel_;
}

void TfrmExames::ensureExamPanel() {
    ensureUi();
    if (pnlExame_) return;
    // Made at its first showing: the browser opens without an exam shown, and this panel's
    // controls were a sixth of the time to its first frame.
    rightColumn_->addWidget(buildExamPanel());
    cBoxMiniMapa_->setChecked(autoMiniMapa_);
    connect(cBoxMiniMapa_, &QCheckBox::toggled, this, [this](bool on) { autoMiniMapa_ = on; });
}

QWidget* TfrmExames::buildExamPanel() {
    pnlExame_ = new QFrame(this);
    pnlExame_->setObjectName(QStringLiteral("pnlExame"));
    pnlExame_->setFrameShape(QFrame::StyledPanel);
    auto* layout = new QHBoxLayout(pnlExame_);

    auto* facts = new QGridLayout;
    lblOlho_ = infoLabel(pnlExame_, "lblOlho");
    QFont bold = lblOlho_->font();
    bold.setBold(true);
    lblOlho_->setFont(bold);
    lblCodigoExame_ = infoLabel(pnlExame_, "lblCodigoExame");
    lblData_ = infoLabel(pnlExame_, "lblData");
    lblHora_ = infoLabel(pnlExame_, "lblHora");
    lblNomeMedico_ = new QLabel(pnlExame_);
    lblNomeMedico_->setObjectName(QStringLiteral("lblNomeMedico"));
    lblNomeMedico_->setCursor(Qt::PointingHandCursor);
    lblNomeMedico_->setToolTip(QStringLiteral("Filtrar pelos pacientes deste médico"));
    lblNomeMedico_->installEventFilter(this);
    // A long name wraps instead of squeezing the diagnosis beside it.
    lblNomeMedico_->setWordWrap(true);
    lblNomeMedico_->setMaximumWidth(200);
    lblIndConf_ = infoLabel(pnlExame_, "lblIndConf");
    facts->addWidget(lblOlho_, 0, 0, 1, 2);
    int row = 1;
    for (auto [caption, label] :
         {std::pair{"Exame:", lblCodigoExame_}, std::pair{"Data:", lblData_}, std::pair{"Hora:", lblHora_},
          std::pair{"Médico:", lblNomeMedico_}, std::pair{"Índice de confiança:", lblIndConf_}}) {
        facts->addWidget(new QLabel(QString::fromUtf8(caption), pnlExame_), row, 0);
        facts->addWidget(label, row++, 1);
    }
    gbOrto_ = new QGroupBox(QStringLiteral("Ortoceratologia"), pnlExame_);
    gbOrto_->setObjectName(QStringLiteral("gbOrto"));
    auto* orto = new QFormLayout(gbOrto_);
    lblDiv_ = infoLabel(gbOrto_, "lblDiv");
    lblRaio_ = infoLabel(gbOrto_, "lblRaio");
    lblSag_ = infoLabel(gbOrto_, "lblSag");
    orto->addRow(QStringLiteral("Div:"), lblDiv_);
    orto->addRow(QStringLiteral("Raio:"), lblRaio_);
    orto->addRow(QStringLiteral("Sag:"), lblSag_);
    gbOrto_->hide();
    facts->addWidget(gbOrto_, row, 0, 1, 2);
    facts->setRowStretch(row + 1, 1);
    layout->addLayout(facts);

    pgcInfo_ = new QTabWidget(pnlExame_);
    pgcInfo_->setObjectName(QStringLiteral("pgcInfo"));
    auto memoPage = [this](const char* memoName, QPlainTextEdit*& memo, const char* editName, QToolButton*& edit,
                           const char* saveName, QToolButton*& save) {
        // The buttons go under the text, which then has the page's whole width for its words.
        auto* page = new QWidget(pgcInfo_);
        auto* l = new QVBoxLayout(page);
        memo = new QPlainTextEdit(page);
        memo->setObjectName(QLatin1String(memoName));
        memo->setReadOnly(true);
        norvix::limitMemo(memo, kMemoLimit);
        norvix::tabMovesOn(memo);
        auto* buttons = new QHBoxLayout;
        edit = new QToolButton(page);
        edit->setObjectName(QLatin1String(editName));
        edit->setText(QStringLiteral("Editar"));
        edit->setIcon(standardIcon(QStyle::SP_FileDialogDetailedView));
        edit->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        save = new QToolButton(page);
        save->setObjectName(QLatin1String(saveName));
        save->setText(QStringLiteral("Salvar"));
        save->setIcon(standardIcon(QStyle::SP_DialogSaveButton));
        save->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        save->setEnabled(false);
        buttons->addWidget(edit);
        buttons->addWidget(save);
        buttons->addStretch();
        l->addWidget(memo, 1);
        l->addLayout(buttons);
        return page;
    };
    pgcInfo_->addTab(memoPage("memDiag", memDiag_, "SpeedButton2", SpeedButton2_, "SpeedButton1", SpeedButton1_),
                     QStringLiteral("&Diagnóstico"));
    pgcInfo_->addTab(memoPage("memObs", memObs_, "SpeedButton5", SpeedButton5_, "SpeedButton4", SpeedButton4_),
                     QStringLiteral("&Observações"));
    connect(SpeedButton1_, &QToolButton::clicked, this, &TfrmExames::SpeedButton1Click);
    connect(SpeedButton2_, &QToolButton::clicked, this, &TfrmExames::SpeedButton2Click);
    connect(SpeedButton4_, &QToolButton::clicked, this, &TfrmExames::SpeedButton4Click);
    connect(SpeedButton5_, &QToolButton::clicked, this, &TfrmExames::SpeedButton5Click);
    // Both tab captions whole, not behind scroll arrows.
    pgcInfo_->setMinimumWidth(pgcInfo_->tabBar()->sizeHint().width() + 8);
    layout->addWidget(pgcInfo_, 1);

    auto* mini = new QVBoxLayout;
    imgVisualizar_ = new QLabel(pnlExame_);
    imgVisualizar_->setObjectName(QStringLiteral("imgVisualizar"));
    imgVisualizar_->setFixedSize(180, 180);
    imgVisualizar_->setAlignment(Qt::AlignCenter);
    imgVisualizar_->setFrameShape(QFrame::StyledPanel);
    imgVisualizar_->setScaledContents(false);
    imgVisualizar_->setCursor(Qt::PointingHandCursor);
    imgVisualizar_->setToolTip(QStringLiteral("Clique aqui para exibir o mini mapa Axial."));
    imgVisualizar_->installEventFilter(this);
    cBoxMiniMapa_ = new QCheckBox(QStringLiteral("&Automático"), pnlExame_);
    cBoxMiniMapa_->setObjectName(QStringLiteral("cBoxMiniMapa"));
    cBoxMiniMapa_->setToolTip(QStringLiteral("Exibição automática do mini mapa Axial."));
    connect(cBoxMiniMapa_, &QCheckBox::clicked, this, [this] { maps_->MostraMiniMapa(); });
    mini->addWidget(imgVisualizar_);
    mini->addWidget(cBoxMiniMapa_);
    mini->addStretch();
    layout->addLayout(mini);
    pnlExame_->hide();
    return pnlExame_;
}

void TfrmExames::placeMapButtons(const TMapCatalogue& catalogue) {
    if (!built_) {
        pendingButtons_ = std::make_unique<TMapCatalogue>(catalogue);
        return;
    }
    tlbMapas_->clear();
    catalogue.PlaceButtons(
        tlbMapas_, examIcon(kImageTopography), [this](QToolButton* b) { maps_->MapaClick(b->text()); },
        [this](QToolButton* b) { maps_->MapasClick(b->text()); });
    fitMapStrip();
}

void TfrmExames::fitMapStrip() {
    // The buttons' height, captions included, with room for the scroll bar that appears when
    // they do not fit across.
    QToolButton probe;
    probe.setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    probe.setIconSize(tlbMapas_->iconSize());
    probe.setText(QStringLiteral("Mapa"));
    // Never narrower than all its buttons: on a narrow screen the strip scrolls, rather than
    // the tool bar hiding buttons behind its "››" (which offered nothing until an exam was chosen).
    tlbMapas_->setMinimumWidth(tlbMapas_->sizeHint().width());
    const int buttons = std::max(tlbMapas_->sizeHint().height(), probe.sizeHint().height() + 8);
    pscrollMapas_->setFixedHeight(buttons + pscrollMapas_->horizontalScrollBar()->sizeHint().height());
}

// ---- layout ----------------------------------------------------------------------------------

void TfrmExames::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FormResize();
}

void TfrmExames::FormResize() {
    if (!built_) return;
    QWidget* page = pcExames_->widget(0);
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const double ratio =
        screen ? double(screen->geometry().width()) / std::max(1, screen->geometry().height()) : 4.0 / 3;
    const auto [gridFraction, panelFraction] = layoutFractions(ratio);
    const int h = page->height();
    const int w = page->width();
    // The heights the fixed controls ask for do not change with their texts: measured once.
    if (fieldHint_.isEmpty()) fieldHint_ = QSize(bbtnBuscaAv_->sizeHint().width(), edtFindGrid_->sizeHint().height());
    if (panelHeight_ == 0) panelHeight_ = pnlPaciente_->sizeHint().height();
    const int fieldHeight = edtFindGrid_->isVisible() ? fieldHint_.height() + 4 : 0;
    const int noticeHeight = lblFindGrid_->isVisible() ? lblFindGrid_->sizeHint().height() + 2 : 0;
    lblFindGrid_->setGeometry(2, fieldHeight, w - 4, noticeHeight);
    const int findHeight = fieldHeight + noticeHeight;
    edtFindGrid_->setGeometry(0, 0, std::max(0, w - fieldHint_.width() - 4), fieldHint_.height());
    bbtnBuscaAv_->setGeometry(w - fieldHint_.width(), 0, fieldHint_.width(), fieldHint_.height());
    DBGridPacientes_->setGeometry(0, findHeight, w, std::max(0, int(h * gridFraction) - findHeight));
    const int panelTop = int(h * panelFraction);
    pnlPaciente_->setGeometry(0, std::min(panelTop, std::max(0, h - panelHeight_)), w,
                              std::max(panelHeight_, h - panelTop));
}

}  // namespace norvix
