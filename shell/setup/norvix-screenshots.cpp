// Pictures of the program's windows, offscreen, on a prepared demonstration installation
// ($NORVIX_ROOT): one PNG per window and state, named after the window. Used by
// scripts/screenshots.sh.  norvix-screenshots <folder>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPrintPreviewDialog>
#include <QPushButton>
#include <QTreeWidget>
#include <QTest>
#include <QPointer>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTableView>
#include <QTimer>
#include <cstdio>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "MiralApplication.h"
#include "SignalClose.h"
#include "UBVersionInfo.h"
#include "UfrmAguarde.h"
#include "UfrmPrincipal.h"
#include "UfrmSobre.h"
#include "UfrmIniciando.h"
#include "backup/UfrmBackup.h"
#include "calibration/UfrmCalib.h"
#include "config/SharedRecords.h"
#include "exams/ExamMaps.h"
#include "exams/UfrmExames.h"
#include "exams/UfrmLagrima.h"
#include "exams/UfrmNovoExame.h"
#include "capture/sim/Bmp32.h"
#include "capture/sim/SimulatedEye.h"
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QMouseEvent>
#include "modules/HostStream.h"
#include "modules/ModuleBindings.h"
#include "platform/ui/MessageSeam.h"
#include "records/UDLagrima.h"
#include "records/UDMedicos.h"
#include "records/UfrmDataModule.h"
#include "registration/UfrmCadastroMedicos.h"
#include "registration/UfrmCadastroPacientes.h"
#include "registration/UfrmComparaPacientes.h"
#include "records/UDPacientesRis.h"
#include "tools/UfrmFerramentas.h"
#include "reports/UfrmLaudo.h"
#include "reports/UfrmWizLaudo.h"

using norvix::MiralApplication;
using norvix::TBVersionInfo;
using norvix::TCaptureBinding;
using norvix::TCaptureOrtoBinding;
using norvix::TfrmAguarde;
using norvix::TfrmBackup;
using norvix::TfrmCadastroMedicos;
using norvix::TfrmCadastroPacientes;
using norvix::TfrmCalib;
using norvix::TfrmExames;
using norvix::TfrmFerramentas;
using norvix::TfrmIniciando;
using norvix::TfrmLaudo;
using norvix::TfrmNovoExame;
using norvix::TfrmPrincipal;
using norvix::TfrmSobre;
using norvix::TfrmWizLaudo;

namespace {

QString g_folder;
int g_failures = 0;

void save(QWidget* w, const QString& name) {
    QApplication::processEvents();
    const QString file = g_folder + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!w || !w->grab().save(file)) {
        std::fprintf(stderr, "não foi possível gravar %s\n", qPrintable(file));
        ++g_failures;
        return;
    }
    std::printf("%s\n", qPrintable(file));
}

// Closes a pictured window as the operator's close button would. A window may ask first (a
// recording not kept, say), also through a module's own message box: the question is pictured
// once and answered with its first button ("Sim"/"OK"), so the run goes on. A window still open
// after that is reported and ended, so that one window never stops the whole run.
void closeWindow(QWidget* window, const QString& name) {
    QPointer<QWidget> guard = window;
    bool asked = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        if (!asked) save(box, name + QStringLiteral("_pergunta"));
        asked = true;
        const QList<QAbstractButton*> buttons = box->buttons();
        QAbstractButton* first = box->button(QMessageBox::Yes) ? box->button(QMessageBox::Yes)
                                 : box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)
                                 : buttons.value(0);
        if (first) first->click();
        else box->done(0);
    });
    answer.start(100);
    guard->close();
    QElapsedTimer waited;
    waited.start();
    while (guard && guard->isVisible() && waited.elapsed() < 10000) QTest::qWait(50);
    if (guard && guard->isVisible()) {
        std::fprintf(stderr, "%s: a janela não fechou\n", qPrintable(name));
        ++g_failures;
        if (auto* dialog = qobject_cast<QDialog*>(guard.data())) dialog->done(QDialog::Rejected);
        else guard->hide();
    }
}

