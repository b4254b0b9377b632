// The exam browser on a large clinic (made by mkclinica_grande):
//  - opening it to its first painted frame, against the bare patient query of the browser's
//    list ("Select * FROM Pacientes Order by Nome Asc") with its first screen of rows fetched
//    and painted in a plain grid of the same size, run in turn (goal: at most 2.0 x);
//  - a quick-find keystroke jumping to a name (goal: at most 30 ms);
//  - selecting an exam with the exam panel open and no small map;
//  - the memory the browser takes after its patient grid was scrolled through once, above the
//    browser just opened (goal: at most 50 MB).
// Usage: bench_exams_browser <DATABASE.GDB of a large clinic> [runs]
#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "config/SharedRecords.h"
#include "exams/UfrmExames.h"
#include "platform/ui/MessageSeam.h"
#include "records/CursorModel.h"
#include "records/UfrmDataModule.h"

using norvix::TfrmExames;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

long rssKb() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    return f.readAll().split(' ').value(1).toLong() * 4;
}

// Shows the widget and waits until its first frame has been painted.
void paintNow(QWidget* w) {
    w->show();
    w->repaint();
    QApplication::processEvents();
}

double bareQuery() {
    QElapsedTimer t;
    t.start();
    norvix::TDMPrincipal& dm = norvix::DMPrincipal();
    dm.openQuery(dm.IBQueryPacientes, QStringLiteral("Select * FROM Pacientes Order by Nome Asc"));
    QTableView view;
    view.resize(1366, 768);
    norvix::CursorModel model(&dm.IBQueryPacientes);
    model.setColumns({QStringLiteral("NOME")});
    view.setModel(&model);
    paintNow(&view);
    const double ms = t.nsecsElapsed() / 1e6;
    dm.IBQueryPacientes.close();
    return ms;
}

double openBrowser() {
    QElapsedTimer t;
    t.start();
    auto* browser = new TfrmExames(nullptr);
    browser->setWindowState(Qt::WindowNoState);
    browser->resize(1366, 768);
    paintNow(browser);
    const double ms = t.nsecsElapsed() / 1e6;
    browser->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    // Offscreen on a screen of 1366 x 768, where the maximised browser and the bare grid take
    // the same size.
    QTemporaryDir screenDir;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || qgetenv("QT_QPA_PLATFORM") == "offscreen") {
        QFile screen(screenDir.filePath(QStringLiteral("tela.json")));
        if (screen.open(QIODevice::WriteOnly))
            screen.write(R"({"screens":[{"name":"tela","x":0,"y":0,"width":1366,"height":768,"logicalDpiX":96,)"
                         R"("logicalDpiY":96,"dpr":1}]})");
        screen.close();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(screen.fileName()));
    }
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "uso: bench_exams_browser <DATABASE.GDB> [execuções]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 9;
    norvix::RecordingMessageSeam quiet;
    norvix::TDMPrincipal dm;
    if (!dm.PSetDataBaseName(QString::fromLocal8Bit(argv[1]))) return 1;
    norvix::infos().NumAneis = 32;

    std::vector<double> bare, browser;
    bareQuery();  // warms the engine's cache for both
    openBrowser();
    for (int i = 0; i < runs; ++i) {
        bare.push_back(bareQuery());
        browser.push_back(openBrowser());
    }
    std::printf("%-48s %7.1f ms\n", "bare patient query, first screen painted", median(bare));
    std::printf("%-48s %7.1f ms\n", "browser opened, first frame painted", median(browser));
    std::printf("ratio: %.2f (goal: at most 2.0)\n", median(browser) / median(bare));

    // The database side alone: what the browser reads for its first frame (doctor filter,
    // first page of patients, the current patient and its exams) against the bare query with
    // its first screen of rows, no window on either side.
    {
        auto* b = new TfrmExames(nullptr);
        b->setWindowState(Qt::WindowNoState);
        paintNow(b);
        std::vector<double> data, query;
        for (int i = 0; i < runs * 3; ++i) {
            QElapsedTimer t;
            t.start();
            norvix::FbQuery& q =
                dm.openQuery(dm.IBQueryPacientes, QStringLiteral("Select * FROM Pacientes Order by Nome Asc"));
            q.fetchTo(40);
            query.push_back(t.nsecsElapsed() / 1e6);
            t.restart();
            b->CarregaFiltroMedicos();
            b->CarregaPacientes(true);
            data.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("database work: browser %.2f ms, bare query %.2f ms, ratio %.2f\n", median(data), median(query),
                    median(data) / median(query));
        b->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Quick find: typing names that lie all over the list, one keystroke at a time.
    auto* b = new TfrmExames(nullptr);
    b->setWindowState(Qt::WindowNoState);
    b->resize(1366, 768);
    paintNow(b);
    auto* grid = b->findChild<QTableView*>(QStringLiteral("DBGridPacientes"));
    QTest::keyClick(grid, Qt::Key_F, Qt::ControlModifier);
    auto* find = b->findChild<QLineEdit*>(QStringLiteral("edtFindGrid"));
    std::vector<double> keys;
    for (const char* name : {"Valéria", "Ana", "Marcos Aurélio", "Zuleica", "José Carlos", "Bianca"}) {
        find->clear();
        for (const char* c = name; *c; ++c) {
            QElapsedTimer t;
            t.start();
            QTest::keyClick(find, *c);
            keys.push_back(t.nsecsElapsed() / 1e6);
        }
    }
    std::sort(keys.begin(), keys.end());
    std::printf("quick-find keystroke: median %.2f ms, worst %.2f ms (goal: at most 30 ms) -> %s\n", median(keys),
                keys.back(), qPrintable(b->patientName()));
    QTest::keyClick(find, Qt::Key_Escape);

    // Selecting an exam with its panel open (the small map off): the exam read by its code.
    {
        auto* list = b->findChild<QListWidget*>(QStringLiteral("lswPrincipal"));
        for (int row = 0; row < grid->model()->rowCount() && list->count() < 2; ++row) {
            grid->setCurrentIndex(grid->model()->index(row, 0));
            QApplication::processEvents();
        }
        list->setCurrentRow(0);
        b->MostraInfoExame(0);
        b->findChild<QCheckBox*>(QStringLiteral("cBoxMiniMapa"))->setChecked(false);
        std::vector<double> selections;
        for (int i = 0; i < 200; ++i) {
            QElapsedTimer t;
            t.start();
            list->setCurrentRow((i + 1) % list->count());
            selections.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("exam selected, panel open, no small map: median %.3f ms over %d exams\n", median(selections),
                    int(list->count()));
    }

    // Memory: the grid scrolled from its first row to its last.
    const long before = rssKb();
    QTest::keyClick(grid, Qt::Key_Home);
    QScrollBar* bar = grid->verticalScrollBar();
    int rows = 0;
    QElapsedTimer scroll;
    scroll.start();
    while (true) {
        bar->setValue(bar->maximum());
        QApplication::processEvents();
        const int now = grid->model()->rowCount();
        if (now == rows) break;
        rows = now;
    }
    std::printf("grid scrolled through %d rows in %.0f ms: %+.1f MB (goal: at most 50 MB)\n", rows,
                scroll.nsecsElapsed() / 1e6, (rssKb() - before) / 1024.0);
    b->close();
    return 0;
}
