// Cost of the records layer (named parameters, buffered cursor, QString conversion) against
// the bare Firebird object API running the same statements on the same attachment. Times are
// processor time of the whole process (the embedded engine runs inside it), which a busy
// shared machine disturbs less than wall-clock time.
// Also: name prefix searches with and without the UPPER(NOME) index.
// Usage: bench_db_layer [template.gdb]  (default: the build's template database)
#include <firebird/Interface.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>
#include <cstring>

#include "platform/Cp1252.h"
#include "records/UfrmDataModule.h"

using namespace norvix;
using namespace Firebird;

namespace {

constexpr int kRows = 5000;
const char* const kInsert =
    "Execute Procedure InsertPacientes :Nome,:Rg,:CPF,:Sexo,:EstadoCivil,:Conjuge,"
    ":DataNascimento,:Naturalidade,:NaturalidadeEstado,:Pai,:Mae,:Rua,:Complemento,:Bairro,"
    ":Cidade,:Estado,:Cep,:Fone,:Celular,:Convenio,:Profissao,:TipoSang,:DtCadastro,"
    ":TotalExames";
const char* const kNames[] = {"Nome", "Rg", "CPF", "Sexo", "EstadoCivil", "Conjuge",
                              "DataNascimento", "Naturalidade", "NaturalidadeEstado", "Pai",
                              "Mae", "Rua", "Complemento", "Bairro", "Cidade", "Estado", "Cep",
                              "Fone", "Celular", "Convenio", "Profissao", "TipoSang"};

QString nameOf(int i) { return QStringLiteral("PACIENTE NÚMERO %1").arg(i); }

double layerInsert(TDMPrincipal& dm, int from) {
    const std::clock_t c0 = std::clock();
    for (int i = from; i < from + kRows; ++i) {
        FbParams p;
        for (const char* n : kNames) p.push_back({n, QStringLiteral("X")});
        p[0].value = nameOf(i);
        p.push_back({"DtCadastro", QDate(2024, 1, 1)});
        p.push_back({"TotalExames", 0});
        dm.execProcedure(kInsert, p, TDMPrincipal::Commit::No);
    }
    return (std::clock() - c0) * 1000.0 / CLOCKS_PER_SEC;
}

double rawInsert(TDMPrincipal& dm, int from) {
    IMaster* master = fb_get_master_interface();
    ThrowStatusWrapper st(master->getStatus());
    IAttachment* att = dm.IBDatabase.attachment();
    ITransaction* tra = dm.IBTransaction.handle();
    const std::clock_t c0 = std::clock();
    QByteArray sql = QByteArray(kInsert);
    sql = toCp1252(parseNamedParameters(QString::fromLatin1(sql)).sql);
    IStatement* stmt = att->prepare(&st, tra, 0, sql.constData(), 3, 0);
    IMessageMetadata* in = stmt->getInputMetadata(&st);
    std::vector<unsigned char> buf(in->getMessageLength(&st));
    IUtil* util = master->getUtilInterface();
    for (int i = from; i < from + kRows; ++i) {
        std::fill(buf.begin(), buf.end(), 0);
        const QByteArray nome = toCp1252(nameOf(i));
        for (unsigned k = 0; k < 22; ++k) {
            unsigned char* d = buf.data() + in->getOffset(&st, k);
            const QByteArray v = k == 0 ? nome : QByteArray("X");
            const short len = short(v.size());
            std::memcpy(d, &len, 2);
            std::memcpy(d + 2, v.constData(), size_t(len));
        }
        const ISC_DATE date = util->encodeDate(2024, 1, 1);
        std::memcpy(buf.data() + in->getOffset(&st, 22), &date, sizeof date);
        const int zero = 0;
        std::memcpy(buf.data() + in->getOffset(&st, 23), &zero, sizeof zero);
        stmt->execute(&st, tra, in, buf.data(), nullptr, nullptr);
    }
    in->release();
    stmt->free(&st);
    st.dispose();
    return (std::clock() - c0) * 1000.0 / CLOCKS_PER_SEC;
}

double layerRead(TDMPrincipal& dm, qint64& checksum) {
    const std::clock_t c0 = std::clock();
    FbQuery& q = dm.openQuery(dm.IBQueryPacientes, "select * from PACIENTES");
    for (; !q.eof(); q.next()) checksum += q.asInt("Codigo") + q.asString("Nome").size();
    q.close();
    return (std::clock() - c0) * 1000.0 / CLOCKS_PER_SEC;
}

double rawRead(TDMPrincipal& dm, qint64& checksum) {
    IMaster* master = fb_get_master_interface();
    ThrowStatusWrapper st(master->getStatus());
    IAttachment* att = dm.IBDatabase.attachment();
    ITransaction* tra = dm.IBTransaction.handle();
    const std::clock_t c0 = std::clock();
    IStatement* stmt = att->prepare(&st, tra, 0, "select * from PACIENTES", 3,
                                    IStatement::PREPARE_PREFETCH_METADATA);
    IMessageMetadata* out = stmt->getOutputMetadata(&st);
    const unsigned n = out->getCount(&st);
    unsigned codigo = 0, nome = 0;
    for (unsigned i = 0; i < n; ++i) {
        if (std::strcmp(out->getField(&st, i), "CODIGO") == 0) codigo = i;
        if (std::strcmp(out->getField(&st, i), "NOME") == 0) nome = i;
    }
    std::vector<unsigned char> buf(out->getMessageLength(&st));
    IResultSet* rs = stmt->openCursor(&st, tra, nullptr, nullptr, out, 0);
    while (rs->fetchNext(&st, buf.data()) == IStatus::RESULT_OK) {
        int code;
        std::memcpy(&code, buf.data() + out->getOffset(&st, codigo), 4);
        short len;
        std::memcpy(&len, buf.data() + out->getOffset(&st, nome), 2);
        const QString s = fromCp1252(QByteArray(
            reinterpret_cast<const char*>(buf.data() + out->getOffset(&st, nome) + 2), len));
        checksum += code + s.size();
    }
    rs->close(&st);
    out->release();
    stmt->free(&st);
    st.dispose();
    return (std::clock() - c0) * 1000.0 / CLOCKS_PER_SEC;
}

// Prefix searches of names: through the UPPER(NOME) index, and the same search written so
// that no index can serve it (the table read whole).
double prefixSearch(TDMPrincipal& dm, bool indexed, int& found) {
    const QString column = indexed ? QStringLiteral("UPPER(NOME)") : QStringLiteral("UPPER(NOME) || ''");
    const std::clock_t c0 = std::clock();
    found = 0;
    for (int i = 0; i < 200; ++i) {
        const QString sql = QStringLiteral("SELECT COUNT(*) FROM PACIENTES WHERE %1 LIKE 'PACIENTE NÚMERO %2%'")
                                .arg(column)
                                .arg(1000 + i * 7);
        found += dm.selectInt(sql, {}, "COUNT", TDMPrincipal::Close::Yes);
    }
    return (std::clock() - c0) * 1000.0 / CLOCKS_PER_SEC;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString templ = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                   : QStringLiteral(NORVIX_TEMPLATE_DB_DEFAULT);
    QTemporaryDir dir;
    const QString path = dir.path() + "/DATABASE.GDB";
    if (!QFile::copy(templ, path)) {
        std::fprintf(stderr, "Banco modelo não encontrado: %s\n", qPrintable(templ));
        return 1;
    }
    TDMPrincipal dm;
    if (!dm.PSetDataBaseName(path)) return 1;
    try {
        // Warm-up, then alternate so that neither side profits from a warmer cache.
        rawInsert(dm, 0);
        double layerIns = 0, rawIns = 0;
        for (int round = 1; round <= 2; ++round) {
            layerIns += layerInsert(dm, round * 2 * kRows);
            rawIns += rawInsert(dm, round * 2 * kRows + kRows);
        }
        dm.PCommitDataBase();
        qint64 a = 0, b = 0;
        rawRead(dm, b);
        b = 0;
        double layerRd = 0, rawRd = 0;
        for (int round = 0; round < 3; ++round) {
            layerRd += layerRead(dm, a);
            rawRd += rawRead(dm, b);
        }
        const int rows = dm.selectInt("SELECT COUNT(*) FROM Pacientes", {}, "COUNT",
                                      TDMPrincipal::Close::Yes);
        std::printf("insert procedure, %d calls x2: layer %.1f ms, bare API %.1f ms, ratio %.2f\n",
                    kRows, layerIns, rawIns, layerIns / rawIns);
        std::printf("read %d rows x3 (all columns buffered): layer %.1f ms, bare API %.1f ms, "
                    "ratio %.2f\n",
                    rows, layerRd, rawRd, layerRd / rawRd);
        if (a != b) std::fprintf(stderr, "checksums differ: %lld %lld\n", a, b);
        int withIndex = 0, without = 0;
        const double indexed = prefixSearch(dm, true, withIndex);
        const double scanned = prefixSearch(dm, false, without);
        std::printf("200 name prefix searches over %d patients: UPPER(NOME) index %.1f ms, "
                    "without index %.1f ms, ratio %.3f\n",
                    rows, indexed, scanned, indexed / scanned);
        if (withIndex != without) std::fprintf(stderr, "searches differ: %d %d\n", withIndex, without);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