// Runs action, which opens a modal window; once it has been up for a moment, each step puts it
// in a state that is pictured under the step's name (a step without a name is not pictured),
// and the window is then closed, which lets action return.
using Step = std::pair<QString, std::function<void(QWidget*)>>;
void saveModalStates(const std::function<void()>& action, const std::vector<Step>& steps, int delayMs = 800) {
    bool taken = false;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            timer.start(100);
            return;
        }
        QPointer<QWidget> guard = modal;
        for (const auto& [name, step] : steps) {
            if (step) step(modal);
            if (!guard) break;
            if (!name.isEmpty()) save(modal, name);
        }
        taken = true;
        if (guard) closeWindow(guard, steps.front().first);
    });
    timer.start(delayMs);
    action();
    if (!taken) {
        std::fprintf(stderr, "%s: nenhuma janela apareceu\n", qPrintable(steps.front().first));
        ++g_failures;
    }
}

// Once a window of that objectName is the active modal one, pictures it after a moment and
// closes it; for windows that come up after another one closes (a module's wizard, then its
// layout).
void saveNextModal(const QString& objectName, const QString& name) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, objectName, name] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal->objectName() != objectName) return;
        poll->stop();
        QTimer::singleShot(500, modal, [modal, name] {
            save(modal, name);
            closeWindow(modal, name);
        });
        poll->deleteLater();
    });
    poll->start(100);
}

// A module's window, pictured as it comes up.
void saveModal(const QString& name, const std::function<void()>& action, int delayMs = 800) {
    saveModalStates(action, {{name, nullptr}}, delayMs);
}

void typeInto(QWidget* window, const char* name, const QString& text) {
    if (auto* edit = window->findChild<QLineEdit*>(QLatin1String(name))) {
        edit->clear();
        edit->insert(text);
    }
}

void showTab(QWidget* window, int tab) {
    if (auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("pgcCadastro"))) tabs->setCurrentIndex(tab);
}

// A message box would stop the run: record them instead, and say what they were.
class PrintingSeam : public norvix::RecordingMessageSeam {
public:
    norvix::MsgAnswer show(QWidget* parent, const norvix::ShownMessage& m) override {
        std::fprintf(stderr, "(mensagem) %s\n", qPrintable(m.text));
        return RecordingMessageSeam::show(parent, m);
    }
};

