#include "TearFilmExam.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <thread>
#include <utility>

#include "UfrmLagrima.h"
#include "platform/Paths.h"
#include "platform/Sobras.h"
#include "platform/Errors.h"
#include "platform/ui/MessageSeam.h"
#include "records/UDMedicos.h"
#include "records/ExameNovo.h"
#include "records/UfrmDataModule.h"

namespace norvix {

const QString TearFilmExam::kCaption = QStringLiteral("Filme Lacrimal (NIBUT)");

TearFilmExam::Seams& TearFilmExam::seams() {
    static Seams s = [] {
        Seams d;
        d.choose = [](QWidget* w, const QStringList& doctors, Choice* c) {
            return TfrmLagrima::escolheOlho(w, doctors, &c->eye, &c->doctor);
        };
        d.decide = [](QWidget* w, const QString& name, const TExameLagrima& e, const lagrima::TearFilmResult& r) {
            return TfrmLagrima::decide(w, name, e, r);
        };
        return d;
    }();
    return s;
}

TearFilmExam::TearFilmExam(QWidget* window, int patient, QString patientName, Seams seams)
    : window_(window), patient_(patient), patientName_(std::move(patientName)), seams_(std::move(seams)) {}

void TearFilmExam::fail(const QString& text) const {
    showMessage(text, kCaption, MsgIcon::Error, MsgButtons::Ok, window_);
}

int TearFilmExam::run(const QString& doctor) {
    if (patient_ <= 0) {
        showMessage(QStringLiteral("Selecione um Paciente para efetuar o exame!"), QStringLiteral("Informação"),
                    MsgIcon::Error, MsgButtons::Ok, window_);
        return 0;
    }
    Choice choice;
    choice.doctor = doctor;
    QStringList doctors;
    try {
        doctors = DMedicos().NomesMedicos();
    } catch (const Error& e) {
        fail(e.message());
        return 0;
    }
    if (doctors.isEmpty()) {
        fail(QStringLiteral("Cadastre um médico antes de fazer o exame."));
        return 0;
    }
    if (!seams_.choose || !seams_.choose(window_, doctors, &choice)) return 0;
    return run(choice);
}

int TearFilmExam::run(const Choice& choice) {
    if (!seams_.record || !seams_.analyse) {
        fail(QStringLiteral("O exame de filme lacrimal não está disponível nesta instalação: o módulo de captura ou "
                            "a análise da gravação não foram instalados."));
        return 0;
    }
    if (!AvisoTabelaLagrima().isEmpty()) {
        fail(AvisoTabelaLagrima());
        return 0;
    }
    int medico = 0;
    try {
        medico = DMedicos().SelectCodigoByNome(choice.doctor);
    } catch (const Error& e) {
        fail(e.message());
        return 0;
    }
    if (medico == 0) {
        fail(QStringLiteral("O médico \"%1\" não está cadastrado. Escolha o médico responsável.").arg(choice.doctor));
        return 0;
    }

    // The film stays on this computer, in the installation, until the exam is stored or dropped.
    // Named for this process, so the next start removes it if a kill leaves it behind.
    QTemporaryDir dir(modeloPastaDoProcesso(installRoot(), QStringLiteral(".lagrima-")));
    if (!dir.isValid()) {
        fail(QStringLiteral("Não foi possível criar a pasta temporária da gravação em %1: %2")
                 .arg(installRoot(), dir.errorString()));
        return 0;
    }
    const QString path = dir.filePath(QStringLiteral("gravacao.nibut"));
    const StepOutcome recorded = seams_.record(window_, choice.eye, path, kMaxSeconds);
    if (!recorded.ok) {
        if (!recorded.message.isEmpty()) fail(recorded.message);
        return 0;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("A gravação do filme lacrimal não foi encontrada em %1.").arg(path));
        return 0;
    }

    lagrima::TearFilmResult result;
    QString error;
    if (!analyse(path, &result, &error)) {
        if (!error.isEmpty()) fail(QStringLiteral("A gravação não pôde ser analisada: %1\nO exame não foi gravado.").arg(error));
        return 0;
    }

    TExameLagrima shown;
    const QDateTime now = Relogio().Agora();
    shown.paciente = patient_;
    shown.medico = medico;
    shown.nomeMedico = choice.doctor;
    shown.olho = choice.eye == 1 ? QStringLiteral("OD") : QStringLiteral("OS");
    shown.data = now.date();
    shown.hora = QTime(now.time().hour(), now.time().minute(), now.time().second());
    shown.primeira = result.firstS;
    shown.media = result.averageS;
    shown.piscada = result.blinkS;
    shown.duracao = result.recordedS;
    shown.area = result.brokenPercentAtEnd();
    shown.fps = result.fps;
    if (!seams_.decide || !seams_.decide(window_, patientName_, shown, result)) return 0;

    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError || bytes.isEmpty()) {
        fail(QStringLiteral("A gravação do filme lacrimal não pôde ser lida: %1").arg(file.errorString()));
        return 0;
    }
    try {
        return DLagrima().Grava({patient_, medico, shown.data, shown.hora, shown.olho}, result, bytes);
    } catch (const Error& e) {
        fail(QStringLiteral("O exame não foi gravado: %1").arg(e.message()));
        return 0;
    }
}

bool TearFilmExam::analyse(const QString& path, lagrima::TearFilmResult* result, QString* error) {
    std::atomic<int> done{0}, total{0};
    std::atomic<bool> cancel{false}, finished{false};
    bool ok = false;
    lagrima::TearFilmResult found;
    QString why;
    QProgressDialog progress(QStringLiteral("Analisando o filme lacrimal..."), QStringLiteral("Cancelar"), 0, 0, window_);
    progress.setObjectName(QStringLiteral("dlgAnaliseLagrima"));
    progress.setWindowTitle(kCaption);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    // The analysis touches no widget: it runs aside while this thread keeps the dialog alive.
    std::thread worker([&] {
        try {
            ok = seams_.analyse(path, &found, &why, [&](int d, int t) {
                done = d;
                total = t;
                return !cancel.load();
            });
        } catch (const std::exception& e) {
            ok = false;
            why = QString::fromUtf8(e.what());
        }
        finished = true;
    });
    QEventLoop loop;
    QTimer tick;
    QElapsedTimer running;
    running.start();
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        // Shown after a third of a second even when the analysis reports no progress.
        if (!progress.isVisible() && running.elapsed() > 300 && !finished) progress.show();
        if (progress.wasCanceled()) cancel = true;
        if (total > 0) {
            progress.setMaximum(total);
            progress.setValue(done);
        }
        if (finished) loop.quit();
    });
    tick.start(30);
    loop.exec();
    worker.join();
    progress.close();
    if (cancel && !ok) {
        error->clear();
        return false;
    }
    if (!ok) {
        *error = why.isEmpty() ? QStringLiteral("a análise não deu resultado.") : why;
        return false;
    }
    *result = std::move(found);
    return true;
}

}  // namespace norvix
