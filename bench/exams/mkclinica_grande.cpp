// mkclinica_grande [--pacientes N] [--exames N] [--com-arquivos N] <installation root>
// Fills the empty database of an installation with a large clinic for the exam browser's
// benchmarks: by default 100,000 patients and 300,000 exams over twelve doctors, about 3% of
// them orthokeratology exams (four captures per eye), registrations over twelve years and exams
// after them up to today. Every row goes through the access classes in transactions of
// kLote rows. Only --com-arquivos topography exams (300 by default, spread evenly over the
// exam codes) get data files and stored images, measured from simulated eyes by the
// processing module; they are exactly the exams with an ARQUIVOS row. The same arguments
// always give the same clinic (the dates follow today's).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>
#include <set>
#include <vector>

#include "config/SharedRecords.h"
#include "outside/core/ExampleEyes.h"
#include "records/UDExames.h"
#include "records/UDMedicos.h"
#include "records/UDPacientes.h"
#include "records/UfrmDataModule.h"
#include "shell/setup/Clinica.h"

using namespace norvix;

namespace {

constexpr int kLote = 20000;  // rows per transaction: a large one, not an unbounded one

const char* const kMedicos[] = {
    "Dr. Alberto Nogueira Prado",    "Dra. Beatriz Sampaio Rocha",   "Dr. Caio Henrique Marins",
    "Dra. Débora Fagundes Lima",     "Dr. Eduardo Queiroz Teles",    "Dra. Fabíola Antunes Reis",
    "Dr. Gustavo Peixoto Andrade",   "Dra. Heloísa Bastos Moura",    "Dr. Ígor Valadares Pinto",
    "Dra. Juliana Coutinho Sá",      "Dr. Leonardo Brandão Vieira",  "Dra. Márcia Dantas Falcão",
};

const char* const kFemininos[] = {
    "Ana", "Maria", "Juliana", "Fernanda", "Patrícia", "Aline", "Camila", "Amanda", "Bruna", "Jéssica",
    "Letícia", "Júlia", "Luciana", "Vanessa", "Mariana", "Gabriela", "Vitória", "Larissa", "Cláudia",
    "Beatriz", "Raquel", "Sônia", "Márcia", "Débora", "Tânia", "Lúcia", "Conceição", "Francisca",
    "Antônia", "Adriana", "Rosângela", "Simone", "Daniela", "Cristiane", "Helena", "Isabela", "Lívia",
    "Natália", "Priscila", "Rafaela", "Sabrina", "Tatiane", "Yasmin", "Manuela", "Heloísa", "Cecília",
    "Iara", "Luíza", "Valéria", "Graça"};
const char* const kMasculinos[] = {
    "José", "João", "Antônio", "Francisco", "Carlos", "Paulo", "Pedro", "Lucas", "Luiz", "Marcos",
    "Luís", "Gabriel", "Rafael", "Daniel", "Marcelo", "Bruno", "Eduardo", "Felipe", "Raimundo", "Rodrigo",
    "Manoel", "Mateus", "André", "Fernando", "Fábio", "Leonardo", "Gustavo", "Guilherme", "Leandro",
    "Tiago", "Anderson", "Ricardo", "Márcio", "Jorge", "Sebastião", "Otávio", "Caio", "Vinícius", "Heitor",
    "Davi", "Arthur", "Bernardo", "Cauã", "Enzo", "Joaquim", "Nélson", "Sérgio", "Vítor", "Ângelo", "Benedito"};
const char* const kSobrenomes[] = {
    "Silva", "Santos", "Oliveira", "Souza", "Rodrigues", "Ferreira", "Alves", "Pereira", "Lima", "Gomes",
    "Costa", "Ribeiro", "Martins", "Carvalho", "Almeida", "Lopes", "Soares", "Fernandes", "Vieira",
    "Barbosa", "Rocha", "Dias", "Nascimento", "Andrade", "Moreira", "Nunes", "Marques", "Machado",
    "Mendes", "Freitas", "Cardoso", "Ramos", "Gonçalves", "Santana", "Teixeira", "Araújo", "Magalhães",
    "Conceição", "Leão", "Brandão", "Guimarães", "Assunção", "Simões", "Peçanha", "Sant'Anna", "D'Ávila",
    "Falcão", "Damião", "Romão", "Fontes", "Tavares", "Nóbrega", "Cavalcanti", "Albuquerque", "Vasconcelos",
    "Figueiredo", "Kimura", "Tanaka", "Yamamoto", "Schmidt", "Müller", "Rossi", "Bianchi", "Haddad"};
const char* const kComParticula[] = {"da Silva", "dos Santos", "de Oliveira", "de Souza", "da Costa", "de Almeida",
                                     "da Conceição", "de Jesus", "dos Reis", "de Lima", "do Nascimento", "de Assis",
                                     "das Neves", "de Magalhães", "da Rocha", "de Sant'Anna", "da Cruz", "de Paula"};
const char* const kCidades[] = {"São Paulo", "Guarulhos", "Campinas", "São Bernardo do Campo", "Santo André",
                                "Osasco", "Ribeirão Preto", "Sorocaba", "Mauá", "São José dos Campos",
                                "Mogi das Cruzes", "Diadema", "Jundiaí", "Piracicaba", "Carapicuíba"};
const char* const kConvenios[] = {"Particular", "Unimed", "Bradesco Saúde", "SulAmérica", "Amil",
                                  "NotreDame Intermédica", "Porto Seguro Saúde", "Cassi"};
const char* const kProfissoes[] = {"Estudante", "Professora", "Comerciante", "Engenheiro", "Aposentado",
                                   "Motorista", "Advogada", "Enfermeira", "Programador", "Do lar",
                                   "Vendedor", "Médica", "Eletricista", "Contadora", "Pedreiro"};
const char* const kSangue[] = {"O+", "A+", "B+", "AB+", "O-", "A-", "B-", "AB-"};
const char* const kDiagnosticos[] = {
    "Topografia dentro da normalidade.",
    "Astigmatismo regular a favor da regra.",
    "Astigmatismo regular contra a regra.",
    "Astigmatismo oblíquo.",
    "Córnea curva; acompanhar a evolução.",
    "Suspeita de ceratocone; repetir o exame em seis meses.",
    "Pós-operatório de cirurgia refrativa; zona óptica centrada.",
    "Adaptação de lente de contato rígida em andamento."};
const char* const kObservacoes[] = {"Controle anual.", "Paciente usa lentes de contato gelatinosas.",
                                    "Filme lacrimal instável; exame repetido.", "Encaminhado pelo clínico geral.",
                                    "Retorno em três meses."};

struct Exame {
    int paciente;  // index into the patients
    int medico;    // index into kMedicos
    QDateTime quando;
    bool esquerdo;
    bool orto;
    double indConf;
    int diag = -1, obs = -1;  // index into the texts, -1 for none
    double sag = 0, div = 0, raio = 0;
};

struct Paciente {
    QString nome;
    bool feminino;
    QDate nascimento, cadastro;
    int cidade, convenio, profissao, sangue;
    int exames = 0;
    int ultimo = -1;  // index of the newest exam
};

template <size_t N>
const char* umDe(std::mt19937_64& rng, const char* const (&lista)[N]) {
    return lista[std::uniform_int_distribution<size_t>(0, N - 1)(rng)];
}

QString nomeCompleto(std::mt19937_64& rng, bool feminino) {
    std::uniform_real_distribution<double> u(0, 1);
    QString nome = QString::fromUtf8(feminino ? umDe(rng, kFemininos) : umDe(rng, kMasculinos));
    if (u(rng) < 0.4) nome += QLatin1Char(' ') + QString::fromUtf8(feminino ? umDe(rng, kFemininos) : umDe(rng, kMasculinos));
    const int sobrenomes = u(rng) < 0.6 ? 2 : (u(rng) < 0.5 ? 1 : 3);
    for (int i = 0; i < sobrenomes; ++i) {
        const QString parte = QString::fromUtf8(u(rng) < 0.25 ? umDe(rng, kComParticula) : umDe(rng, kSobrenomes));
        if (nome.size() + 1 + parte.size() > 50) break;  // the NOME column holds 50 characters
        nome += QLatin1Char(' ') + parte;
    }
    return nome;
}

struct Opcoes {
    int pacientes = 100000;
    int exames = 300000;
    int comArquivos = 300;
    QString raiz;
};

// Counts of exams per patient (about one in eight without any, most a visit or two of both
// eyes, some many) that add up to exactly `total`.
std::vector<int> examesPorPaciente(std::mt19937_64& rng, int pacientes, int total) {
    std::vector<int> n(pacientes, 0);
    if (pacientes == 0) return n;
    std::uniform_real_distribution<double> u(0, 1);
    // Visits per patient with exams: 1 + a geometric count whose mean makes the total come out
    // close to what is asked; the rest is evened out one exam at a time.
    const double media = std::max(0.05, (double(total) / pacientes / 0.88 + 0.05) / 2 - 1);
    std::geometric_distribution<int> visitas(1 / (1 + media));
    long soma = 0;
    for (int& c : n) {
        c = u(rng) < 0.12 ? 0 : 2 * (1 + visitas(rng)) - (u(rng) < 0.1 ? 1 : 0);
        soma += c;
    }
    std::uniform_int_distribution<int> qualquer(0, pacientes - 1);
    while (soma != total) {
        int& c = n[qualquer(rng)];
        if (soma < total) {
            ++c;
            ++soma;
        } else if (c > 0) {
            --c;
            --soma;
        }
    }
    return n;
}

void usoEFim(const char* motivo) {
    std::fprintf(stderr,
                 "mkclinica_grande: %s\nUso: mkclinica_grande [--pacientes N] [--exames N] [--com-arquivos N] "
                 "<raiz da instalação>\n",
                 motivo);
    std::exit(2);
}

Opcoes leOpcoes(const QStringList& args) {
    Opcoes o;
    for (int i = 1; i < args.size(); ++i) {
        int* alvo = nullptr;
        if (args[i] == QLatin1String("--pacientes")) alvo = &o.pacientes;
        else if (args[i] == QLatin1String("--exames")) alvo = &o.exames;
        else if (args[i] == QLatin1String("--com-arquivos")) alvo = &o.comArquivos;
        if (!alvo) {
            if (!o.raiz.isEmpty()) usoEFim("argumento a mais.");
            o.raiz = args[i];
            continue;
        }
        bool ok = false;
        *alvo = args.value(++i).toInt(&ok);
        if (!ok || *alvo < 0) usoEFim("número inválido.");
    }
    if (o.raiz.isEmpty()) usoEFim("falta a raiz da instalação.");
    if (o.exames > 0 && o.pacientes == 0) usoEFim("exames sem pacientes.");
    return o;
}

// fn(0) .. fn(n - 1), committed every kLote calls.
template <class F>
void emLotes(size_t n, F fn) {
    for (size_t inicio = 0; inicio < n; inicio += kLote) {
        TDMPrincipal::Batch lote(DMPrincipal());
        for (size_t k = inicio; k < std::min(n, inicio + kLote); ++k) fn(k);
        lote.commit();
    }
}

void confere(bool ok, const char* oque) {
    if (!ok) throw Error(QStringLiteral("Os códigos de %1 não seguiram o gerador.").arg(QString::fromUtf8(oque)));
}

// Writes the database without waiting for the disk at every page (gfix -write async) while the
// clinic is made, and restores the forced writes after the data module has disconnected,
// on the way out of an error as well. The engine's forced writes make a bulk load of this size
// spend most of its time waiting (about six times as long on the development machine), and
// no operation of the records layer switches them. Takes the installation connected to its
// empty database (a refused database is never touched), and connects it again.
class EscritaAssincrona {
public:
    explicit EscritaAssincrona(clinica::Instalacao& instalacao)
        : instalacao_(instalacao), gfix_(QStandardPaths::findExecutable(QStringLiteral("gfix"))) {
        instalacao_.desconecta();  // gfix needs the file to itself
        ativa_ = !gfix_.isEmpty() && gfix(QStringLiteral("async"));
        if (!ativa_)
            std::fprintf(stderr, "mkclinica_grande: não foi possível desligar a escrita forçada (gfix); a carga fica mais "
                                 "lenta.\n");
        try {
            instalacao_.conectaBancoVazio();
        } catch (...) {
            restaura();
            throw;
        }
    }
    ~EscritaAssincrona() {
        instalacao_.desconecta();
        restaura();
    }

private:
    void restaura() {
        if (ativa_ && !gfix(QStringLiteral("sync")))
            std::fprintf(stderr, "mkclinica_grande: não foi possível restaurar a escrita forçada do banco %s "
                                 "(gfix -write sync).\n",
                         qPrintable(instalacao_.banco()));
        ativa_ = false;
    }
    bool gfix(const QString& modo) const {
        QProcess p;
        p.start(gfix_, {QStringLiteral("-user"), QStringLiteral("sysdba"), QStringLiteral("-write"), modo,
                        instalacao_.banco()});
        return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
    clinica::Instalacao& instalacao_;
    QString gfix_;
    bool ativa_ = false;
};

int executa(const Opcoes& o) {
    QElapsedTimer relogio;
    relogio.start();
    clinica::Instalacao instalacao(o.raiz);
    instalacao.conectaBancoVazio();
    EscritaAssincrona assincrona(instalacao);
    clinica::Medidor medidor;
    std::mt19937_64 rng(20260101);
    std::uniform_real_distribution<double> u(0, 1);
    const QDate hoje = QDate::currentDate();

    // ---- the clinic in memory ----
    std::vector<Paciente> pacientes(o.pacientes);
    const std::vector<int> contagem = examesPorPaciente(rng, o.pacientes, o.exames);
    // Each doctor's share differs, as in a clinic; a patient returns mostly to the same one.
    std::discrete_distribution<int> medicoPrincipal({9, 7, 12, 5, 8, 3, 10, 6, 4, 11, 2, 6});
    std::vector<Exame> exames;
    exames.reserve(o.exames);
    for (int i = 0; i < o.pacientes; ++i) {
        Paciente& p = pacientes[i];
        p.feminino = u(rng) < 0.55;
        p.nome = nomeCompleto(rng, p.feminino);
        p.nascimento = hoje.addDays(-std::uniform_int_distribution<int>(4 * 365, 90 * 365)(rng));
        p.cidade = int(rng() % std::size(kCidades));
        p.convenio = int(rng() % std::size(kConvenios));
        p.profissao = int(rng() % std::size(kProfissoes));
        p.sangue = int(rng() % std::size(kSangue));

        // The visits: orthokeratology (four captures per eye) for some young patients with
        // many exams, otherwise both eyes or now and then one.
        const bool ortoceratologia = contagem[i] >= 8 && p.nascimento.daysTo(hoje) < 25 * 365 && u(rng) < 0.75;
        std::vector<int> visitas;
        for (int resta = contagem[i]; resta > 0; resta -= visitas.back())
            visitas.push_back(ortoceratologia && resta >= 8 ? 8 : (resta == 1 || u(rng) < 0.08 ? 1 : 2));
        // Registered up to twelve years ago, the first visit within two months of it, each
        // visit on a day of its own (so the workflow's lookup by patient, doctor, date and time
        // finds each exam alone); a patient with many visits is registered early enough.
        const int dias = std::max(std::uniform_int_distribution<int>(0, 12 * 365)(rng), 2 * int(visitas.size()));
        p.cadastro = hoje.addDays(-dias);
        std::set<int> desvios;
        if (!visitas.empty()) desvios.insert(std::uniform_int_distribution<int>(0, std::min(60, dias))(rng));
        while (desvios.size() < visitas.size()) desvios.insert(std::uniform_int_distribution<int>(0, dias)(rng));
        const int medico = medicoPrincipal(rng);
        auto dia = desvios.begin();
        for (size_t v = 0; v < visitas.size(); ++v, ++dia) {
            QDateTime t(p.cadastro.addDays(*dia), QTime(7, 30).addSecs(std::uniform_int_distribution<int>(0, 10 * 3600)(rng)));
            const int m = u(rng) < 0.85 ? medico : int(rng() % std::size(kMedicos));
            const int diag = u(rng) < 0.3 ? int(rng() % std::size(kDiagnosticos)) : -1;
            const int obs = u(rng) < 0.1 ? int(rng() % std::size(kObservacoes)) : -1;
            const bool orto = visitas[v] == 8;
            const bool primeiroEsquerdo = visitas[v] == 1 && u(rng) < 0.5;
            for (int k = 0; k < visitas[v]; ++k) {
                Exame e{i, m, t, orto ? k >= 4 : (k == 1 || primeiroEsquerdo), orto, 80 + 19.9 * u(rng), diag, obs};
                if (orto) {
                    e.sag = 1.8 + 0.5 * u(rng);
                    e.div = -3.5 * u(rng);
                    e.raio = 7.4 + 0.9 * u(rng);
                }
                exames.push_back(e);
                // The captures of one eye a second or two apart, as the workflow stores them;
                // the other eye a few minutes later.
                t = t.addSecs(orto && k != 3 ? 1 + int(rng() % 2) : 60 + int(rng() % 180));
            }
        }
    }
    // Patient codes follow the registration dates, exam codes the exam dates.
    std::vector<int> ordem(o.pacientes), posicao(o.pacientes);
    std::iota(ordem.begin(), ordem.end(), 0);
    std::stable_sort(ordem.begin(), ordem.end(),
                     [&](int a, int b) { return pacientes[a].cadastro < pacientes[b].cadastro; });
    for (int r = 0; r < o.pacientes; ++r) posicao[ordem[r]] = r;
    std::stable_sort(exames.begin(), exames.end(), [](const Exame& a, const Exame& b) { return a.quando < b.quando; });
    for (size_t k = 0; k < exames.size(); ++k) {
        Paciente& p = pacientes[exames[k].paciente];
        ++p.exames;
        p.ultimo = int(k);
    }
    const double gerado = relogio.elapsed() / 1000.0;

    // ---- rows, through the access classes ----
    const QString tipoCone = recordText(infos().TipoCone);
    std::vector<int> medicos;
    {
        TDMPrincipal::Batch lote(DMPrincipal());
        int n = 0;
        for (const char* nome : kMedicos) {
            const QString d = QString::number(++n % 10);
            DMedicos().InsertMedicos(QString::fromUtf8(nome), "3" + d + ".111.222-" + d, clinica::cpf(200000000u + 17u * n),
                                     "CRM-SP " + QString::number(40000 + 731 * n), n % 2 ? "M" : "F", "C", "", "",
                                     "São Paulo", "SP", "", "", "Rua Augusta, " + QString::number(100 + n), "",
                                     "Consolação", "São Paulo", "SP", "01305-000", "113255" + d + "00", "");
            medicos.push_back(DMedicos().GenIdMedicos());
        }
        lote.commit();
    }

    int codPaciente1 = 0;
    emLotes(ordem.size(), [&](size_t r) {
        const int i = ordem[r];
        const Paciente& p = pacientes[i];
        const QString d = QString::number(i % 10), cidade = QString::fromUtf8(kCidades[p.cidade]);
        DPacientes().InsertPacientes(
            p.nome,
            QString::number(10 + i % 80) + "." + QString::number(100 + i % 900) + "." +
                QString::number(100 + (i / 7) % 900) + "-" + d,
            clinica::cpf(100000000u + 7919u * quint32(i)), p.feminino ? "F" : "M", i % 3 ? "C" : "S", "",
            p.nascimento.toString(QStringLiteral("dd/MM/yyyy")), cidade, "SP", "", "",
            "Rua " + QString::fromUtf8(kSobrenomes[i % std::size(kSobrenomes)]) + ", " + QString::number(1 + i % 2000),
            "", "Centro", cidade, "SP", "0" + d + "000-" + QString::number(100 + i % 900),
            "11" + QString::number(30000000 + i % 60000000), "119" + QString::number(10000000 + i % 90000000),
            QString::fromUtf8(kConvenios[p.convenio]), QString::fromUtf8(kProfissoes[p.profissao]), kSangue[p.sangue],
            p.cadastro, p.exames);
        if (r == 0) codPaciente1 = DPacientes().GenIdPacientes();
    });
    confere(o.pacientes == 0 || DPacientes().GenIdPacientes() == codPaciente1 + o.pacientes - 1, "pacientes");
    auto codigoPaciente = [&](int i) { return codPaciente1 + posicao[i]; };

    int codExame1 = 0;
    emLotes(exames.size(), [&](size_t k) {
        const Exame& e = exames[k];
        DExames().InsertExames(codigoPaciente(e.paciente), medicos[e.medico], e.quando.date(), e.quando.time(),
                               e.esquerdo ? "OS" : "OD", e.indConf, e.orto ? "O" : "T", "",
                               e.diag < 0 ? "" : kDiagnosticos[e.diag], e.obs < 0 ? "" : kObservacoes[e.obs],
                               infos().NumAneis, tipoCone);
        if (k == 0) codExame1 = DExames().GenIdExames();
    });
    confere(exames.empty() || DExames().GenIdExames() == codExame1 + int(exames.size()) - 1, "exames");

    // Orthokeratology values rounded to four decimals, as the workflow stores them.
    std::vector<int> ortos;
    for (size_t k = 0; k < exames.size(); ++k)
        if (exames[k].orto) ortos.push_back(int(k));
    auto quatroCasas = [](double v) { return std::round(v * 1e4) / 1e4; };
    emLotes(ortos.size(), [&](size_t j) {
        const Exame& e = exames[ortos[j]];
        DExames().InsertExamesOrto(codExame1 + ortos[j], quatroCasas(e.div), 0, quatroCasas(e.raio), quatroCasas(e.sag));
    });

    std::vector<int> comExames;
    for (int i : ordem)
        if (pacientes[i].ultimo >= 0) comExames.push_back(i);
    emLotes(comExames.size(), [&](size_t j) {
        const Paciente& p = pacientes[comExames[j]];
        const Exame& e = exames[p.ultimo];
        DPacientes().UpdateExamesPacientesByCodigo(
            codigoPaciente(comExames[j]),
            TextoUltimoExame(e.esquerdo ? "OS" : "OD", e.quando.date(), e.quando.time()), p.exames);
    });
    const double linhas = relogio.elapsed() / 1000.0 - gerado;

    // ---- data files and images of a few hundred exams ----
    std::vector<size_t> topografias;
    for (size_t k = 0; k < exames.size(); ++k)
        if (!exames[k].orto) topografias.push_back(k);
    const int comArquivos = std::min<int>(o.comArquivos, int(topografias.size()));
    if (comArquivos > 0) {
        using outside::cornea;
        const sim::Target direitos[] = {cornea(7.75, 7.70, 95, -0.22), cornea(7.95, 7.50, 5, -0.25),
                                        cornea(7.90, 7.52, 90, -0.25), cornea(7.0, 6.88, 100, -0.35)};
        std::vector<clinica::Captura> capturas;
        for (const sim::Target& t : direitos)
            for (bool esquerdo : {false, true}) capturas.push_back({outside::mirrored(t, esquerdo), uint32_t(capturas.size() + 1)});
        const std::vector<QByteArray> imagens = clinica::capturaSimulada(capturas);
        std::vector<std::unique_ptr<TMedidaOlho>> olhos;
        for (const QByteArray& imagem : imagens) olhos.push_back(medidor.mede(imagem));
        GravaTudoOuNada([&](TArquivosNovos& arquivos) {
            for (int j = 0; j < comArquivos; ++j) {
                const size_t k = topografias[size_t(j) * topografias.size() / size_t(comArquivos)];
                const Exame& e = exames[k];
                const int paciente = codigoPaciente(e.paciente);
                const int codigo = CodigoDoExame(paciente, medicos[e.medico], e.quando.date(), e.quando.time());
                confere(codigo == codExame1 + int(k), "exames");
                GravaArquivosDoExame(paciente, codigo, *olhos[2 * (j % 4) + e.esquerdo], arquivos);
            }
        });
    }
    const double total = relogio.elapsed() / 1000.0;
    std::printf("mkclinica_grande: %d pacientes, %zu médicos, %zu exames (%zu de ortoceratologia), %d com arquivos, "
                "em %s\n  tempo: %.1f s (geração %.1f s, linhas %.1f s = %.0f linhas/s, arquivos %.1f s)\n",
                o.pacientes, std::size(kMedicos), exames.size(), ortos.size(), comArquivos, qPrintable(instalacao.banco()),
                total, gerado, linhas, (o.pacientes + comExames.size() + exames.size() + ortos.size()) / std::max(linhas, 1e-3),
                total - gerado - linhas);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const Opcoes o = leOpcoes(app.arguments());
    try {
        return executa(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mkclinica_grande: %s\n", e.what());
        return 1;
    }
}