// The report wizard, the editor with a generated report (some gaps filled) and the print
// preview of its page, for the exam's doctor.
void saveReportWindows(TfrmExames* browser) {
    browser->lblNomeMedicoClick();
    QApplication::processEvents();
    auto* wizard = new TfrmWizLaudo(browser, browser);
    wizard->FormShow();
    wizard->show();
    save(wizard, QStringLiteral("frmWizLaudo"));
    wizard->btnOKClick();
    TfrmLaudo* editor = wizard->editor();
    if (!editor) {
        std::fprintf(stderr, "o editor de laudo não abriu\n");
        ++g_failures;
        wizard->close();
        return;
    }
    editor->setWindowState(Qt::WindowNoState);
    editor->resize(1280, 720);
    auto* tree = editor->findChild<QTreeWidget*>(QStringLiteral("trwLaudo"));
    const std::pair<TfrmLaudo::Caixa, std::vector<int>> picks[] = {
        {TfrmLaudo::CE, {1, 2, 3}}, {TfrmLaudo::OD, {1, 2, 3, 4, 5, 6, 7}}, {TfrmLaudo::CO, {1, 2, 3, 4, 5, 6}}};
    for (const auto& [box, groups] : picks) {
        editor->clicaCaixa(box);
        for (int g : groups) {
            tree->setCurrentItem(tree->topLevelItem(g - 1)->child(0));
            editor->trwLaudoDblClick();
        }
    }
    tree->setCurrentItem(tree->topLevelItem(6));
    editor->trwLaudoChange();
    save(editor, QStringLiteral("frmLaudo"));
    TfrmLaudo::previewHook() = [](QPrintPreviewDialog& preview) {
        preview.resize(900, 1000);
        preview.show();
        QTest::qWait(300);
        save(&preview, QStringLiteral("frmLaudo_visualizar"));
    };
    editor->sbtVisualizarImprClick();
    TfrmLaudo::previewHook() = nullptr;
    editor->close();
    wizard->close();
    QApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    MiralApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("OrventDuo"));
    if (app.arguments().size() != 2) {
        std::fprintf(stderr, "uso: norvix-screenshots <pasta>\n");
        return 2;
    }
    // A window that waits for an answer nobody gives would keep the run (and whoever waits for
    // it, a test or a script) waiting for ever: past the limit the run ends with a failure.
    const int limitS = qEnvironmentVariableIntValue("NORVIX_SCREENSHOTS_LIMITE_S");
    std::thread([limitS] {
        std::this_thread::sleep_for(std::chrono::seconds(limitS > 0 ? limitS : 900));
        std::fprintf(stderr, "as imagens não terminaram a tempo: uma janela esperava resposta?\n");
        std::_Exit(3);
    }).detach();
    // Ends on SIGTERM or Ctrl+C at once, also while a window is open (the database engine
    // would otherwise take the signal for itself and leave the run going).
    norvix::TSignalClose signalClose;
    QObject::connect(&signalClose, &norvix::TSignalClose::closeRequested, [](int signal) {
        std::fprintf(stderr, "interrompido pelo sinal %d\n", signal);
        std::_Exit(128 + signal);
    });
    g_folder = app.arguments().at(1);
    QDir().mkpath(g_folder);
    PrintingSeam seam;
    norvix::TDMPrincipal dataModule;
    QPointer<TfrmPrincipal> main = new TfrmPrincipal();
    main->show();
    main->ApplicationEvents1Activate();
    if (!main || !main->started()) {
        std::fprintf(stderr, "o programa não iniciou\n");
        return 1;
    }
    save(main, QStringLiteral("frmPrincipal"));

    TfrmIniciando* starting = TfrmIniciando::instance();
    for (int step = 1; step <= 4; ++step) starting->showStep(step);
    starting->setProgress(60);
    starting->show();
    save(starting, QStringLiteral("frmIniciando"));
    starting->close();

    TfrmAguarde::instance()->show();
    save(TfrmAguarde::instance(), QStringLiteral("frmAguarde"));
    TfrmAguarde::instance()->hide();

    TfrmExames* browser = TfrmExames::instance();
    if (!browser) {
        std::fprintf(stderr, "o navegador não foi criado (pasta de mapas ausente?)\n");
        return 1;
    }
    browser->setWindowState(Qt::WindowNoState);
    browser->resize(1366, 768);
    browser->show();
    save(browser, QStringLiteral("frmExames_pacientes"));

    // A patient with exams, the first exam's panel and its small map.
    auto* grid = browser->findChild<QTableView*>(QStringLiteral("DBGridPacientes"));
    auto* list = browser->findChild<QListWidget*>(QStringLiteral("lswPrincipal"));
    for (int r = 0; grid && list && r < grid->model()->rowCount() && list->count() == 0; ++r) {
        grid->setCurrentIndex(grid->model()->index(r, 0));
        QApplication::processEvents();
    }
    if (list && list->count() > 0) {
        list->setCurrentRow(0);
        QApplication::processEvents();
        browser->MostraInfoExame(0);
        save(browser, QStringLiteral("frmExames_exame"));
        saveReportWindows(browser);
    }

    // The patient windows: the picker with all patients and with a typed name, a new patient
    // and the current one, both tabs.
    saveModalStates([&] { browser->tbtCadPacienteClick(); },
                    {{QStringLiteral("frmNovoPaciente"), nullptr},
                     {QStringLiteral("frmNovoPaciente_busca"), [](QWidget* w) {
                          QTest::keyClicks(w->findChild<QLineEdit*>(QStringLiteral("edtNomePac")), QStringLiteral("Ma"));
                      }}});
    saveModalStates([&] { TfrmCadastroPacientes::Inclui(QStringLiteral("Helena Duarte"), browser); },
                    {{QStringLiteral("frmCadastroPacientes_novo"), nullptr}}, 300);
    saveModalStates([&] { TfrmCadastroPacientes::Altera(browser->patientCode(), browser); },
                    {{QStringLiteral("frmCadastroPacientes_pessoais"), nullptr},
                     {QStringLiteral("frmCadastroPacientes_residenciais"), [](QWidget* w) { showTab(w, 1); }},
                     {QStringLiteral("frmCadastroPacientes_ris"), [](QWidget* w) { showTab(w, 2); }}},
                    300);
    // The worklist's person beside a registered one whose birth date and sex differ.
    saveModal(QStringLiteral("frmComparaPacientes"), [&] {
        const norvix::PessoaCadastrada local = norvix::DPacientesRis().Pessoa(browser->patientCode());
        const norvix::PessoaRis ris{local.nome.toUpper(), QDate(1961, 10, 10), QStringLiteral("M"),
                                    QStringLiteral("RIS-0042"), QStringLiteral("HOSPITAL")};
        norvix::TfrmComparaPacientes janela(
            ris, {local}, {{}},
            QStringLiteral("Há paciente cadastrado com o mesmo nome, mas o sexo ou a data de nascimento não "
                           "conferem. É a mesma pessoa?"),
            QStringLiteral("&Cadastrar novo paciente"), browser);
        janela.exec();
    }, 300);

    // The new exam: as it opens, the right eye after ring detection (a frame of the simulated
    // instrument taken as the capture step takes the module's), the expanded layout with the
    // diagnosis boxes; and the orthokeratology kind as it opens.
    norvix::sim::Target sphere;
    QString targetError;
    norvix::sim::parseTarget(QStringLiteral("esfera 7.80"), &sphere, &targetError);
    const QByteArray frame = norvix::sim::encodeBmp32(norvix::sim::Renderer(4).render(sphere));
    saveModalStates([&] { TfrmNovoExame::Abre(*browser, false); },
                    {{QStringLiteral("frmNovoExame"), nullptr},
                     {QStringLiteral("frmNovoExame_aneis"),
                      [&frame](QWidget* w) {
                          auto* exame = static_cast<TfrmNovoExame*>(w);
                          auto* medicos = w->findChild<QComboBox*>(QStringLiteral("ComboMedicos"));
                          if (medicos->currentIndex() <= 0 && medicos->count() > 1) medicos->setCurrentIndex(1);  // 0 is blank
                          if (exame->TomaCaptura(TfrmNovoExame::kDireito, frame)) exame->sbtExecutarDClick();
                      }},
                     {QStringLiteral("frmNovoExame_expandido"),
                      [](QWidget* w) { static_cast<TfrmNovoExame*>(w)->AumentaForm(); }}},
                    300);
    saveModal(QStringLiteral("frmNovoExame_orto"), [&] { TfrmNovoExame::Abre(*browser, true); }, 300);

    // The tear-film exam: the eye's choice, and the result window of an altered eye with a blink
    // and of an eye whose film did not break (results made here: the window only shows them).
    {
        int olho = 1;
        QString medico;
        saveModal(QStringLiteral("frmLagrimaOlho"),
                  [&] { norvix::TfrmLagrima::escolheOlho(browser, {QStringLiteral("Dr. Exemplo")}, &olho, &medico); }, 300);
        norvix::lagrima::TearFilmResult r;
        r.fps = 30;
        r.recordedS = 11.5;
        r.blinkS = 11.5;
        r.breakS.assign(norvix::lagrima::kBands * norvix::lagrima::kGroups, r.kNone);
        double soma = 0;
        int rompidos = 0;
        for (int i = 0; i < int(r.breakS.size()); ++i) {
            const int band = i / norvix::lagrima::kGroups, group = i % norvix::lagrima::kGroups;
            if (group == 2 && band == 3) r.breakS[size_t(i)] = norvix::lagrima::kNotAnalysedS;  // upper lid
            else if (group >= 5 && group <= 7) r.breakS[size_t(i)] = 6.2 + band * 1.1 + (group - 5) * 0.9, soma += r.breakS[size_t(i)], ++rompidos;
        }
        r.firstS = 6.2;
        r.averageS = soma / rompidos;
        for (double t = 0; t <= 11.5; t += 0.5) r.brokenArea.emplace_back(t, t < 6.2 ? 0 : (t - 6.2) * 7.0);
        norvix::TExameLagrima e;
        e.olho = QStringLiteral("OD");
        e.data = QDate(2026, 3, 4);
        e.hora = QTime(9, 30);
        e.nomeMedico = QStringLiteral("Dr. Exemplo");
        saveModal(QStringLiteral("frmLagrima_alterado"),
                  [&] { norvix::TfrmLagrima::decide(browser, browser->patientName(), e, r); }, 300);
        norvix::lagrima::TearFilmResult semRuptura;
        semRuptura.fps = 30;
        semRuptura.recordedS = 20;
        semRuptura.breakS.assign(r.breakS.size(), r.kNone);
        semRuptura.brokenArea = {{0, 0}, {20, 0}};
        e.olho = QStringLiteral("OS");
        saveModal(QStringLiteral("frmLagrima_sem_ruptura"), [&] {
            norvix::TfrmLagrima w(e, semRuptura, browser->patientName(), norvix::TfrmLagrima::Modo::Gravado, browser);
            w.exec();
        }, 300);

        // The browser's list with the altered exam stored for the patient, selected.
        try {
            const QDateTime agora = QDateTime::currentDateTime();
            const int medico = norvix::DMedicos().SelectCodigoByNome(browser->filterText());
            norvix::DLagrima().Grava({browser->patientCode(), medico > 0 ? medico : 1, agora.date(),
                                      QTime(agora.time().hour(), agora.time().minute()), QStringLiteral("OD")},
                                     r, QByteArray("demonstração"));
            browser->CarregaExames(browser->patientCode());
            if (auto* list = browser->findChild<QListWidget*>(QStringLiteral("lswPrincipal"))) {
                list->setCurrentRow(list->count() - 1);
                QApplication::processEvents();
            }
            save(browser, QStringLiteral("frmExames_lagrima"));
        } catch (const norvix::Error& err) {
            std::fprintf(stderr, "frmExames_lagrima: %s\n", qPrintable(err.message()));
            ++g_failures;
        }
    }

    browser->findChild<QTabWidget*>(QStringLiteral("pcExames"))->setCurrentIndex(1);
    save(browser, QStringLiteral("frmExames_exemplos"));
    browser->findChild<QTabWidget*>(QStringLiteral("pcExames"))->setCurrentIndex(0);

    // Opening the search shows the search tip first (DICAS is on in the demonstration).
    saveModal(QStringLiteral("frmDica"), [&] { browser->showFindPanel(true); }, 300);
    if (auto* text = browser->findChild<QLineEdit*>(QStringLiteral("edtFind"))) {
        QTest::keyClicks(text, QStringLiteral("M"));
        QApplication::processEvents();
    }
    save(browser, QStringLiteral("frmExames_busca"));
    browser->showFindPanel(false);

    // Each single-map module's window over an example exam.
    browser->findChild<QTabWidget*>(QStringLiteral("pcExames"))->setCurrentIndex(1);
    for (const QString& module : {QStringLiteral("Halden"), QStringLiteral("Sorvik"), QStringLiteral("Brennor"),
                                  QStringLiteral("Lumeva"), QStringLiteral("Wendle"),
                                  QStringLiteral("Cadro")}) {
        if (list && list->count() > 0) list->setCurrentRow(0);
        QApplication::processEvents();
        saveModal(QStringLiteral("mapa_") + module, [&] { browser->maps().MapaClick(module); });
    }
    // The axial window with the scale fitted to the exam and the pointer over the map (the
    // readout in the status line), and the elevation window asked for a zone wider than measured.
    if (list && list->count() > 0) list->setCurrentRow(0);
    saveModalStates([&] { browser->maps().MapaClick(QStringLiteral("Halden")); },
                    {{QStringLiteral("mapa_Halden_normalizada"), [](QWidget* w) {
                          if (auto* c = w->findChild<QComboBox*>(QStringLiteral("cmbEscala"))) c->setCurrentIndex(c->count() - 1);
                          if (auto* v = w->findChild<QWidget*>(QStringLiteral("imgMapa"))) {
                              const QPointF at(v->width() / 2.0 + 40, v->height() / 2.0 - 30);
                              QMouseEvent move(QEvent::MouseMove, at, v->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                                               Qt::NoModifier);
                              QApplication::sendEvent(v, &move);
                          }
                          QApplication::processEvents();
                      }}});
    saveModalStates([&] { browser->maps().MapaClick(QStringLiteral("Brennor")); },
                    {{QStringLiteral("mapa_Brennor_zona"), [](QWidget* w) {
                          if (auto* z = w->findChild<QDoubleSpinBox*>(QStringLiteral("edtZona"))) z->setValue(9.0);
                          QApplication::processEvents();
                      }}});
    // Each multi-map module: its wizard with the first exams ticked, then its layout, over the
    // examples (the orthokeratology course for Fennic, normal corneas for the others).
    struct MultiShot {
        QString module;
        int examplesRow;
        std::vector<int> tick;
    };
    for (const MultiShot& m : {MultiShot{QStringLiteral("Ambrel"), 5, {0, 1}}, MultiShot{QStringLiteral("Truvan"), 5, {0, 4}},
                               MultiShot{QStringLiteral("Quessel"), 5, {0, 1, 2, 3}},
                               MultiShot{QStringLiteral("Fennic"), 6, {0, 1, 2, 3}}}) {
        browser->GridExemplosSelectCell(m.examplesRow);
        QApplication::processEvents();
        saveModalStates([&] { browser->maps().MapasClick(m.module); },
                        {{QStringLiteral("wizard_") + m.module,
                          [&](QWidget* w) {
                              if (auto* exams = w->findChild<QListWidget*>(QStringLiteral("lswExames")))
                                  for (int i : m.tick)
                                      if (i < exams->count()) exams->item(i)->setCheckState(Qt::Checked);
                          }},
                         {QString(),
                          [&](QWidget* w) {
                              saveNextModal(QStringLiteral("frmMultiMapa"), QStringLiteral("mapas_") + m.module);
                              if (auto* ok = w->findChild<QPushButton*>(QStringLiteral("btnOK"))) ok->click();
                          }}},
                        300);
    }
    browser->close();

    // The doctor window browsing, adding (cancelled before it closes) and its lookup.
    saveModalStates([&] { TfrmCadastroMedicos::Executa(main); },
                    {{QStringLiteral("frmCadastroMedicos"), nullptr},
                     {QStringLiteral("frmCadastroMedicos_residenciais"), [](QWidget* w) { showTab(w, 1); }},
                     {QStringLiteral("frmCadastroMedicos_novo"),
                      [](QWidget* w) {
                          auto* medicos = static_cast<TfrmCadastroMedicos*>(w);
                          medicos->sbtAddClick();
                          typeInto(w, "edtNome", QStringLiteral("Renata Vasconcelos"));
                          typeInto(w, "edtCPF", QStringLiteral("52998224725"));
                      }},
                     {QString(), [](QWidget* w) {
                          auto* medicos = static_cast<TfrmCadastroMedicos*>(w);
                          medicos->sbtDelClick();  // "Cancelar"
                          saveModalStates([medicos] { medicos->sbtFindClick(); },
                                          {{QStringLiteral("frmConsultaMedicos"), [](QWidget* consulta) {
                                                typeInto(consulta, "edtPesquisa", QStringLiteral("a"));
                                                consulta->findChild<QPushButton*>(QStringLiteral("btnConsultar"))
                                                    ->click();
                                            }}},
                                          300);
                      }}},
                    300);

    // The calibration window with both calibrators, at the first sphere and further on.
    auto tipo = [](int item) { return [item](QWidget* w) { static_cast<TfrmCalib*>(w)->rgpTpCalibClick(item); }; };
    auto ate = [](int esfera) {
        return [esfera](QWidget* w) {
            auto* calib = static_cast<TfrmCalib*>(w);
            while (calib->esferaAtual() < esfera) {
                calib->sbtNextClick();
                QTest::qWait(1300);  // the turn and the window's timer run out
            }
        };
    };
    saveModalStates([&] { TfrmCalib::Executa(main->settings(), main); },
                    {{QStringLiteral("frmCalib_calibrador1"), tipo(0)},
                     {QStringLiteral("frmCalib_calibrador1_esfera3"), ate(3)},
                     {QStringLiteral("frmCalib_calibrador2"), tipo(1)},
                     {QStringLiteral("frmCalib_calibrador2_esfera3"), ate(3)}},
                    300);

    // The about window and every page of the tools window.
    // This program carries no version of its own: the window shows the workstation's.
    TBVersionInfo miral;
    miral.ReadVersionInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/Miral"));
    saveModal(QStringLiteral("frmSobre"), [&] { TfrmSobre::Executa(&miral, main); }, 300);
    auto pagina = [](int i) {
        return [i](QWidget* w) { w->findChild<QTabWidget*>(QStringLiteral("pgcFerramentas"))->setCurrentIndex(i); };
    };
    saveModalStates([&] { TfrmFerramentas::Executa(main->catalogue(), main->settings(), main); },
                    {{QStringLiteral("frmFerramentas_modulos"), nullptr},
                     {QStringLiteral("frmFerramentas_aplicativos"), pagina(1)},
                     {QStringLiteral("frmFerramentas_clinica"), pagina(2)},
                     {QStringLiteral("frmFerramentas_configuracoes"), pagina(4)},
                     {QStringLiteral("frmFerramentas_banco"), pagina(5)},
                     {QStringLiteral("frmFerramentas_dicom"), pagina(7)}},
                    300);

    // The backup window before and after a backup to the demonstration's medium folder.
    saveModalStates([&] { TfrmBackup::Executa(main->settings(), main); },
                    {{QStringLiteral("frmBackup"), nullptr},
                     {QStringLiteral("frmBackup_concluido"),
                      [](QWidget* w) { w->findChild<QPushButton*>(QStringLiteral("btnIniciarBkp"))->click(); }}},
                    300);

    // The capture window with the simulated instrument.
    TCaptureBinding capture;
    if (capture.LoadModule(norvix::recordText(norvix::paths().Digitalizacao))) {
        norvix::HostStream image, spare;
        saveModal(QStringLiteral("frmCapturar"),
                  [&] { capture.Digitalizar(main.data(), image, spare, 1, "Digitalizando Imagem do Olho"); }, 2000);
        // The tear-film recording: waiting for the blink, recording, and its summary (closed
        // unkept, so nothing is written).
        if (capture.GravarFilmeLacrimal) {
            const auto press = [](QWidget* w, const char* name, int waitMs) {
                w->findChild<QPushButton*>(QString::fromLatin1(name))->click();
                QTest::qWait(waitMs);
            };
            QTemporaryDir recordings;
            const QByteArray file = recordings.filePath(QStringLiteral("lagrima.nvx")).toUtf8();
            saveModalStates([&] { capture.GravarFilmeLacrimal(main.data(), file.constData(), 30, 1); },
                            {{QStringLiteral("frmGravarLagrima"), nullptr},
                             {QStringLiteral("frmGravarLagrima_gravando"),
                              [&](QWidget* w) { press(w, "btnIniciar", 1500); }},
                             {QStringLiteral("frmGravarLagrima_concluida"),
                              [&](QWidget* w) {
                                  QTest::qWait(2500);
                                  press(w, "btnParar", 100);
                              }}},
                            2000);
        } else {
            std::fprintf(stderr, "módulo de captura não grava o filme lacrimal\n");
            ++g_failures;
        }
        capture.ReleaseModule();
    } else {
        std::fprintf(stderr, "módulo de captura não carregou\n");
        ++g_failures;
    }
    // The orthokeratology capture: its first of four windows.
    TCaptureOrtoBinding captureOrto;
    if (captureOrto.LoadModule(norvix::recordText(norvix::paths().DigitalizacaoOrto))) {
        norvix::HostStream images[4], spares[4];
        ModuleStream* group[4] = {images[0], images[1], images[2], images[3]};
        ModuleStream* spareGroup[4] = {spares[0], spares[1], spares[2], spares[3]};
        saveModal(QStringLiteral("frmCapturar_orto"),
                  [&] { captureOrto.Digitalizar(main.data(), group, spareGroup, 1, "Digitalizando Imagem do Olho"); },
                  2000);
        captureOrto.ReleaseModule();
    } else {
        std::fprintf(stderr, "módulo de captura de ortoceratologia não carregou\n");
        ++g_failures;
    }
    if (main) main->close();
    return g_failures == 0 ? 0 : 1;
}
