// exporta-dicom [--raiz INSTALACAO] --saida PASTA CODIGO...
// The DICOM objects of exams, read from an installation's database and folders, written into
// a folder (for a PACS gateway that picks files up, or to send later). Each exam code writes
// its visit: both eyes taken together, photograph and axial map each, and the saved reports.
#include <QDir>
#include <QGuiApplication>
#include <QSet>
#include <cstdio>

#include "dicom/ExamExport.h"
#include "dicom/ExportInstallation.h"
#include "platform/Paths.h"
#include "reports/LaudoPdf.h"

using namespace norvix::dicom;

namespace {

const char* const kHelp =
    "Uso: exporta-dicom [--raiz INSTALACAO] --saida PASTA CODIGO...\n"
    "\n"
    "Grava na PASTA os objetos DICOM dos exames de códigos CODIGO: de cada olho da visita do\n"
    "exame (os dois olhos tirados juntos), a foto do anel central e o mapa axial com a\n"
    "ceratometria simulada e os índices; e, quando o paciente tem um laudo salvo do exame, o\n"
    "laudo em PDF como a janela de laudo o imprime. Cada arquivo tem o nome do seu SOP Instance\n"
    "UID; gravar de novo o mesmo exame substitui os mesmos arquivos.\n"
    "\n"
    "Opções:\n"
    "  --raiz INSTALACAO  pasta da instalação (a que contém OrventDuo/Orvent.ini); padrão:\n"
    "                     $NORVIX_ROOT, ou /opt/NORVIX quando a variável não está definida\n"
    "  --saida PASTA      pasta onde os arquivos são gravados (criada se não existir)\n"
    "  --help             mostra esta ajuda\n"
    "\n"
    "Saída: uma linha por arquivo gravado (código do exame e caminho). Saída de erro: uma linha\n"
    "por exame que não pôde ser gravado, e por parte de uma visita deixada de fora (um laudo,\n"
    "um filme lacrimal ilegível), com o código e o motivo; o resto é gravado assim mesmo.\n"
    "Código de saída 0 quando tudo foi gravado, 1 quando algo não foi, 2 para opções inválidas.\n";

struct Options {
    QString root, folder;
    QList<int> codes;
};

void warn(const QString& text) { std::fprintf(stderr, "exporta-dicom: %s\n", text.toUtf8().constData()); }

bool parseOptions(const QStringList& args, Options* o, bool* help) {
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&](QString* out) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty()) {
                warn(QStringLiteral("a opção %1 precisa de um valor.").arg(a));
                return false;
            }
            *out = args[++i];
            return true;
        };
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            *help = true;
        } else if (a == QLatin1String("--raiz")) {
            if (!value(&o->root)) return false;
        } else if (a == QLatin1String("--saida")) {
            if (!value(&o->folder)) return false;
        } else if (a.startsWith(QLatin1Char('-'))) {
            warn(QStringLiteral("opção desconhecida: %1 (veja --help).").arg(a));
            return false;
        } else {
            bool ok = false;
            const int code = a.toInt(&ok);
            if (!ok || code <= 0) {
                warn(QStringLiteral("código de exame inválido: \"%1\" (um número inteiro positivo).").arg(a));
                return false;
            }
            o->codes << code;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // The report is printed as the window prints it, which needs a graphical platform; the
    // export runs as well on a station without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    norvix::ensureRuntimeDirectory();  // stderr carries only the exams' failures
    QGuiApplication app(argc, argv);
    Options o;
    bool help = false;
    if (!parseOptions(app.arguments(), &o, &help)) return 2;
    if (help) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (o.folder.isEmpty() || o.codes.isEmpty()) {
        std::fputs("Uso: exporta-dicom [--raiz INSTALACAO] --saida PASTA CODIGO... (veja --help)\n", stderr);
        return 2;
    }
    auto failAll = [&](const QString& why) {
        for (int code : o.codes) warn(QStringLiteral("exame %1: %2").arg(code).arg(why));
        return 1;
    };
    if (!QDir().mkpath(o.folder)) return failAll(QStringLiteral("não foi possível criar a pasta %1.").arg(o.folder));
    ExportInstallation installation;
    QString why;
    if (!installation.open(o.root.isEmpty() ? norvix::installRoot() : o.root, &why)) return failAll(why);
    const ExamExport exporter(installation.station(), norvix::imprimeLaudoSalvo);

    bool failed = false;
    QSet<int> done;
    for (int code : o.codes) {
        if (done.contains(code)) continue;
        for (const ExamOutcome& r : exporter.writeVisit(code, o.folder)) {
            done << r.examCode;
            for (const Written& w : r.written)
                std::printf("%d\t%s\n", r.examCode, QDir::toNativeSeparators(w.filePath).toUtf8().constData());
            if (!r.ok()) {
                warn(QStringLiteral("exame %1: %2").arg(r.examCode).arg(r.error));
                failed = true;
            }
            // The rest of the visit is written; what was left out is said, and not all was written.
            for (const QString& w : r.warnings) warn(QStringLiteral("exame %1: %2").arg(r.examCode).arg(w));
            failed = failed || !r.warnings.isEmpty();
        }
    }
    return failed ? 1 : 0;
}
