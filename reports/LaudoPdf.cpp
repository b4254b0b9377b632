#include "reports/LaudoPdf.h"

#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>

#include "config/SharedRecords.h"
#include "platform/Cp1252.h"
#include "reports/Lacunas.h"
#include "reports/UfrmLauRelat.h"
#include "records/UArquivosExame.h"
#include "records/UDExames.h"
#include "records/UDLaudos.h"
#include "records/UDPacientes.h"

namespace norvix {

namespace {

// "OD - dd/MM/yyyy HH:mm:ss" as the editor heads the report; empty without that eye's exam.
QString linhaDoExame(const QString& olho, const std::optional<TExame>& exame) {
    if (!exame) return {};
    return olho + QStringLiteral(" - ") + exame->data.toString(QStringLiteral("dd/MM/yyyy")) + QLatin1Char(' ') +
           exame->hora.toString(QStringLiteral("HH:mm:ss"));
}

std::optional<TExame> exameDe(int codigo) {
    return codigo > 0 ? DExames().SelectExameByCodigo(codigo) : std::nullopt;
}

}  // namespace

std::optional<QByteArray> imprimeLaudoSalvo(int codigoLaudo, QString* erro) {
    auto falha = [&](const QString& porque) {
        if (erro) *erro = porque;
        return std::nullopt;
    };
    TDadosRelat dados;
    std::array<QStringList, 5> linhas;
    try {
        const std::optional<TLaudo> laudo = DLaudos().SelectLaudoByCodigo(codigoLaudo);
        if (!laudo) return falha(QStringLiteral("laudo não encontrado."));
        const std::optional<TExame> od = exameDe(laudo->medidaOD), os = exameDe(laudo->medidaOS);
        QByteArray arquivo = LeArquivoDados(CaminhoLaudo(QString::number(laudo->paciente), QString::number(laudo->codigo)));
        // A report file saved as UTF-8 by another program, read as the wizard reads it.
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString comoUtf8 = utf8(arquivo);
        if (!utf8.hasError() && comoUtf8.size() < arquivo.size()) arquivo = toCp1252(comoUtf8);
        linhas = LeLaudo(arquivo).Linhas;
        dados.logo = TfrmLauRelat::CarregaLogo(recordText(paths().DirQV) + QStringLiteral("/LogoClinica.bmp"));
        dados.nomeCli = recordText(infos().Nome);
        dados.enderecoCli = recordText(infos().Endereco);
        dados.cidadeEst = recordText(infos().CidadeEst);
        dados.fone = recordText(infos().Telefone);
        dados.nomePac = DPacientes().SelectNomeByCodigo(laudo->paciente);
        dados.nomeMed = od && !od->nomeMedico.isEmpty() ? od->nomeMedico : os ? os->nomeMedico : QString();
        dados.dataEmissao = laudo->data.toString(QStringLiteral("dd/MM/yyyy")) + QLatin1Char(' ') +
                            laudo->hora.toString(QStringLiteral("HH:mm:ss"));
        dados.exames = linhaDoExame(QStringLiteral("OD"), od) + QStringLiteral("  ") + linhaDoExame(QStringLiteral("OS"), os);
    } catch (const std::exception& e) {
        return falha(QString::fromUtf8(e.what()));
    }
    dados.tipoMapa = QStringLiteral("Mapa Tipo Axial");
    // The editor shows each section as its lines joined after a blank, and prints it resolved.
    for (size_t i = 0; i < 5; ++i) {
        QString caixa;
        for (const QString& linha : linhas[i]) caixa += QLatin1Char(' ') + linha;
        dados.secoes[i] = TextoImpresso(caixa);
    }
    QTemporaryDir pasta;
    const QString caminho = pasta.filePath(QStringLiteral("laudo.pdf"));
    try {
        TfrmLauRelat(std::move(dados)).GravaPdf(caminho);
    } catch (const std::exception& e) {
        return falha(QString::fromUtf8(e.what()));
    }
    QFile pdf(caminho);
    if (!pdf.open(QIODevice::ReadOnly)) return falha(QStringLiteral("o PDF do laudo não pôde ser lido."));
    return pdf.readAll();
}

}  // namespace norvix
