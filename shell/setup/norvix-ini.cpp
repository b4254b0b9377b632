// Reads or writes one value of a profile file with the program's own conventions, for the
// installation scripts:  norvix-ini <file> <section> <key> [value]
#include <QCoreApplication>
#include <cstdio>
#include "platform/ProfileFile.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() != 4 && a.size() != 5) {
        std::fprintf(stderr, "uso: norvix-ini <arquivo> <seção> <chave> [valor]\n");
        return 2;
    }
    const norvix::ProfileFile file(a[1]);
    if (a.size() == 5) return file.writeString(a[2], a[3], a[4]) ? 0 : 1;
    const auto value = file.readValue(a[2], a[3]);
    if (!value) return 1;
    std::printf("%s\n", value->toUtf8().constData());
    return 0;
}
