#include "UDArquivos.h"

#include <QBuffer>

#include "UfrmDataModule.h"

namespace norvix {

namespace {

QByteArray conteudoInteiro(QIODevice& fluxo) {
    if (auto* memoria = qobject_cast<QBuffer*>(&fluxo)) return memoria->data();
    if (!fluxo.isReadable() || !fluxo.seek(0))
        throw Error(QStringLiteral("Não foi possível ler a imagem a gravar (%1).")
                        .arg(fluxo.errorString()));
    return fluxo.readAll();
}

void substitui(QBuffer& fluxo, const QByteArray& dados) {
    const QIODevice::OpenMode modo =
        fluxo.isOpen() ? fluxo.openMode() : QIODevice::OpenMode(QIODevice::ReadWrite);
    fluxo.close();
    fluxo.setData(dados);
    fluxo.open(modo);
    fluxo.seek(0);
}

}  // namespace

TDArquivos& DArquivos() {
    static TDArquivos instancia;
    return instancia;
}

void TDArquivos::InsertArquivos(int Codigo_Exames, QIODevice& Central, QIODevice& Lateral) {
    DMPrincipal().execProcedure(
        "Execute Procedure InsertArquivos  :Codigo_Exames,:Imagem_Central,:Imagem_Lateral",
        {{"Codigo_Exames", Codigo_Exames},
         {"Imagem_Central", conteudoInteiro(Central)},
         {"Imagem_Lateral", conteudoInteiro(Lateral)}});
}

void TDArquivos::SelectImagensByExame(int CodExame, QBuffer& Central, QBuffer& Lateral) {
    TDMPrincipal& dm = DMPrincipal();
    FbQuery& q = dm.openQuery(
        dm.IBOperation,
        "SELECT Imagem_Central,Imagem_Lateral FROM Arquivos WHERE Codigo_Exames=:CodExame",
        {{"CodExame", CodExame}});
    // An exam stored without its images has no row: both streams empty.
    const bool linha = q.recNo() >= 0;
    const QByteArray central = linha ? q.asBytes(QStringLiteral("Imagem_Central")) : QByteArray();
    const QByteArray lateral = linha ? q.asBytes(QStringLiteral("Imagem_Lateral")) : QByteArray();
    q.close();
    substitui(Central, central);
    substitui(Lateral, lateral);
}

}  // namespace norvix
