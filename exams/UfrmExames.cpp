#include "UfrmExames.h"

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
#include <QHash>
#include <QGuiApplication>
#include <QHBoxLayout>
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
#include "platform/MemoLimit.h"
#include "platform/MessageSeam.h"
#include "records/UArquivosExame.h"
#include "records/Exclusao.h"
#include "records/UDExames.h"
#include "records/UDLaudos.h"
#include "records/UDMedicos.h"
#include "records/UDPacientes.h"
#include "records/UfrmDataModule.h"
#include "shell/HelpViewer.h"
#include "shell/UfrmAguarde.h"
#include "platform/Logging.h"

using norvix::DMPrincipal;
using norvix::MsgAnswer;
using norvix::MsgButtons;
using norvix::MsgIcon;
using norvix::showMessage;

const QString TfrmExames::kSemExames = QStringLiteral("*** Sem Exames");
const QString TfrmExames::kTodos = QStringLiteral("*** Todos");
QPointer<TfrmExames> TfrmExames::instance_;

namespace {

const QString kExamplesStems[5] = {QStringLiteral("Central0"), QStringLiteral("Periférico0"),
                                   QStringLiteral("Regular0"), QStringLiteral("Irregular0"),
                                   QStringLiteral("Normal0")};
const QString kExamplesRows[6] = {QStringLiteral("Ceratocone - Central"),    QStringLiteral("Ceratocone - Periférico"),
                                  QStringLiteral("Astigmatismo - Regular"),  QStringLiteral("Astigmatismo - Iregular"),
                                  QStringLiteral("Normal"),                  QStringLiteral("Ortoceratologia")};
constexpr int kImageTopography = 1;
constexpr int kImageOrto = 3;
constexpr int kImageRole = Qt::UserRole + 1;
constexpr int kCodeRole = Qt::UserRole + 2;  // the exam code an item stands for
constexpr int kMemoLimit = 240;              // DIAG and OBSERVACAO hold 240 characters

// The exam list's images, drawn rather than shipped: rings for a topography, a lens over
// rings for an orthokeratology exam.
QIcon drawExamIcon(int image) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(6, 47, 79));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(1, 1, 30, 30));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(240, 246, 250), 1.6));
    for (double r : {12.5, 9.0, 5.5}) p.drawEllipse(QPointF(16, 16), r, r);
    if (image == kImageOrto) {
        p.setPen(QPen(QColor(255, 210, 63), 2.4));
        p.drawArc(QRectF(4, 4, 24, 24), 20 * 16, 140 * 16);
    }
    return QIcon(pm);
}

// The style decodes its icons from PNG resources at every request; once per program is enough
// (the browser is built anew each time it opens).
QIcon examIcon(int image) {
    static const QIcon topography = drawExamIcon(kImageTopography), orto = drawExamIcon(kImageOrto);
    return image == kImageOrto ? orto : topography;
}

QIcon standardIcon(QStyle::StandardPixmap which) {
    static QHash<int, QIcon> cache;
    auto it = cache.find(which);
    if (it == cache.end()) it = cache.insert(which, QApplication::style()->standardIcon(which));
    return *it;
}

QToolButton* toolButton(QToolBar* bar, const char* name, const QString& text, const QIcon& icon) {
    auto* b = new QToolButton(bar);
    b->setObjectName(QLatin1String(name));
    b->setText(text);
    b->setIcon(icon);
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setAutoRaise(true);
    bar->addWidget(b);
    return b;
}

QLabel* infoLabel(QWidget* parent, const char* name) {
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TfrmExames::TfrmExames(TBIniSettings* settings, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint), settings_(settings) {
    instance_ = this;
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("frmExames"));
    setWindowTitle(QStringLiteral("Navegador do Miral"));
    setModal(true);
    norvix::help::setContext(this, 5);
    timerAguarde_ = new QTimer(this);
    timerAguarde_->setObjectName(QStringLiteral("TimerAguarde"));
    timerAguarde_->setSingleShot(true);
    timerAguarde_->setInterval(1000);
    connect(timerAguarde_, &QTimer::timeout, this, &TfrmExames::TimerAguardeTimer);
    maps_ = std::make_unique<TExamMaps>(*this);
    setWindowState(windowState() | Qt::WindowMaximized);
}

void TfrmExames::ensureUi() {
    if (built_) return;
    built_ = true;
    buildUi();
    if (pendingButtons_) {
        placeMapButtons(*pendingButtons_);
        pendingButtons_.reset();
    }
}

TfrmExames::~TfrmExames() = default;

TfrmExames* TfrmExames::instance() { return instance_; }
bool TfrmExames::exists() { return !instance_.isNull(); }

TfrmExames::Openers& TfrmExames::openers() {
    static Openers o;
    return o;
}

