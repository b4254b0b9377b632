#include "UBMapOperation.h"

#include <QFile>
#include <cstring>
#include <functional>

#include "platform/Convert.h"
#include "platform/ui/MessageSeam.h"
#include "records/UArquivosExame.h"

namespace norvix {

namespace {
TBMapOperation* g_instance = nullptr;
}

TBMapOperation::TBMapOperation() : data_(std::make_unique<Data>()) {
    std::memset(data_.get(), 0, sizeof(Data));
    g_instance = this;
}

TBMapOperation::~TBMapOperation() {
    if (g_instance == this) g_instance = nullptr;
}

TBMapOperation& MapOperation() {
    if (!g_instance) throw Error(QStringLiteral("O leitor de exames não foi criado."));
    return *g_instance;
}

bool hasMapOperation() { return g_instance != nullptr; }

bool TBMapOperation::Load(const QString& prefix, bool quiet, QString* error) {
    fileM_ = prefix + QStringLiteral("m.txt");
    fileD_ = prefix + QStringLiteral("d.txt");
    fileA_ = prefix + QStringLiteral("a.txt");
    // Read into scratch values: a file that fails leaves the exam loaded before intact.
    auto next = std::make_unique<Data>();
    TArquivoA a;
    auto read = [&](const QString& file, const char* name, const std::function<void()>& reader) {
        try {
            if (!QFile::exists(file))
                throw ArquivoExameError(QStringLiteral("Arquivo %1 não encontrado!").arg(QLatin1String(name)));
            reader();
            return true;
        } catch (const ArquivoExameError& e) {
            if (error) *error = e.message();
            if (!quiet) showMessage(e.message(), QStringLiteral("Erro"), MsgIcon::Error);
            return false;
        }
    };
    if (!read(fileM_, "m.txt", [&] { LeArquivoTabela(fileM_, next->m); }) ||
        !read(fileD_, "d.txt", [&] { LeArquivoTabela(fileD_, next->d); }) ||
        !read(fileA_, "a.txt", [&] { LeArquivoA(fileA_, a); }))
        return false;
    std::memcpy(next->meridianos, a.Meridianos, sizeof(TMatrizAng));
    std::memcpy(next->pupila, a.Pupila, sizeof(TPupila));
    data_ = std::move(next);
    centroX_ = a.CentroX;
    centroY_ = a.CentroY;
    return true;
}

void TBMapOperation::CopiaD(TMatrizAngAnel& out) const { std::memcpy(out, data_->d, sizeof(TMatrizAngAnel)); }
void TBMapOperation::CopiaM(TMatrizAngAnel& out) const { std::memcpy(out, data_->m, sizeof(TMatrizAngAnel)); }
void TBMapOperation::CopiaMeridianos(TMatrizAng& out) const {
    std::memcpy(out, data_->meridianos, sizeof(TMatrizAng));
}
void TBMapOperation::CopiaPupila(TPupila& out) const { std::memcpy(out, data_->pupila, sizeof(TPupila)); }

double TBMapOperation::ToFloat(const QString& text) {
    // The program's separator is always "."; a "," stands for it.
    QString t = text;
    if (!t.contains(QLatin1Char('.'))) t.replace(QLatin1Char(','), QLatin1Char('.'));
    return strToFloat(t);
}

}  // namespace norvix
