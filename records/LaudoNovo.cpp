#include "LaudoNovo.h"

#include <QFileInfo>

#include "ExameNovo.h"
#include "UArquivosExame.h"
#include "UDLaudos.h"
#include "UfrmDataModule.h"

namespace norvix {

int CodigoLaudoInserido(int paciente) {
    // RDB$RECORD_VERSION is the transaction that wrote the row's current version.
    return DMPrincipal().selectInt(
        QStringLiteral("SELECT MAX(Codigo) AS Codigo FROM Laudos WHERE Laudos.CodPaciente = :CodPaciente AND "
                       "RDB$RECORD_VERSION = CURRENT_TRANSACTION"),
        {{"CodPaciente", paciente}}, QStringLiteral("Codigo"), TDMPrincipal::Close::Yes);
}

int GravaLaudoNovo(const TLaudoNovo& l) {
    int codigo = 0;
    GravaTudoOuNada([&](TArquivosNovos& arquivos) {
        DLaudos().InsertLaudos(l.paciente, l.medidaOD, l.medidaOS, QString(), l.data, l.hora);
        codigo = CodigoLaudoInserido(l.paciente);
        if (codigo == 0)
            throw Error(QStringLiteral("O laudo do paciente %1 não foi encontrado depois de gravado.").arg(l.paciente));
        const QString caminho = CaminhoLaudo(QString::number(l.paciente), QString::number(codigo));
        arquivos.criaPasta(QFileInfo(caminho).path());
        arquivos.reserva(caminho);
        CamadaArquivos().GravaAtomico(caminho, TextoLaudo(l.caixas));
    });
    return codigo;
}

}  // namespace norvix