std::pair<double, double> TfrmExames::layoutFractions(double r) {
    if (r < 1.3) return {0.79, 0.855};
    if (r < 1.4) return {0.63, 0.75};
    return {0.70, 0.80};
}

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
    tbtCadPaciente_ = toolButton(tlbPaciente_, "tbtCadPaciente", QStringLiteral("Novo Paciente"),
                                 standardIcon(QStyle::SP_FileIcon));
    tbtAlterarPaciente_ = toolButton(tlbPaciente_, "tbtAlterarPaciente", QStringLiteral("Editar Paciente"),
                                     standardIcon(QStyle::SP_FileDialogDetailedView));
    tbtExcluirPaciente_ = toolButton(tlbPaciente_, "tbtExcluirPaciente", QStringLiteral("Excluir Paciente"),
                                     standardIcon(QStyle::SP_TrashIcon));
    tbLocPacExam_ = toolButton(tlbPaciente_, "tbLocPacExam", QStringLiteral("Localizar Paciente"),
                               standardIcon(QStyle::SP_FileDialogContentsView));
    tbLocPacExam_->setCheckable(true);
    tbNovoExame1_ = toolButton(tlbPaciente_, "tbNovoExame1", QStringLiteral("Novo Exame"),
                               standardIcon(QStyle::SP_MediaPlay));
    tlbExame_ = new QToolBar(stkToolBars_);
    tlbExame_->setObjectName(QStringLiteral("tlbExame"));
    tbNovoExame2_ = toolButton(tlbExame_, "tbNovoExame2", QStringLiteral("Novo Exame"),
                               standardIcon(QStyle::SP_MediaPlay));
    tbtExcluirExame_ = toolButton(tlbExame_, "tbtExcluirExame", QStringLiteral("Excluir Exame"),
                                  standardIcon(QStyle::SP_TrashIcon));
    tbLaudo_ = toolButton(tlbExame_, "tbLaudo", QStringLiteral("Laudo"), standardIcon(QStyle::SP_FileDialogInfoView));
    tbExportador_ = toolButton(tlbExame_, "tbExportador", QStringLiteral("Exportador "),
                               standardIcon(QStyle::SP_DialogSaveButton));
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
    connect(tbExameOrto1_, &QToolButton::clicked, this, &TfrmExames::tbExameOrtoClick);
    connect(tbExameOrto2_, &QToolButton::clicked, this, &TfrmExames::tbExameOrtoClick);
    connect(tbtExcluirExame_, &QToolButton::clicked, this, &TfrmExames::tbtExcluirExameClick);
    connect(tbLaudo_, &QToolButton::clicked, this, &TfrmExames::tbLaudoClick);
    connect(tbExportador_, &QToolButton::clicked, this, &TfrmExames::tbExportadorClick);
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
            stkLista_->widget(i)->setSizePolicy(i == current ? QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred)
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
    for (auto [caption, label] : {std::pair{"Exame:", lblCodigoExame_}, std::pair{"Data:", lblData_},
                                  std::pair{"Hora:", lblHora_}, std::pair{"Médico:", lblNomeMedico_},
                                  std::pair{"Índice de confiança:", lblIndConf_}}) {
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

// ---- showing and closing ---------------------------------------------------------------------

void TfrmExames::setVisible(bool visible) {
    if (visible && !isVisible()) {
        // The controls are made before the window becomes visible: made in its show event they
        // would each be shown later by a queued call, a good part of the first frame's time.
        ensureUi();
        // The whole work area of the screen, also without a window manager to maximise it: a
        // dialog is otherwise centred over its parent at its size hint, partly off the screen.
        const QWidget* over = parentWidget() ? parentWidget()->window() : nullptr;
        if (const QScreen* s = over && over->screen() ? over->screen() : QGuiApplication::primaryScreen())
            setGeometry(s->availableGeometry());
        setWindowState(windowState() | Qt::WindowMaximized);
    }
    QDialog::setVisible(visible);
}

void TfrmExames::showEvent(QShowEvent* event) {
    ensureUi();
    QDialog::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        FormShow();
    }
}

void TfrmExames::FormShow() {
    TfrmAguarde::instance()->hide();
    ToolBarOrto1_->show();
    ToolBarOrto2_->show();
    pscrollMapas_->setMinimumWidth(300);
    autoMiniMapa_ = norvix::infos().AutoMiniMapa != 0;
    if (cBoxMiniMapa_) cBoxMiniMapa_->setChecked(autoMiniMapa_);
    examplesMode_ = false;
    examView_ = false;
    tbLocPacExam_->setChecked(false);
    CarregaFiltroMedicos();
    opening_ = true;
    CarregaPacientes(true);
    opening_ = false;
    focusPatientGrid();
    showPatientToolBar();
    pcExames_->setCurrentIndex(0);
    if (QWidget* tips = QApplication::activeModalWidget(); tips && tips->objectName() == QLatin1String("frmDica"))
        tips->close();
}

void TfrmExames::btnFecharClick() {
    examplesMode_ = false;
    examView_ = false;
    close();
}

void TfrmExames::closeEvent(QCloseEvent* event) {
    if (!closing_ && built_) {
        finishPendingEdit();
        closing_ = true;
        try {
            writeBackSettings();
        } catch (const norvix::SettingsWriteError& e) {
            showMessage(e.message(), QStringLiteral("Atenção"), MsgIcon::Warning, MsgButtons::Ok, this);
        }
        QApplication::processEvents();
        if (TfrmAguarde::exists()) TfrmAguarde::instance()->close();
    }
    QDialog::closeEvent(event);
}

void TfrmExames::writeBackSettings() {
    using norvix::infos;
    using norvix::setRecordText;
    const QString filter = filterText();
    setRecordText(infos().MedicoAtivo, filter);
    setRecordText(infos().PacienteAtivo, patientName());
    infos().AutoMiniMapa = autoMiniMapa_ ? 1 : 0;
    if (TBIniSettings* s = settings_) {
        s->WriteParameter(QStringLiteral("Str"), QStringLiteral("CLINICA"), QStringLiteral("MEDICOATIVO"), filter, false);
        s->WriteParameter(QStringLiteral("Str"), QStringLiteral("CLINICA"), QStringLiteral("PACIENTEATIVO"),
                          patientName(), false);
        s->WriteParameter(QStringLiteral("Bool"), QStringLiteral("OPCOES"), QStringLiteral("AUTOMINIMAPA"), QString(),
                          autoMiniMapa_);
    }
}

// ---- wait window -----------------------------------------------------------------------------

void TfrmExames::showWait() { TfrmAguarde::instance()->showNow(); }
void TfrmExames::hideWait() {
    if (TfrmAguarde::exists()) TfrmAguarde::instance()->hide();
}
void TfrmExames::startWaitTimer() { timerAguarde_->start(); }
void TfrmExames::TimerAguardeTimer() {
    hideWait();
    timerAguarde_->stop();
}

// ---- doctor filter and patients --------------------------------------------------------------

QStringList TfrmExames::filterEntries() const {
    QStringList out;
    if (!built_) return out;
    for (int i = 0; i < CBMedicos_->count(); ++i) out << CBMedicos_->itemText(i);
    return out;
}

QString TfrmExames::filterText() const { return !built_ || CBMedicos_->currentIndex() < 0 ? QString() : CBMedicos_->currentText(); }

int TfrmExames::currentFilterDoctor() const {
    const QString f = filterText();
    if (f.isEmpty() || f == kTodos || f == kSemExames) return 0;
    return norvix::DMedicos().SelectCodigoByNome(f);
}

