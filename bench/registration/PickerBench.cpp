// The patient picker on a large clinic (made by mkclinica_grande):
//  - the picker opened to its first painted frame with every patient listed, against the bare
//    statement of its list with its first page of rows fetched and painted in a plain grid of
//    the same size, run in turn (goal: at most 1.5 x);
//  - a keystroke in the name field (the list read again for the text typed so far), against the
//    bare statement of that list with its first page fetched (goal: at most 1.5 x, and at most
//    a third of a second, where the wait window would be due).
// Usage: bench_registration_picker <DATABASE.GDB of a large clinic> [runs]
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "config/SharedRecords.h"
#include "exams/UfrmExames.h"
#include "platform/ui/MessageSeam.h"
#include "records/CursorModel.h"
#include "records/UArquivosExameTexto.h"
#include "records/UfrmDataModule.h"
#include "registration/UfrmNovoPaciente.h"

using norvix::TfrmExames;
using norvix::TfrmNovoPaciente;

namespace {

const QString kTodos = QStringLiteral("SELECT Codigo,Nome,Rg,TotalExames FROM Pacientes ORDER BY Nome ASC");
const QString kPrefixo = QStringLiteral(
    "SELECT Codigo,Nome,Rg,TotalExames FROM Pacientes WHERE Upper(nome) STARTING WITH "
    "CAST(:Texto AS VARCHAR(50)) ORDER BY Nome ASC");

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void paintNow(QWidget* w) {
    w->show();
    w->repaint();
    QApplication::processEvents();
}

double bareList() {
    QElapsedTimer t;
    t.start();
    norvix::TDMPrincipal& dm = norvix::DMPrincipal();
    dm.openQuery(dm.IBQueryBuscaPac, kTodos);
    QTableView view;
    view.resize(575, 285);
    norvix::CursorModel model(&dm.IBQueryBuscaPac);
    view.setModel(&model);
    paintNow(&view);
    const double ms = t.nsecsElapsed() / 1e6;
    dm.IBQueryBuscaPac.close();
    return ms;
}

double openPicker(TfrmExames& browser) {
    QElapsedTimer t;
    t.start();
    auto* picker = new TfrmNovoPaciente(browser);
    picker->resize(575, 285);
    paintNow(picker);
    const double ms = t.nsecsElapsed() / 1e6;
    picker->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return ms;
}

double barePrefix(const QString& typed) {
    QElapsedTimer t;
    t.start();
    norvix::TDMPrincipal& dm = norvix::DMPrincipal();
    dm.openQuery(dm.IBOperation, kPrefixo, {{QStringLiteral("Texto"), norvix::MaiusculasComAcentos(typed)}});
    dm.IBOperation.fetchTo(norvix::CursorModel::kPage - 1);
    const double ms = t.nsecsElapsed() / 1e6;
    dm.IBOperation.close();
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "uso: bench_registration_picker <DATABASE.GDB> [execuções]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 9;
    norvix::RecordingMessageSeam quiet;
    norvix::TDMPrincipal dm;
    if (!dm.PSetDataBaseName(QString::fromLocal8Bit(argv[1]))) return 1;
    TfrmExames browser(nullptr);  // the picker's browser; never shown

    std::vector<double> bare, picker;
    bareList();  // warms the engine's cache for both
    openPicker(browser);
    for (int i = 0; i < runs; ++i) {
        bare.push_back(bareList());
        picker.push_back(openPicker(browser));
    }
    std::printf("%-52s %7.1f ms\n", "bare list statement, first page painted", median(bare));
    std::printf("%-52s %7.1f ms\n", "picker opened with every patient, first frame", median(picker));
    std::printf("ratio: %.2f (goal: at most 1.5)\n", median(picker) / median(bare));

    // Typing names one keystroke at a time; each keystroke against the bare statement for the
    // same text.
    auto* w = new TfrmNovoPaciente(browser);
    w->resize(575, 285);
    paintNow(w);
    auto* edit = w->findChild<QLineEdit*>(QStringLiteral("edtNomePac"));
    std::vector<double> keys, bareKeys;
    for (int i = 0; i < runs; ++i) {
        for (const QString& name : {QStringLiteral("Maria"), QStringLiteral("José Carlos"), QStringLiteral("Ana"),
                                    QStringLiteral("Valéria"), QStringLiteral("Zuleica")}) {
            edit->clear();
            QString typed;
            for (const QChar c : name) {
                typed += c;
                bareKeys.push_back(barePrefix(typed));
                QElapsedTimer t;
                t.start();
                edit->insert(QString(c));  // as a keystroke: the list follows the text edited
                w->repaint();
                keys.push_back(t.nsecsElapsed() / 1e6);
            }
        }
    }
    std::sort(keys.begin(), keys.end());
    std::printf("%-52s %7.1f ms (worst %.1f ms)\n", "bare prefix statement, first page fetched", median(bareKeys),
                *std::max_element(bareKeys.begin(), bareKeys.end()));
    std::printf("%-52s %7.1f ms (worst %.1f ms)\n", "picker keystroke, list read and painted", median(keys), keys.back());
    std::printf("ratio: %.2f (goal: at most 1.5; worst keystroke at most 333 ms)\n", median(keys) / median(bareKeys));
    std::printf("plan of the list: %s\n", qPrintable(dm.IBQueryBuscaPac.plan()));
    w->close();
    return 0;
}
