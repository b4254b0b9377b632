#include "Clinica.h"

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
    if (QString por; !dm_->PSetDataBaseName(banco_, &por))
        throw Error(QStringLiteral("Não foi possível conectar com o banco de dados %1.%2")
                        .arg(banco_, por.isEmpty() ? QString() : QLatin1Char(' ') + por));
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

std::unique_ptr<TMedidaOlho> Medidor::mede(const QByteArray& imagem) {
    auto olho = std::make_unique<TMedidaOlho>();
    olho->frente = imagem;
    HostStream fluxo(imagem);
    // Zeroed before the call, as the workflow does.
    std::fill(std::begin(olho->pupila), std::end(olho->pupila), 0);
    if (processamento_.ProcessaImagem(nullptr, fluxo, &olho->centroX, &olho->centroY, &olho->m, &olho->meridianos,
                                      &olho->d, &olho->pupila, &olho->indConf, &infos(), &paths()) != 1)
        throw Error(QStringLiteral("O módulo de processamento não mediu o olho simulado."));
    return olho;
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