void TfrmExames::CarregaFiltroMedicos() {
    ensureUi();
    const QString active = norvix::recordText(norvix::infos().MedicoAtivo);
    const QStringList names = norvix::DMedicos().NomesMedicos();
    const QSignalBlocker block(CBMedicos_);
    CBMedicos_->clear();
    int selected = -1;
    for (const QString& n : names) {
        CBMedicos_->addItem(n);
        if (n == active) selected = CBMedicos_->count() - 1;
    }
    if (norvix::DPacientes().ExistemPacientesSemExames()) {  // the count itself is not needed
        CBMedicos_->addItem(kSemExames);
        if (active == kSemExames) selected = CBMedicos_->count() - 1;
    }
    if (CBMedicos_->count() > 0) {
        CBMedicos_->addItem(kTodos);
        if (active.isEmpty() || active == kTodos) selected = CBMedicos_->count() - 1;
    }
    CBMedicos_->setCurrentIndex(selected);
}

void TfrmExames::CBMedicosChange() { SelecionaPacientePorCodigo(patientCode(), filterText()); }

void TfrmExames::SelecionaPaciente(const QString& name, const QString& filter) {
    ensureUi();
    {
        const QSignalBlocker block(CBMedicos_);
        CBMedicos_->setCurrentIndex(CBMedicos_->findText(filter, Qt::MatchExactly | Qt::MatchCaseSensitive));
    }
    CarregaPacientes(byName_);
    moveToPatientPrefix(name);
}

void TfrmExames::SelecionaPacientePorCodigo(int code, const QString& filter) {
    ensureUi();
    {
        const QSignalBlocker block(CBMedicos_);
        CBMedicos_->setCurrentIndex(CBMedicos_->findText(filter, Qt::MatchExactly | Qt::MatchCaseSensitive));
    }
    reloadPatients(byName_, code);
}

bool TfrmExames::SelecionaCodigoPaciente(int code) {
    ensureUi();
    if (patientModel_->codeAt(patientModel_->rowOfCode(code)) == code) {
        selectGridRow(patientModel_->rowOfCode(code));
        return true;
    }
    loadingPatients_ = true;
    const int row = patientModel_->jumpToCode(code);
    loadingPatients_ = false;
    if (row < 0) return false;
    selectGridRow(row);
    return true;
}

void TfrmExames::CarregaPacientes(bool byName) {
    ensureUi();
    // The patient of the last session, under the filter of the last session: found before the
    // list stands anywhere, so that no other patient is loaded on the way.
    const bool lastSession = filterText() == norvix::recordText(norvix::infos().MedicoAtivo);
    reloadPatients(byName, 0, lastSession ? norvix::recordText(norvix::infos().PacienteAtivo) : QString());
}

void TfrmExames::reloadPatients(bool byName, int code, const QString& name) {
    finishPendingEdit();
    byName_ = byName;
    // The list is read a page at a time, so a load takes milliseconds whatever the clinic's
    // size; the wait window still comes up for the reloads the Part names, but not while the
    // browser itself is opening, where it would only flash over it.
    const bool wait = shownOnce_ && !opening_;
    if (wait) showWait();
    const QString filter = filterText();
    TPatientGridModel::Filter kind = TPatientGridModel::Filter::Todos;
    int doctor = 0;
    if (filter == kSemExames) {
        kind = TPatientGridModel::Filter::SemExames;
    } else if (!filter.isEmpty() && filter != kTodos) {
        kind = TPatientGridModel::Filter::Medico;
        doctor = norvix::DMedicos().SelectCodigoByNome(filter);
    }
    loadingPatients_ = true;
    int row = -1;
    if (code > 0 || !name.isEmpty()) {
        patientModel_->resetEmpty(kind, doctor, byName);
        row = code > 0 ? patientModel_->jumpToCode(code) : patientModel_->jumpToName(name);
        if (row < 0) patientModel_->jumpToStart();
    } else {
        patientModel_->reset(kind, doctor, byName);
    }
    loadingPatients_ = false;
    if (patientModel_->rowCount() == 0) {
        DMPrincipal().IBQueryPacientes.close();
        clearExamList();
        setPatientEditButtons(false);
        patient_.reset();
        for (QLabel* l : {lblID_, lblNomePaciente_, lblConvenio_, lblUltimoExame_, lblTotalExames_}) l->clear();
    } else {
        selectGridRow(row >= 0 ? row : 0);
    }
    updateShowAllBox();
    FormResize();
    if (wait) hideWait();
}

