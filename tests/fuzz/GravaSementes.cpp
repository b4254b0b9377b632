// Writes the seeds of a fuzz target as files into a folder: the starting corpus of a
// libFuzzer run (scripts/fuzz.sh).
#include <QDir>
#include <QFile>
#include <cstdio>

#include "FuzzAlvo.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "uso: %s pasta\n", argv[0]);
        return 2;
    }
    const QString pasta = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(pasta);
    int n = 0;
    for (const QByteArray& s : norvix::fuzz::sementes()) {
        QFile f(pasta + QStringLiteral("/semente-%1").arg(n++));
        if (!f.open(QIODevice::WriteOnly) || f.write(s) != s.size()) {
            std::fprintf(stderr, "não foi possível gravar %s\n", qPrintable(f.fileName()));
            return 1;
        }
    }
    return 0;
}
