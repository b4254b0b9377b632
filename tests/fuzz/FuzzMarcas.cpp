// Fuzz target: the report markup filter and the two text helpers beside it. The input is
// taken as Windows-1252 text.
#include "FuzzAlvo.h"
#include "platform/Cp1252.h"
#include "records/UArquivosExameTexto.h"

using namespace norvix;

namespace {
long contagem = 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString texto =
        fromCp1252(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    const QString limpo = TextoSemMarcas(texto);
    // The filter only drops characters, and touches nothing without a "#".
    fuzz::exige(limpo.size() <= texto.size());
    if (!texto.contains(QLatin1Char('#'))) fuzz::exige(limpo == texto);
    // At most one "#" survives: the operator's own unclosed one.
    fuzz::exige(limpo.count(QLatin1Char('#')) <= 1);
    fuzz::exige(MaiusculasComAcentos(texto).size() == texto.size());
    const QString convertido = ConverteDecimal(texto);
    fuzz::exige(convertido.size() == texto.size());
    fuzz::exige(convertido.count(QLatin1Char(',')) + convertido.count(QLatin1Char('.')) ==
                texto.count(QLatin1Char(',')) + texto.count(QLatin1Char('.')));
    ++contagem;
    return 0;
}

namespace norvix::fuzz {

long aceitos() { return contagem; }

std::vector<QByteArray> sementes() {
    return {"Ceratometria #12-normal# em AO", "#1-x#", "#ab#", "# sem fim", "#texto livre#",
            "#3##4-com - tra\xe7o#", "a\r\n#1#\r\n@\r\n*", "3,75", "jo\xe3o a\xe7\xe3o"};
}

}  // namespace norvix::fuzz