void TfrmExames::selectGridRow(int row) {
    const QModelIndex index = patientModel_->index(row, 0);
    if (!index.isValid()) return;
    if (DBGridPacientes_->currentIndex() == index) {
        // Same row, new content (a reload): the current-row signal does not come.
        openCurrentPatient(row);
        DBEditControleChange();
    } else {
        DBGridPacientes_->setCurrentIndex(index);
    }
    DBGridPacientes_->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

void TfrmExames::openCurrentPatient(int row) {
    norvix::FbQuery& q = DMPrincipal().openQuery(DMPrincipal().IBQueryPacientes,
                                                 QStringLiteral("Select * FROM Pacientes WHERE Pacientes.Codigo = :Codigo"),
                                                 {{QStringLiteral("Codigo"), patientModel_->codeAt(row)}});
    if (q.recNo() >= 0)
        patient_ = norvix::TPaciente::daLinha(q);
    else
        patient_.reset();
}

void TfrmExames::moveToPatientPrefix(const QString& prefix, bool exactIgnoringCase) {
    if (prefix.isEmpty() || patientModel_->rowCount() == 0) return;
    loadingPatients_ = true;
    const int row = exactIgnoringCase ? patientModel_->jumpToName(prefix) : patientModel_->jumpToPrefix(prefix);
    loadingPatients_ = false;
    if (row >= 0) {
        selectGridRow(row);
    } else if (!DBGridPacientes_->currentIndex().isValid()) {
        selectGridRow(0);  // the rows were kept, but a reset may have cleared the selection
    }
}

void TfrmExames::DBEditControleChange() {
    if (!DMPrincipal().IBQueryPacientes.active()) return;
    if (!patient_) {
        // The patient of this row is gone (another workstation deleted it): say so and show
        // the list as it is now, once the grid is done with this row.
        clearExamList();
        showMessage(QStringLiteral("O paciente selecionado não existe mais; a lista será atualizada."),
                    QStringLiteral("Informação"), MsgIcon::Information, MsgButtons::Ok, this);
        QMetaObject::invokeMethod(this, [this] { CarregaPacientes(byName_); }, Qt::QueuedConnection);
        return;
    }
    const norvix::TPaciente& p = *patient_;
    lblID_->setText(QStringLiteral("%1").arg(p.codigo, 4, 10, QLatin1Char('0')));
    lblNomePaciente_->setText(p.nome);
    lblNomePaciente_->setToolTip(QStringLiteral("Data de criação: ") + p.dtCadastro.toString(QStringLiteral("dd/MM/yyyy")));
    lblConvenio_->setText(p.convenio);
    lblUltimoExame_->setText(p.ultimoExame);
    lblTotalExames_->setText(QString::number(p.totalExames));
    AtualizaPaciente();
}

void TfrmExames::AtualizaPaciente() {
    showPatientToolBar();
    if (!patient_) {
        clearExamList();
        setPatientEditButtons(false);
        return;
    }
    CarregaExames(patient_->codigo);
    setPatientEditButtons(true);
    tbLocPacExam_->setEnabled(true);
    tbtCadPaciente_->setEnabled(true);
}

void TfrmExames::setPatientEditButtons(bool enabled) {
    tbtAlterarPaciente_->setEnabled(enabled);
    tbtExcluirPaciente_->setEnabled(enabled);
}

void TfrmExames::refreshCurrentPatientRow() {
    // The patient's counters changed: read the list again and stand on the same patient.
    reloadPatients(byName_, patientCode());
}

void TfrmExames::returnGridToRow() {
    // A commit reopened the patient query on its statement: the same patient again.
    const int row = patientModel_->rowOfCode(patientCode());
    if (row >= 0) DBGridPacientes_->setCurrentIndex(patientModel_->index(row, 0));
}

void TfrmExames::DBGridPacientesCellClick() {
    if (edtFindGrid_->isVisible()) edtFindGrid_->clear();
    showPatientToolBar();
    lswPrincipal_->clearSelection();
}

void TfrmExames::DBGridPacientesDblClick() { tbtAlterarPacienteClick(); }

void TfrmExames::tbOrdemAlfaClick() {
    tbOrdemAlfa_->setChecked(true);
    reloadPatients(true, patientCode());
}

void TfrmExames::tbOrdemCriacaoClick() {
    tbOrdemCriacao_->setChecked(true);
    reloadPatients(false, patientCode());
}

void TfrmExames::focusPatientGrid() { DBGridPacientes_->setFocus(); }

// ---- exams -----------------------------------------------------------------------------------

void TfrmExames::clearExamList() {
    finishPendingEdit();
    const QSignalBlocker block(lswPrincipal_);
    lswPrincipal_->clear();
    selectedCaption_.clear();
    selected_.reset();
    clearExamPanel();
    CBoxExames_->hide();
}

void TfrmExames::CarregaExames(int patientCode) {
    ensureUi();
    finishPendingEdit();
    const QString filter = filterText();
    const bool all = filter == kTodos || filter.isEmpty() || filter == kSemExames || CBoxExames_->isChecked();
    const QList<norvix::TExame> exams =
        norvix::DExames().SelectExamesByPaciente(patientCode, all ? 0 : currentFilterDoctor());
    const QSignalBlocker block(lswPrincipal_);
    clearExamList();
    for (const norvix::TExame& e : exams) {
        const int image = e.ortoceratologia() ? kImageOrto : kImageTopography;
        auto* item = new QListWidgetItem(examIcon(image), e.legenda(), lswPrincipal_);
        item->setData(kImageRole, image);
        item->setData(kCodeRole, e.codigo);
    }
    updateShowAllBox();
}

void TfrmExames::updateShowAllBox() {
    const int count = lswPrincipal_->count();
    const QString filter = filterText();
    const int total = patient_ ? patient_->totalExames : 0;
    if (!CBoxExames_->isChecked()) {
        CBoxExames_->setVisible(count > 0 && count < total && filter != kTodos && !examplesMode_);
    } else {
        const int doctor = currentFilterDoctor();
        CBoxExames_->setVisible(!examplesMode_ && patient_ &&
                                total != norvix::DExames().CountExamesByMedicoPaciente(doctor, patient_->codigo));
    }
}

void TfrmExames::CBoxExamesClick() { CarregaExames(patientCode()); }

QStringList TfrmExames::itemCaptions() const {
    QStringList out;
    if (!built_) return out;
    for (int i = 0; i < lswPrincipal_->count(); ++i) out << lswPrincipal_->item(i)->text();
    return out;
}

QList<int> TfrmExames::itemCodes() const {
    QList<int> out;
    if (!built_) return out;
    for (int i = 0; i < lswPrincipal_->count(); ++i) out << lswPrincipal_->item(i)->data(kCodeRole).toInt();
    return out;
}

int TfrmExames::selectedItem() const {
    if (!built_) return -1;
    const QList<QListWidgetItem*> s = lswPrincipal_->selectedItems();
    return s.isEmpty() ? -1 : lswPrincipal_->row(s.first());
}

bool TfrmExames::examPanelVisible() const { return pnlExame_ && pnlExame_->isVisible(); }
bool TfrmExames::automaticSmallMap() const { return autoMiniMapa_; }

std::optional<norvix::TExame> TfrmExames::LocalizaExame(const QString& caption) {
    std::optional<norvix::TExame> exam;
    for (int i = 0; built_ && i < lswPrincipal_->count() && !exam; ++i) {
        const QListWidgetItem* item = lswPrincipal_->item(i);
        if (item->text() == caption && item->data(kCodeRole).toInt() > 0)
            exam = norvix::DExames().SelectExameByCodigo(item->data(kCodeRole).toInt());
    }
    if (!exam && patientCode() > 0) exam = norvix::DExames().SelectExameByLegenda(patientCode(), caption);
    if (exam && exam->paciente != patientCode()) exam.reset();
    if (exam && exam->orto) {
        sag_ = exam->orto->sag;
        div_ = exam->orto->div;
        raio_ = exam->orto->raio;
    }
    return exam;
}

int TfrmExames::selectedExamCode() const {
    const int row = selectedItem();
    return row < 0 || examplesMode_ ? 0 : lswPrincipal_->item(row)->data(kCodeRole).toInt();
}

std::optional<norvix::TExame> TfrmExames::selectedExam() const {
    const int code = selectedExamCode();
    return code > 0 ? norvix::DExames().SelectExameByCodigo(code) : std::nullopt;
}

void TfrmExames::lswPrincipalSelectItem() {
    const int row = selectedItem();
    const int code = selectedExamCode();
    if (!shown_ || shown_->codigo != code) finishPendingEdit();
    selectedCaption_ = row < 0 ? QString() : lswPrincipal_->item(row)->text();
    selected_.reset();
    if (!examplesMode_ && code > 0) {
        selected_ = norvix::DExames().SelectExameByCodigo(code);
        if (!selected_) {
            showMessage(QStringLiteral("Erro ao selecionar o exame."), QStringLiteral("Erro"), MsgIcon::Error,
                        MsgButtons::Ok, this);
            clearExamPanel();
            // Another workstation may have deleted it: show what is there now, once the list is
            // done with this selection.
            QMetaObject::invokeMethod(this, [this] { CarregaExames(patientCode()); }, Qt::QueuedConnection);
            return;
        }
        if (selected_->orto) {
            sag_ = selected_->orto->sag;
            div_ = selected_->orto->div;
            raio_ = selected_->orto->raio;
        }
        examView_ = true;
        showExamToolBar();
        if (examPanelVisible()) MostraInfoExame(0);
    } else if (!examplesMode_ && examPanelVisible()) {
        clearExamPanel();
    }
    if (examplesMode_) {
        for (QToolButton* b : {tbNovoExame1_, tbNovoExame2_, tbtExcluirExame_, tbtCadPaciente_, tbLocPacExam_,
                               tbtAlterarPaciente_, tbtExcluirPaciente_})
            b->setEnabled(false);
    } else {
        tbtExcluirExame_->setEnabled(row >= 0);
        tbLaudo_->setEnabled(selected_ && selected_->nomeMedico == filterText());
    }
}

void TfrmExames::lswPrincipalDblClick() {
    if (examPanelVisible() || examplesMode_) {
        finishPendingEdit();
        if (pnlExame_) pnlExame_->hide();
    } else if (selected_) {
        MostraInfoExame(0);
    }
}

void TfrmExames::SelecionaExame(const QString& caption, int page) {
    ensureUi();
    for (int i = 0; i < lswPrincipal_->count(); ++i) {
        if (!lswPrincipal_->item(i)->text().startsWith(caption)) continue;
        lswPrincipal_->setCurrentRow(i);
        lswPrincipal_->item(i)->setSelected(true);
        lswPrincipal_->setFocus();
        MostraInfoExame(page);
        return;
    }
}

void TfrmExames::MostraInfoExame(int page) {
    ensureExamPanel();
    if (!shown_ || !selected_ || shown_->codigo != selected_->codigo) finishPendingEdit();
    SpeedButton1_->setEnabled(false);
    SpeedButton4_->setEnabled(false);
    pgcInfo_->setCurrentIndex(page);
    shown_ = selectedItem() >= 0 ? selected_ : std::nullopt;
    if (!shown_) {
        clearExamPanel();
        pnlExame_->show();
        return;
    }
    const norvix::TExame& exam = *shown_;
    const bool ownDoctor = exam.nomeMedico == filterText();
    SpeedButton2_->setEnabled(ownDoctor);
    SpeedButton5_->setEnabled(ownDoctor);
    // The doctor's name in red when the exam is another doctor's, navy otherwise.
    lblNomeMedico_->setStyleSheet(ownDoctor ? QStringLiteral("color: rgb(0,0,128); text-decoration: underline;")
                                            : QStringLiteral("color: rgb(255,0,0); text-decoration: underline;"));
    lblOlho_->setText(exam.direito() ? QStringLiteral("Olho Direito") : QStringLiteral("Olho Esquerdo"));
    lblCodigoExame_->setText(QStringLiteral("%1").arg(exam.codigo, 4, 10, QLatin1Char('0')));
    lblData_->setText(exam.data.toString(QStringLiteral("dd/MM/yyyy")));
    lblHora_->setText(exam.hora.toString(QStringLiteral("HH:mm:ss")));
    lblNomeMedico_->setText(exam.nomeMedico);
    lblIndConf_->setText(QString::number(exam.indConf, 'f', 2) + QLatin1Char('%'));
    memDiag_->setPlainText(exam.diag);
    memObs_->setPlainText(exam.observacao);
    if (exam.orto) {
        lblDiv_->setText(QString::number(exam.orto->div, 'f', 2));
        lblRaio_->setText(QString::number(exam.orto->raio, 'f', 2));
        lblSag_->setText(QString::number(exam.orto->sag, 'f', 2));
    }
    gbOrto_->setVisible(exam.orto.has_value());
    memDiag_->setReadOnly(true);
    memObs_->setReadOnly(true);
    pnlExame_->show();
    if (cBoxMiniMapa_->isChecked()) {
        maps_->MostraMiniMapa();
    } else {
        imgVisualizar_->clear();
        smallMapExam_ = -1;
    }
}

void TfrmExames::clearExamPanel() {
    finishPendingEdit();
    shown_.reset();
    if (!pnlExame_) return;
    for (QLabel* l : {lblOlho_, lblCodigoExame_, lblData_, lblHora_, lblNomeMedico_, lblIndConf_}) l->clear();
    memDiag_->clear();
    memObs_->clear();
    memDiag_->setReadOnly(true);
    memObs_->setReadOnly(true);
    for (QToolButton* b : {SpeedButton1_, SpeedButton2_, SpeedButton4_, SpeedButton5_}) b->setEnabled(false);
    gbOrto_->hide();
    imgVisualizar_->clear();
    smallMapExam_ = -1;
    pnlExame_->hide();
}

void TfrmExames::finishPendingEdit() {
    if (!pnlExame_) return;
    for (bool diagnosis : {true, false}) {
        QPlainTextEdit* memo = diagnosis ? memDiag_ : memObs_;
        if (memo->isReadOnly()) continue;
        const QString stored = shown_ ? (diagnosis ? shown_->diag : shown_->observacao) : QString();
        const bool changed = shown_ && memo->toPlainText() != stored;
        if (changed &&
            showMessage(diagnosis ? QStringLiteral("Deseja salvar as alterações do diagnóstico?")
                                  : QStringLiteral("Deseja salvar as alterações das observações?"),
                        QStringLiteral("Informação"), MsgIcon::Question, MsgButtons::YesNo, this) == MsgAnswer::Yes &&
            saveMemo(diagnosis))
            continue;
        // Dropped: the memo shows what is stored again.
        const QSignalBlocker block(memo);
        memo->setPlainText(stored);
        memo->setReadOnly(true);
        (diagnosis ? SpeedButton1_ : SpeedButton4_)->setEnabled(false);
        (diagnosis ? SpeedButton2_ : SpeedButton5_)->setEnabled(shown_.has_value());
    }
}

bool TfrmExames::saveMemo(bool diagnosis) {
    if (!shown_ || !pnlExame_) return false;
    QPlainTextEdit* memo = diagnosis ? memDiag_ : memObs_;
    const QString text = memo->toPlainText();
    showWait();
    try {
        if (diagnosis)
            norvix::DExames().UpdateDiagExameByCodigo(shown_->codigo, text);
        else
            norvix::DExames().UpdateObsExameByCodigo(shown_->codigo, text);
    } catch (const norvix::Error& e) {
        hideWait();
        showMessage((diagnosis ? QStringLiteral("Não foi possível salvar o diagnóstico do exame.\n\n")
                               : QStringLiteral("Não foi possível salvar as observações do exame.\n\n")) +
                        e.message(),
                    QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
        return false;
    }
    (diagnosis ? shown_->diag : shown_->observacao) = text;
    if (selected_ && selected_->codigo == shown_->codigo) (diagnosis ? selected_->diag : selected_->observacao) = text;
    memo->setReadOnly(true);
    (diagnosis ? SpeedButton1_ : SpeedButton4_)->setEnabled(false);
    (diagnosis ? SpeedButton2_ : SpeedButton5_)->setEnabled(true);
    returnGridToRow();
    hideWait();
    return true;
}

void TfrmExames::editDiagnosis() {
    ensureExamPanel();
    memDiag_->setReadOnly(false);
    SpeedButton1_->setEnabled(true);
    SpeedButton2_->setEnabled(false);
    memDiag_->setFocus();
}

void TfrmExames::editObservations() {
    ensureExamPanel();
    memObs_->setReadOnly(false);
    SpeedButton4_->setEnabled(true);
    SpeedButton5_->setEnabled(false);
    memObs_->setFocus();
}

void TfrmExames::lblNomeMedicoClick() { SelecionaPacientePorCodigo(patientCode(), lblNomeMedico_->text()); }

void TfrmExames::showPatientToolBar() { stkToolBars_->setCurrentIndex(0); }
void TfrmExames::showExamToolBar() { stkToolBars_->setCurrentIndex(1); }

void TfrmExames::setPatientButtonsEnabled(bool enabled) {
    for (QToolButton* b : {tbtCadPaciente_, tbNovoExame1_, tbNovoExame2_, tbtAlterarPaciente_, tbtExcluirPaciente_,
                           tbExameOrto1_, tbExameOrto2_})
        b->setEnabled(enabled);
}

void TfrmExames::showFindPanel(bool show) {
    if (tbLocPacExam_->isChecked() != show) {
        tbLocPacExam_->setChecked(show);  // toggled comes back here
        return;
    }
    if (show) {
        findPanel().openSearch();
        stkLista_->setCurrentWidget(findPanel_);
    } else {
        if (findPanel_) findPanel_->closeSearch();
        stkLista_->setCurrentIndex(0);
    }
}

// ---- deleting --------------------------------------------------------------------------------

void TfrmExames::tbtExcluirExameClick() { deleteExam(); }

void TfrmExames::deleteExam() {
    if (selectedItem() < 0) return;
    const QString caption = selectedCaption_;
    if (showMessage(QStringLiteral("Confirma a exclusão do exame '") + caption + QStringLiteral("' ?"),
                    QStringLiteral("Informação"), MsgIcon::Question, MsgButtons::YesNo, this,
                    MsgAnswer::No) != MsgAnswer::Yes)
        return;
    const std::optional<norvix::TExame> exam = selectedExam();
    if (!exam) {
        showMessage(QStringLiteral("Erro ao selecionar o registro!!!"), QStringLiteral("Erro"), MsgIcon::Error,
                    MsgButtons::Ok, this);
        return;
    }
    const int linked = norvix::LaudosDoExame(*exam).size();
    if (linked > 0 &&
        showMessage(QStringLiteral("Existe(m)  %1  Laudo(s) vinculado(s).\rConfirma a exclusão do(s) Laudos(s)?")
                        .arg(linked),
                    QStringLiteral("Informação"), MsgIcon::Question, MsgButtons::YesNo, this,
                    MsgAnswer::No) != MsgAnswer::Yes) {
        showMessage(QStringLiteral("Exclusão cancelada!!!"), QStringLiteral("Informação"), MsgIcon::Warning,
                    MsgButtons::Ok, this);
        return;
    }
    finishPendingEdit();
    norvix::TExclusao done;
    try {
        done = norvix::ExcluiExame(*exam);
    } catch (const norvix::Error& e) {
        showMessage(QStringLiteral("Não foi possível excluir o exame.\n\n") + e.message(), QStringLiteral("Erro"),
                    MsgIcon::Error, MsgButtons::Ok, this);
        return;
    }
    for (const QString& path : std::as_const(done.naoRemovidos))
        qCWarning(lcExams).noquote() << QStringLiteral("Não foi possível excluir") << path;

    clearExamPanel();
    if (done.examesRestantes > 0) {
        SelecionaPacientePorCodigo(exam->paciente, filterText());
    } else {
        CarregaFiltroMedicos();
        SelecionaPacientePorCodigo(exam->paciente, kSemExames);
    }
}

void TfrmExames::tbtExcluirPacienteClick() { deletePatient(); }

void TfrmExames::deletePatient() {
    if (!patient_) return;
    const int code = patient_->codigo;
    const QString name = patient_->nome;
    QList<int> reports;
    try {
        if (norvix::DExames().CountExamesByPaciente(code) > 0) {
            showMessage(QStringLiteral("Não é possivel excluir o paciente ") + name +
                            QStringLiteral("! \n\nPara excluir este paciente é preciso excluir todos os exames."),
                        QStringLiteral("Informação"), MsgIcon::Information, MsgButtons::Ok, this);
            return;
        }
        reports = norvix::LaudosDoPaciente(code);
    } catch (const norvix::Error& e) {
        showMessage(e.message(), QStringLiteral("Erro"), MsgIcon::Error, MsgButtons::Ok, this);
        return;
    }
    QString question = QStringLiteral("Confirma a exclusão do paciente '") + name + QStringLiteral("'?");
    if (!reports.isEmpty())
        question += QStringLiteral("\n\nO(s) %1 laudo(s) do paciente também será(ão) excluído(s).").arg(reports.size());
    if (showMessage(question, QStringLiteral("Informação"), MsgIcon::Question, MsgButtons::YesNo, this,
                    MsgAnswer::No) != MsgAnswer::Yes)
        return;
    try {
        const norvix::TExclusao done = norvix::ExcluiPaciente(code);
        for (const QString& path : done.naoRemovidos)
            qCWarning(lcExams).noquote() << QStringLiteral("Não foi possível excluir") << path;
    } catch (const norvix::Error& e) {
        showMessage(QStringLiteral("Não foi possível excluir o paciente.\n\n") + e.message(), QStringLiteral("Erro"),
                    MsgIcon::Error, MsgButtons::Ok, this);
        return;
    }
    patient_.reset();
    CarregaFiltroMedicos();
    if (norvix::DPacientes().CountPacientes() == 0)
        SelecionaPaciente(QString(), kTodos);
    else
        SelecionaPaciente(QString(), filterText().isEmpty() ? kTodos : filterText());
}

// ---- starting work ---------------------------------------------------------------------------

void TfrmExames::tbNovoExameClick() {
    if (!patient_) {
        showMessage(QStringLiteral("Selecione um Paciente para efetuar o exame!"), QStringLiteral("Informação"),
                    MsgIcon::Error, MsgButtons::Ok, this);
        return;
    }
    finishPendingEdit();
    if (openers().novoExame) openers().novoExame(*this, false);
}

void TfrmExames::tbExameOrtoClick() {
    if (!patient_) {
        showMessage(QStringLiteral("Selecione um Paciente para efetuar o exame!"), QStringLiteral("Informação"),
                    MsgIcon::Error, MsgButtons::Ok, this);
        return;
    }
    finishPendingEdit();
    if (openers().novoExame) openers().novoExame(*this, true);
}

void TfrmExames::tbtCadPacienteClick() {
    CarregaFiltroMedicos();
    SelecionaPacientePorCodigo(patientCode(), filterText());
    if (openers().novoPaciente) openers().novoPaciente(*this);
}

void TfrmExames::tbtAlterarPacienteClick() {
    if (!patient_) return;
    finishPendingEdit();
    if (openers().editarPaciente) openers().editarPaciente(*this, patient_->codigo);
    returnGridToRow();
}

void TfrmExames::tbLaudoClick() {
    if (selectedItem() < 0 && lswPrincipal_->count() == 0) {
        showMessage(QStringLiteral("Não há exames para gerar laudo!"), QStringLiteral("Atenção"), MsgIcon::Warning,
                    MsgButtons::Ok, this);
        return;
    }
    finishPendingEdit();
    if (openers().laudo) openers().laudo(*this);
    returnGridToRow();
}

void TfrmExames::tbExportadorClick() {
    if (selectedItem() < 0) {
        showMessage(QStringLiteral("Por favor, selecione o exame que deseja exportar."), QStringLiteral("Informação"),
                    MsgIcon::Information, MsgButtons::Ok, this);
        return;
    }
    TExamExport::Run(*this);
}

// ---- examples page ---------------------------------------------------------------------------

void TfrmExames::pcExamesChange(int page) {
    if (page == 1) {
        clearExamPanel();
        examplesMode_ = true;
        examView_ = false;
        showExamToolBar();
        for (QToolButton* b : {tbNovoExame1_, tbNovoExame2_, tbtExcluirExame_, tbExportador_, tbLaudo_, tbOrdemAlfa_,
                               tbOrdemCriacao_, tbExameOrto1_, tbExameOrto2_})
            b->setEnabled(false);
        CBoxExames_->hide();
        ensureExamplesGrid();
        for (int r = 1; r <= 6; ++r) GridExemplos_->setItem(r, 1, new QTableWidgetItem(kExamplesRows[r - 1]));
        GridExemplos_->setCurrentCell(1, 1);
        GridExemplosSelectCell(1);
    } else {
        for (QToolButton* b : {tbNovoExame1_, tbNovoExame2_, tbtExcluirExame_, tbExportador_, tbLaudo_, tbOrdemAlfa_,
                               tbOrdemCriacao_, tbExameOrto1_, tbExameOrto2_})
            b->setEnabled(true);
        tbOrdemAlfa_->setChecked(true);
        examplesMode_ = false;
        examView_ = true;
        clearExamList();
        if (patient_) {
            DBEditControleChange();
        } else {
            AtualizaPaciente();
        }
        tbLocPacExam_->setEnabled(true);
        tbtCadPaciente_->setEnabled(true);
    }
}

void TfrmExames::GridExemplosSelectCell(int row) {
    if (row < 1 || row > 6) return;
    const QSignalBlocker block(lswPrincipal_);
    lswPrincipal_->clear();
    selectedCaption_.clear();
    const QIcon topography = examIcon(kImageTopography), orto = examIcon(kImageOrto);
    if (row <= 5) {
        for (int n = 1; n <= 6; ++n) {
            const QString caption = (n <= 4 ? QStringLiteral("OD - ") : QStringLiteral("OS - ")) + kExamplesStems[row - 1] +
                                    QString::number(n);
            new QListWidgetItem(topography, caption, lswPrincipal_);
            lswPrincipal_->item(lswPrincipal_->count() - 1)->setData(kImageRole, kImageTopography);
        }
    } else {
        for (int n = 1; n <= 4; ++n) {
            new QListWidgetItem(orto, QStringLiteral("Orto0") + QString::number(n), lswPrincipal_);
            lswPrincipal_->item(lswPrincipal_->count() - 1)->setData(kImageRole, kImageOrto);
        }
    }
}

// ---- keyboard --------------------------------------------------------------------------------

bool TfrmExames::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        if (watched == lblNomeMedico_) lblNomeMedicoClick();
        if (watched == imgVisualizar_) maps_->MostraMiniMapa();
    }
    if (event->type() == QEvent::Resize && watched == pcExames_->widget(0)) FormResize();
    if (event->type() == QEvent::KeyPress && handleKey(static_cast<QKeyEvent*>(event), watched)) return true;
    return QDialog::eventFilter(watched, event);
}

