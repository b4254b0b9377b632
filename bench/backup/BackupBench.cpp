// Backup of 1,000 exams (3,000 data files made from the example exams) plus the database copy
// to a medium folder through the reference backup module and the copy under the backup lock,
// against `cp -r` of the same files in the same run; then the restore (over the current exams,
// staged and put in place as one transaction, as the window does) against `cp -r` back.
// Ours includes the SHA-256 of every file, the flush of the medium, the read-back from the
// medium and the manifest. Prints the median of kRodadas runs of each and the ratio.
//   bench_backup [database]   (default: the build's template database)
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

#include "backup/BackupMidia.h"
#include "backup/CopiaBanco.h"
#include "modules/HostStream.h"
#include "modules/ModuleBindings.h"
#include "records/UfrmDataModule.h"

using namespace norvix;

namespace {

constexpr int kExames = 1000, kRodadas = 5;

bool cpR(const QStringList& args) { return QProcess::execute("cp", QStringList{"-r"} + args) == 0; }

// A previous round's folder set aside rather than deleted: ext4 then searches past the
// recently freed inodes on every create, which would time the harness's deletions, not a copy.
void afasta(const QString& pasta) {
    static int n = 0;
    const QString lixo = QFileInfo(pasta).absolutePath() + "/lixo";
    QDir().mkpath(lixo);
    QDir().rename(pasta, lixo + "/" + QString::number(n++));
}

double mediana(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString bin = QCoreApplication::applicationDirPath();
    const QString template_ = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(NORVIX_TEMPLATE_DB_DEFAULT);
    QTemporaryDir raiz;
    const QString exemplos = raiz.path() + "/Exemplos", exames = raiz.path() + "/Exames";
    const QString laudos = raiz.path() + "/Laudos", banco = raiz.path() + "/Banco de Dados";
    if (QProcess::execute(bin + "/mkexemplos", {exemplos}) != 0) {
        std::fprintf(stderr, "mkexemplos falhou\n");
        return 1;
    }
    // 1,000 exams of 100 patients, each from one of the example exams.
    const QStringList nomes = QDir(exemplos).entryList({"*d.txt"}, QDir::Files, QDir::Name);
    QStringList lista;
    qint64 bytes = 0;
    for (int e = 0; e < kExames; ++e) {
        const QString base = nomes[e % nomes.size()].chopped(5);
        const QString pasta = QStringLiteral("%1/%2").arg(exames).arg(e % 100 + 1);
        QDir().mkpath(pasta);
        for (const char* letra : {"a", "d", "m"}) {
            const QString nome = QStringLiteral("%1/%2%3.txt").arg(pasta).arg(e + 1).arg(letra);
            QFile::copy(exemplos + "/" + base + letra + ".txt", nome);
            bytes += QFileInfo(nome).size();
            lista << QStringLiteral("%1\\%2%3.txt").arg(e % 100 + 1).arg(e + 1).arg(letra);
        }
    }
    QDir().mkpath(laudos);
    QDir().mkpath(banco);
    QFile::copy(template_, banco + "/DATABASE.GDB");
    TDMPrincipal dm;
    if (!dm.PSetDataBaseName(banco + "/DATABASE.GDB")) {
        std::fprintf(stderr, "o banco de dados não abriu\n");
        return 1;
    }
    const QString ini = raiz.path() + "/BackUp.ini";
    QFile f(ini);
    f.open(QIODevice::WriteOnly);
    f.write("[BACKUP]\r\nDiscoAtual=1\r\n[UNIDADES]\r\nE=" + (raiz.path() + "/midia").toUtf8() + "\r\n");
    f.close();
    qputenv("NORVIX_BACKUP_DIR", raiz.path().toUtf8());

    // The module asks for the disk in message boxes of its own: the first button answers.
    QTimer respondedor;
    QObject::connect(&respondedor, &QTimer::timeout, [] {
        if (auto* caixa = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            if (QAbstractButton* b = caixa->defaultButton() ? caixa->defaultButton() : caixa->buttons().value(0)) b->click();
    });
    respondedor.start(5);

    std::vector<double> nosso, base, nossoRest, baseRest, soModulo;
    for (int r = 0; r < kRodadas; ++r) {
        afasta(raiz.path() + "/midia");
        afasta(raiz.path() + "/cp");
        QDir().mkpath(raiz.path() + "/midia");
        QDir().mkpath(raiz.path() + "/cp");
        QElapsedTimer t;
        ::sync();  // each side starts with no writes of the other pending
        t.start();
        if (!cpR({exames, banco, raiz.path() + "/cp/"})) return 1;
        base.push_back(t.nsecsElapsed() / 1e6);

        ::sync();  // each side starts with no writes of the other pending
        t.start();
        TBackupBinding modulo;
        modulo.LoadModule(bin + "/Backup.so");
        HostStream listaE, resE, listaL, resL;
        listaE.writeLines(lista);
        listaE.rewind();
        const int32_t copiados = modulo.CriarBackup(nullptr, listaE, resE, listaL, resL, 3, exames.toUtf8().constData(),
                                                    laudos.toUtf8().constData());
        modulo.ReleaseModule();
        soModulo.push_back(t.nsecsElapsed() / 1e6);
        // The database as the window copies it: under the lock into a local folder, its mark
        // cleared there, then published on the medium verified, with BackUp.ini.
        QString erro;
        QList<std::pair<QString, QString>> arquivos;
        afasta(raiz.path() + "/local");
        if (copiados != 3 * kExames || !preparaCopiaBanco(dm, banco, raiz.path() + "/local", &arquivos, &erro) ||
            !backup::publicaNoMeio(raiz.path() + "/midia", arquivos << std::pair{ini, QStringLiteral("BackUp.ini")}, &erro)) {
            std::fprintf(stderr, "o backup falhou: %d %s\n", copiados, qPrintable(erro));
            return 1;
        }
        nosso.push_back(t.nsecsElapsed() / 1e6);
        const QMap<QString, QByteArray> manifesto = backup::leManifesto(raiz.path() + "/midia");

        // Restore into empty folders: cp -r back against the module and the checked database copy.
        afasta(exames + "-cp");
        ::sync();  // each side starts with no writes of the other pending
        t.start();
        if (!cpR({raiz.path() + "/cp/Exames", exames + "-cp"}) ||
            !cpR({raiz.path() + "/cp/Banco de Dados/DATABASE.GDB", raiz.path() + "/cp-banco.gdb"}))
            return 1;
        baseRest.push_back(t.nsecsElapsed() / 1e6);
        // Ours as the window restores: over the current exams (a copy of them), the module into a
        // staging folder inside, the database brought back verified and validated by the engine,
        // then every file put in place under the journal and the journal confirmed.
        afasta(exames + "-rest");
        if (!cpR({exames, exames + "-rest"})) return 1;
        ::sync();  // each side starts with no writes of the other pending
        t.start();
        QTemporaryDir preparo(exames + "-rest/" + QLatin1String(kPreparoRestauracao) + "XXXXXX");
        modulo.LoadModule(bin + "/Backup.so");
        const int32_t restaurados = modulo.RestaurarBackup(nullptr, preparo.path().toUtf8().constData(),
                                                           laudos.toUtf8().constData());
        modulo.ReleaseModule();
        QByteArray soma;
        QString saida;
        const QString bancoRest = raiz.path() + "/rest-banco.gdb";
        backup::copiaArquivo(raiz.path() + "/midia/Banco de Dados/DATABASE.GDB", bancoRest + ".restaura", &soma, &erro,
                             nullptr, true);
        QStringList destinos{bancoRest}, origens{bancoRest + ".restaura"};
        const QDir raizPreparo(preparo.path());
        for (QDirIterator it(preparo.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            origens << it.next();
            destinos << exames + "-rest/" + raizPreparo.relativeFilePath(origens.last());
        }
        TTrocaArquivos troca(raiz.path() + "/restauracao.pendente");
        if (restaurados != 3 * kExames || soma != manifesto.value("Banco de Dados/DATABASE.GDB") ||
            !troca.troca(destinos, &erro, origens) ||
            !executaFerramenta(dm, "gfix", {"-v", "-full", "-n", bancoRest}, &saida)) {
            std::fprintf(stderr, "a restauração falhou: %d %s %s\n", restaurados, qPrintable(erro), qPrintable(saida));
            return 1;
        }
        troca.confirma();
        nossoRest.push_back(t.nsecsElapsed() / 1e6);
    }
    const double mb = (bytes + QFileInfo(banco + "/DATABASE.GDB").size()) / 1e6;
    std::printf("backup de %d exames (%d arquivos, %.1f MB com o banco): cp -r %.0f ms, módulo %.0f ms, razão %.2f\n",
                kExames, 3 * kExames, mb, mediana(base), mediana(nosso), mediana(nosso) / mediana(base));
    std::printf("  dos quais os arquivos dos exames (módulo) %.0f ms, o banco de dados o resto\n", mediana(soModulo));
    std::printf("restauração: cp -r %.0f ms, módulo %.0f ms, razão %.2f\n", mediana(baseRest), mediana(nossoRest),
                mediana(nossoRest) / mediana(baseRest));
    return 0;
}
