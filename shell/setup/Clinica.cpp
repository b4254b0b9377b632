#include "Clinica.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <thread>

#include "UStartUp.h"
#include "capture/sim/Bmp32.h"
#include "config/SharedRecords.h"
#include "config/UBIniSettings.h"
#include "modules/HostStream.h"
#include "records/UArquivosExame.h"
#include "records/UBJpeg.h"
#include "records/UDArquivos.h"
#include "records/UDExames.h"
#include "records/UDMedicos.h"
#include "records/UDPacientes.h"
#include "records/UfrmDataModule.h"

namespace norvix::clinica {

namespace {

// The workstation always runs as this model with this many rings (the start-up sets both).
constexpr int kModelo = 3;
constexpr uint8_t kAneis = 32;

int tipoConeDasConfiguracoes() {
    bool ok = false;
    const int tipo = recordText(infos().TipoCone).trimmed().toInt(&ok);
    if (!ok || !sim::InstrumentModel::cone(tipo))
        throw Error(QStringLiteral("Tipo de cone inválido na configuração: \"%1\".")
                        .arg(recordText(infos().TipoCone)));
    return tipo;
}

}  // namespace

Instalacao::Instalacao(const QString& raiz, const QString& banco) {
    // The settings are looked for where the program looks: under NORVIX_ROOT.
    qputenv("NORVIX_ROOT", QFile::encodeName(QDir(raiz).absolutePath()));
    settings_ = std::make_unique<TBIniSettings>();
    const QString esperado = TBIniSettings::CandidateFiles(kModelo).value(0);
    // The second candidate lies beside the program: another installation's settings.
    if (!settings_->LoadAll(kModelo) || settings_->FileName() != esperado)
        throw Error(QStringLiteral("Arquivo de configuração não encontrado: %1.").arg(esperado));
    infos().InstrumentModel = kModelo;
    infos().NumAneis = kAneis;
    fillSharedRecords(*settings_);

    banco_ = banco.isEmpty() ? recordText(paths().BancoDados) + QStringLiteral("/DATABASE.GDB") : banco;
    if (!QFileInfo(banco_).isFile())
        throw Error(QStringLiteral("Banco de dados não encontrado: %1.").arg(banco_));
}

Instalacao::~Instalacao() = default;

void Instalacao::conectaBancoVazio() {
    dm_ = std::make_unique<TDMPrincipal>();
    if (!dm_->PSetDataBaseName(banco_))
        throw Error(QStringLiteral("Não foi possível conectar com o banco de dados %1.").arg(banco_));
    if (DPacientes().CountPacientes() > 0 || DMedicos().CountMedicos() > 0 || DExames().CountExames() > 0)
        throw Error(QStringLiteral("O banco de dados %1 já tem pacientes, médicos ou exames: a "
                                   "clínica só é criada num banco novo.")
                        .arg(banco_));
}

void Instalacao::desconecta() { dm_.reset(); }

std::vector<QByteArray> capturaSimulada(const std::vector<Captura>& capturas) {
    const int cone = tipoConeDasConfiguracoes();
    // The first frame of a target is traced pixel by pixel (a fraction of a second); later
    // frames of it only add noise. So each target is traced once, and the targets are shared
    // out among the processor's cores, one renderer each.
    std::vector<std::vector<size_t>> porAlvo;
    for (size_t i = 0; i < capturas.size(); ++i) {
        auto mesmo = std::find_if(porAlvo.begin(), porAlvo.end(),
                                  [&](const auto& g) { return capturas[g.front()].alvo == capturas[i].alvo; });
        if (mesmo == porAlvo.end())
            porAlvo.push_back({i});
        else
            mesmo->push_back(i);
    }
    std::vector<QByteArray> quadros(capturas.size());
    std::atomic<size_t> proximo{0};
    auto trabalho = [&] {
        sim::Renderer renderer(cone);
        QImage quadro;
        for (size_t g; (g = proximo++) < porAlvo.size();) {
            for (size_t i : porAlvo[g]) {
                renderer.liveFrame(capturas[i].alvo, capturas[i].quadro, &quadro);
                if (!quadro.isNull()) quadros[i] = sim::encodeBmp32(quadro);
            }
        }
    };
    {
        const size_t nucleos = std::max(1u, std::thread::hardware_concurrency());
        std::vector<std::jthread> ajudantes;
        for (size_t k = 1; k < std::min(nucleos, porAlvo.size()); ++k) ajudantes.emplace_back(trabalho);
        trabalho();
    }
    for (const QByteArray& q : quadros)
        if (q.isEmpty()) throw Error(QStringLiteral("O instrumento simulado não produziu a imagem."));
    return quadros;
}

Medidor::Medidor() {
    const QString modulo = recordText(paths().Processamento);
    if (!processamento_.LoadModule(modulo))
        throw Error(QStringLiteral("Não foi possível carregar o módulo de processamento %1.").arg(modulo));
}

Medidor::~Medidor() { processamento_.ReleaseModule(); }

std::unique_ptr<OlhoMedido> Medidor::mede(const QByteArray& imagem) {
    auto olho = std::make_unique<OlhoMedido>();
    olho->imagem = imagem;
    HostStream fluxo(imagem);
    // Zeroed before the call, as the workflow does.
    std::fill(std::begin(olho->pupila), std::end(olho->pupila), 0);
    if (processamento_.ProcessaImagem(nullptr, fluxo, &olho->centroX, &olho->centroY, &olho->m, &olho->meridianos,
                                      &olho->d, &olho->pupila, &olho->indConf, &infos(), &paths()) != 1)
        throw Error(QStringLiteral("O módulo de processamento não mediu o olho simulado."));
    return olho;
}

void ArquivosNovos::reserva(const QString& caminho) {
    if (QFileInfo::exists(caminho))
        throw Error(QStringLiteral("O arquivo %1 já existe e não foi substituído.").arg(caminho));
    caminhos_ << caminho;
}

void ArquivosNovos::removeTodos() {
    for (const QString& c : std::as_const(caminhos_)) {
        QFile::remove(c);
        QDir().rmdir(QFileInfo(c).path());  // only when this run left it empty
    }
    caminhos_.clear();
}

QString textoUltimoExame(const QString& olho, const QDate& data, const QTime& hora) {
    return olho + QLatin1Char(' ') + data.toString(QStringLiteral("dd/MM/yyyy")) + QLatin1Char(' ') +
           hora.toString(QStringLiteral("HH:mm:ss"));
}

int codigoDoExame(int paciente, int medico, const QDate& data, const QTime& hora) {
    return DMPrincipal().selectInt(
        QStringLiteral("SELECT Codigo FROM Exames WHERE Exames.CodPaciente = :CodPac AND Exames.CodResp = "
                       ":CodMed AND Exames.Data = :Data AND Exames.Hora = :Hora"),
        {{"CodPac", paciente}, {"CodMed", medico}, {"Data", data}, {"Hora", hora}}, QStringLiteral("Codigo"),
        TDMPrincipal::Close::Yes);
}

void gravaArquivosDoExame(int paciente, int codigo, const OlhoMedido& olho, ArquivosNovos& arquivos) {
    const QString pasta = recordText(paths().Exames) + QLatin1Char('/') + QString::number(paciente);
    if (!QDir().mkpath(pasta)) throw Error(QStringLiteral("Não foi possível criar a pasta %1.").arg(pasta));
    for (char letra : {'d', 'm', 'a'}) arquivos.reserva(CaminhoArquivoExame(paciente, codigo, letra));
    GravaArquivoD(paciente, codigo, olho.d);
    GravaArquivoM(paciente, codigo, olho.m);
    GravaArquivoA(paciente, codigo, olho.meridianos, olho.centroX, olho.centroY, olho.pupila);

    // The simulated instrument, like the capture module, fills the front stream only: the
    // lateral image stays empty and so does its blob.
    QBuffer central, lateral;
    central.open(QIODevice::ReadWrite);
    lateral.open(QIODevice::ReadWrite);
    if (infos().sImagemCentral) {
        QBuffer frente;
        frente.setData(olho.imagem);
        frente.open(QIODevice::ReadOnly);
        TBJpeg().CompactaImagem(frente, infos().QualidadeImagem)->SaveToStream(central);
        central.seek(0);
    }
    DArquivos().InsertArquivos(codigo, central, lateral);
}

int gravaExame(const ExameNovo& e, const OlhoMedido& olho, ArquivosNovos& arquivos) {
    const int total = DPacientes().SelectTotalExamesByCodigo(e.paciente);
    DExames().InsertExames(e.paciente, e.medico, e.data, e.hora, e.olho, olho.indConf, QStringLiteral("T"),
                           QString(), e.diag, e.observacao, infos().NumAneis, recordText(infos().TipoCone));
    const int codigo = codigoDoExame(e.paciente, e.medico, e.data, e.hora);
    if (codigo == 0)
        throw Error(QStringLiteral("O exame do paciente %1 não foi encontrado depois de gravado.").arg(e.paciente));

    gravaArquivosDoExame(e.paciente, codigo, olho, arquivos);
    DPacientes().UpdateExamesPacientesByCodigo(e.paciente, textoUltimoExame(e.olho, e.data, e.hora), total + 1);
    return codigo;
}

QString cpf(quint32 base) {
    QString digitos = QStringLiteral("%1").arg(base % 1000000000u, 9, 10, QLatin1Char('0'));
    for (int n = 9; n <= 10; ++n) {
        int soma = 0;
        for (int i = 0; i < n; ++i) soma += digitos[i].digitValue() * (n + 1 - i);
        const int resto = soma % 11;
        digitos += QChar(u'0' + (resto < 2 ? 0 : 11 - resto));
    }
    return digitos;
}

}  // namespace norvix::clinica