void TfrmExames::keyPressEvent(QKeyEvent* event) {
    if (handleKey(event, this)) return;
    // Esc must not close the window as a dialog would: it belongs to the quick find.
    if (event->key() == Qt::Key_Escape) return;
    QDialog::keyPressEvent(event);
}

bool TfrmExames::handleKey(QKeyEvent* event, QObject* source) {
    if (!built_) return false;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool searching = tbLocPacExam_->isChecked();
    const int key = event->key();
    if (ctrl && key == Qt::Key_F) {
        edtFindGrid_->show();
        bbtnBuscaAv_->show();
        edtFindGrid_->setFocus();
        return true;
    }
    if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (source == edtFindGrid_ || edtFindGrid_->isVisible()) {
            hideQuickFind();
            return true;
        }
        if (searching) {
            if (key == Qt::Key_Escape) showFindPanel(false);
            else findPanel().focusSearchText();
            return true;
        }
        return key == Qt::Key_Escape;
    }
    if (ctrl && key == Qt::Key_N) {
        if (tbtCadPaciente_->isEnabled()) tbtCadPacienteClick();
        return true;
    }
    if (ctrl && key == Qt::Key_E) {
        if (tbNovoExame1_->isEnabled()) tbNovoExameClick();
        return true;
    }
    if (ctrl && key == Qt::Key_L) {
        if (!examplesMode_) showFindPanel(true);
        return true;
    }
    if (key == Qt::Key_Delete && !examplesMode_) {
        if (source == lswPrincipal_) {
            deleteExam();
            return true;
        }
        if (source == DBGridPacientes_ && patientModel_->rowCount() > 0) {
            deletePatient();
            return true;
        }
        return false;
    }
    // The grid holds only the rows around the place shown: the list's two ends are fetched.
    if (source == DBGridPacientes_ && (key == Qt::Key_Home || key == Qt::Key_End)) {
        loadingPatients_ = true;
        const int row = key == Qt::Key_Home ? patientModel_->jumpToStart() : patientModel_->jumpToEnd();
        loadingPatients_ = false;
        if (row >= 0) selectGridRow(row);
        return true;
    }
    // A letter, a digit or ç jumps to the first patient beginning with it; never a key that a
    // text field let through (a read-only memo passes its keys up to the window).
    const bool fromText =
        source == this && (qobject_cast<QPlainTextEdit*>(focusWidget()) || qobject_cast<QLineEdit*>(focusWidget()));
    if (!ctrl && !searching && !edtFindGrid_->isVisible() && source != edtFindGrid_ && !examplesMode_ && !fromText) {
        const QString text = event->text();
        if (text.size() == 1) {
            const QChar c = text.at(0);
            const bool cedilla = c.toLower() == QChar(0x00E7);
            if ((c.isLetter() && c.unicode() < 128) || c.isDigit() || cedilla) {
                moveToPatientPrefix(cedilla ? QString(QChar(0x00E7)) : (c.isDigit() ? QString(c) : QString(c.toUpper())));
                return true;
            }
        }
    }
    return false;
}

