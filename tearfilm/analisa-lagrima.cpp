// analisa-lagrima [--json] GRAVACAO...
// The non-invasive tear-film break-up time of recordings of the rings after a blink, for batch
// work and research: one line per recording, or the result as the exam stores it (--json). A
// recording that cannot be analysed is said on standard error and the others are still printed.
#include <QCoreApplication>
#include <QStringList>
#include <cmath>
#include <cstdio>

#include "tearfilm/TearFilm.h"

using namespace norvix::lagrima;

namespace {

const char* const kHelp =
    "Uso: analisa-lagrima [--json] GRAVACAO...\n"
    "\n"
    "Mede o tempo de ruptura não invasivo do filme lacrimal (NIBUT) em gravações dos anéis\n"
    "feitas após uma piscada, e imprime uma linha por gravação: a primeira ruptura e a média\n"
    "dos setores que romperam (em segundos após a piscada), a área rompida ao fim do registro,\n"
    "a piscada que encerrou o registro e quanto tempo foi analisado; \"sem ruptura\" quando\n"
    "nenhum setor rompeu. Ao fim da linha, o resultado como a janela do exame o mostra:\n"
    "\"Alterado (< 10 s)\" quando a primeira ruptura vem antes de 10 s, \"Inconclusivo\" com o\n"
    "motivo quando o registro acabou antes de 10 s sem ruptura ou menos da metade dos setores\n"
    "pôde ser analisada, senão \"Normal\".\n"
    "\n"
    "Opções:\n"
    "  --json   o resultado como o exame o guarda: um objeto JSON por linha, com primeira_s,\n"
    "           media_s, registro_s, piscada_s, fps, rupturas_s (32 setores: 4 faixas de 1 a\n"
    "           5 mm a partir do ápice vezes 8 grupos de meridianos, o primeiro centrado em\n"
    "           0 grau, em sentido anti-horário; null: não rompeu ou não analisável) e area\n"
    "           ([segundos, porcentagem da área analisada rompida], ...); null: não houve\n"
    "  --help   mostra esta ajuda\n"
    "\n"
    "Saída de erro: um aviso por gravação que não pôde ser analisada (arquivo ilegível, sem\n"
    "anéis, curta demais, escura demais). Código de saída 0 quando todas foram analisadas,\n"
    "1 quando alguma não pôde ser, 2 para opções inválidas.\n";

void warn(const QString& text) { std::fprintf(stderr, "analisa-lagrima: %s\n", text.toUtf8().constData()); }

QString line(const QString& path, const TearFilmResult& r) {
    QString text = path + QStringLiteral(": ");
    if (r.broke()) {
        text += QStringLiteral("primeira ruptura %1 s, média %2 s; área rompida %3 %")
                    .arg(secondsText(r.firstS), secondsText(r.averageS),
                         QString::number(r.brokenPercentAtEnd(), 'f', 1).replace(u'.', u','));
    } else {
        text += QStringLiteral("sem ruptura");
    }
    text += QStringLiteral("; %1 s de registro").arg(secondsText(r.recordedS));
    text += std::isnan(r.blinkS) ? QStringLiteral(", sem piscada ao fim")
                                 : QStringLiteral(", encerrado pela piscada aos %1 s").arg(secondsText(r.blinkS));
    // The verdict in the words of the exam's window.
    const TearFilmVerdict v = verdictOf(r);
    return text + QStringLiteral("; ") + v.words + (v.reason.isEmpty() ? QString() : QStringLiteral(": ") + v.reason);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    bool asJson = false;
    QStringList paths;
    for (const QString& a : args) {
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (a == QLatin1String("--json")) {
            asJson = true;
        } else if (a.startsWith(u'-') && a.size() > 1) {
            warn(QStringLiteral("opção desconhecida: %1 (veja --help).").arg(a));
            return 2;
        } else {
            paths << a;
        }
    }
    if (paths.isEmpty()) {
        warn(QStringLiteral("falta a gravação a analisar (veja --help)."));
        return 2;
    }
    int status = 0;
    for (const QString& path : paths) {
        TearFilmResult result;
        QString error;
        if (!analyseRecording(path, &result, &error)) {
            // The reader's messages name the file already.
            warn(error.contains(path) ? error : QStringLiteral("%1: %2").arg(path, error));
            status = 1;
            continue;
        }
        std::printf("%s\n", (asJson ? QString::fromUtf8(toJson(result)) : line(path, result)).toUtf8().constData());
        std::fflush(stdout);
    }
    return status;
}