void TfrmExames::quickFind(const QString& text) {
    // As the patient picker finds names: in either case, accented letters too.
    int row = -1;
    if (!text.isEmpty() && patientModel_->rowCount() > 0) {
        loadingPatients_ = true;
        row = patientModel_->jumpToPrefixIgnoringCase(text);
        loadingPatients_ = false;
        if (row >= 0) selectGridRow(row);
    }
    const bool none = !text.isEmpty() && row < 0;
    lblFindGrid_->setText(none ? QStringLiteral("Nenhum paciente começa com \u201C%1\u201D.").arg(text) : QString());
    if (lblFindGrid_->isVisible() != none) {
        lblFindGrid_->setVisible(none);
        FormResize();
    }
}

void TfrmExames::hideQuickFind() {
    lblFindGrid_->clear();
    lblFindGrid_->hide();
    edtFindGrid_->clear();
    edtFindGrid_->hide();
    bbtnBuscaAv_->hide();
    focusPatientGrid();
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
    const double ratio = screen ? double(screen->geometry().width()) / std::max(1, screen->geometry().height()) : 4.0 / 3;
    const auto [gridFraction, panelFraction] = layoutFractions(ratio);
    const int h = page->height();
    const int w = page->width();
    // The heights the fixed controls ask for do not change with their texts: measured once.
    if (fieldHint_.isEmpty())
        fieldHint_ = QSize(bbtnBuscaAv_->sizeHint().width(), edtFindGrid_->sizeHint().height());
    if (panelHeight_ == 0) panelHeight_ = pnlPaciente_->sizeHint().height();
    const int fieldHeight = edtFindGrid_->isVisible() ? fieldHint_.height() + 4 : 0;
    const int noticeHeight = lblFindGrid_->isVisible() ? lblFindGrid_->sizeHint().height() + 2 : 0;
    lblFindGrid_->setGeometry(2, fieldHeight, w - 4, noticeHeight);
    const int findHeight = fieldHeight + noticeHeight;
    edtFindGrid_->setGeometry(0, 0, std::max(0, w - fieldHint_.width() - 4), fieldHint_.height());
    bbtnBuscaAv_->setGeometry(w - fieldHint_.width(), 0, fieldHint_.width(), fieldHint_.height());
    DBGridPacientes_->setGeometry(0, findHeight, w, std::max(0, int(h * gridFraction) - findHeight));
    const int panelTop = int(h * panelFraction);
    pnlPaciente_->setGeometry(0, std::min(panelTop, std::max(0, h - panelHeight_)), w, std::max(panelHeight_, h - panelTop));
}
