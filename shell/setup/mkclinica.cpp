// mkclinica <installation root> [database file]
// Fills a new demonstration database with a small clinic: three doctors, twelve patients (three
// without exams) and exams of both eyes captured by the simulated instrument, measured by the
// processing module of the settings and stored as the new-exam workflow stores them, over the
// two years before today. Refuses a database that already holds records, and never replaces
// an exam file: then nothing is written. All rows go in one transaction; a failure takes back
// the rows and the files this run wrote.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "Clinica.h"
#include "outside/core/ExampleEyes.h"
#include "records/UDMedicos.h"
#include "records/UDPacientes.h"
#include "records/UfrmDataModule.h"

using namespace norvix;
using norvix::outside::cornea;
using norvix::outside::mirrored;

namespace {

struct Medico {
    const char* nome;
    const char* crm;
    const char* sexo;
    const char* celular;
};

const Medico kMedicos[] = {
    {"Dra. Helena Vasconcelos Brandão", "CRM-SP 112233", "F", "11998761234"},
    {"Dr. Ricardo Tavares Nóbrega", "CRM-SP 98765", "M", "11987652345"},
    {"Dra. Luíza Carvalho Menezes", "CRM-SP 135790", "F", "11976543456"},
};

// One visit: both eyes (or one) on one day, with the doctor who examined them.
struct Consulta {
    int diasAtras;
    const char* hora;  // of the right eye; the left one follows three minutes later
    int medico;        // index in kMedicos
    const char* olhos; // "OD OS", "OD" or "OS"
    const char* diag = "";
    const char* obs = "";
};

enum class Cornea { Normal, AFavor, Contra, Curva };

struct Paciente {
    const char* nome;
    const char* sexo;
    const char* estadoCivil;
    const char* nascimento;
    const char* cidade;
    const char* convenio;
    const char* profissao;
    const char* tipoSang;
    int cadastroDiasAtras;  // registered on that day (before the first visit)
    Cornea cornea;
    double variacao;        // 0..1: how this patient's cornea differs from the others alike
    std::vector<Consulta> consultas;
};

const char* const kNormal = "Topografia dentro da normalidade em ambos os olhos.";
const char* const kAFavor = "Astigmatismo regular a favor da regra; eixo plano próximo de 180°.";
const char* const kContra = "Astigmatismo regular contra a regra; eixo plano próximo de 90°.";
const char* const kCurva = "Córnea curva (ceratometria média acima de 47 D); acompanhar a evolução.";

// Names with accents, apostrophes and one that fills the 50 characters of the NOME column;
// the last three have no exam yet.
const std::vector<Paciente>& pacientes() {
    static const std::vector<Paciente> lista = {
        {"Ana Beatriz Gonçalves", "F", "C", "14/03/1988", "São Paulo", "Unimed", "Arquiteta", "A+", 700,
         Cornea::Normal, 0.2,
         {{690, "09:12:40", 0, "OD OS", kNormal}, {320, "14:05:11", 0, "OD OS", "", "Controle anual."}}},
        {"José Antônio da Conceição", "M", "C", "02/11/1961", "Guarulhos", "Bradesco Saúde", "Motorista", "O+",
         560, Cornea::AFavor, 0.5,
         {{540, "10:31:02", 1, "OD OS", kAFavor},
          {180, "08:47:55", 1, "OD OS", kAFavor, "Óculos novos há dois meses."},
          {12, "16:20:09", 1, "OD"}}},
        {"Maria das Graças Sant'Anna", "F", "V", "21/07/1955", "Santo André", "Particular", "Professora aposentada",
         "B+", 430, Cornea::Contra, 0.4, {{420, "11:02:37", 2, "OD OS", kContra}}},
        {"Antônio Carlos de Albuquerque Cavalcanti Magalhães", "M", "C", "30/01/1972", "Campinas", "SulAmérica",
         "Engenheiro civil", "AB+", 610, Cornea::Normal, 0.7,
         {{600, "15:44:18", 0, "OD OS"}, {95, "09:58:03", 1, "OD OS", kNormal}}},
        {"Thiago Araújo Leão", "M", "S", "09/09/1999", "Osasco", "Amil", "Estudante", "O-", 260, Cornea::Curva,
         0.3,
         {{250, "13:16:45", 1, "OD OS", kCurva,
           "Usa lentes de contato gelatinosas; suspendeu o uso três dias antes do exame."},
          {30, "13:40:27", 1, "OD OS", kCurva}}},
        {"Letícia Camargo Peçanha", "F", "S", "18/05/2004", "São Bernardo do Campo", "Unimed", "Estudante", "A-",
         150, Cornea::AFavor, 0.1, {{150, "17:05:50", 2, "OD OS"}}},
        {"Iara Kimura Tanaka", "F", "D", "03/12/1979", "São Paulo", "Porto Seguro Saúde", "Farmacêutica", "B-",
         500, Cornea::Contra, 0.8, {{480, "08:15:33", 0, "OD OS", kContra}}},
        {"João Pedro D'Ávila", "M", "S", "25/06/2012", "Jundiaí", "NotreDame Intermédica", "Estudante", "A+", 61,
         Cornea::Normal, 0.9,
         {{60, "10:10:10", 2, "OD OS", "", "Criança colaborativa; o olho esquerdo foi capturado duas vezes."}}},
        {"Cauã Ribeiro Fontes", "M", "S", "11/02/1993", "Mogi das Cruzes", "Particular", "Programador", "O+", 5,
         Cornea::Curva, 0.6, {{5, "11:48:21", 0, "OD OS", "", "Encaminhado para avaliação de ceratocone."}}},
        {"Fernanda Lopes Magalhães", "F", "C", "07/08/1984", "São Paulo", "Amil", "Advogada", "AB-", 40,
         Cornea::Normal, 0, {}},
        {"Raimundo Nonato Brito", "M", "V", "19/04/1948", "Diadema", "Particular", "Comerciante aposentado", "O+",
         20, Cornea::Normal, 0, {}},
        {"Sebastião Ferreira Júnior", "M", "C", "28/10/1966", "Taboão da Serra", "Bradesco Saúde", "Eletricista",
         "A+", 2, Cornea::Normal, 0, {}},
    };
    return lista;
}

// The right eye of a patient; the left mirrors it with slightly other radii.
sim::Target alvo(const Paciente& p, bool esquerdo) {
    const double v = p.variacao, e = esquerdo ? 0.03 : 0.0;
    sim::Target t;
    switch (p.cornea) {
    case Cornea::Normal: t = cornea(7.72 + 0.12 * v + e, 7.66 + 0.12 * v + e, 90 + 10 * v, -0.22); break;
    // r1 lies along the meridian of the axis: the flat meridian near 180° is with the rule,
    // near 90° against it.
    case Cornea::AFavor: t = cornea(7.95 + 0.1 * v, 7.45 + 0.05 * v - e, 5 + 10 * v, -0.25); break;
    case Cornea::Contra: t = cornea(7.90 + 0.1 * v - e, 7.50 + 0.05 * v, 85 + 10 * v, -0.25); break;
    case Cornea::Curva: t = cornea(7.05 - 0.15 * v + e, 6.90 - 0.15 * v + e, 95 + 20 * v, -0.35); break;
    }
    // As the instrument captures it: pupil, lids, lashes, fixation, varied per patient and eye.
    return mirrored(norvix::outside::asCaptured(t, int(100 * v) + (esquerdo ? 7 : 0)), esquerdo);
}

struct ExameAgendado {
    QDateTime quando;
    const Paciente* paciente;
    const Consulta* consulta;
    bool esquerdo;
};

int executa(const QString& raiz, const QString& banco) {
    QElapsedTimer relogio;
    relogio.start();
    clinica::Instalacao instalacao(raiz, banco);
    instalacao.conectaBancoVazio();
    clinica::Medidor medidor;
    const QDate hoje = QDate::currentDate();
    int exames = 0;
    // Every row and file of the clinic stands or falls together.
    GravaTudoOuNada([&](TArquivosNovos& arquivos) {
        std::vector<int> medicos;
        int n = 0;
        for (const Medico& m : kMedicos) {
            const QString d = QString::number(++n);
            DMedicos().InsertMedicos(QString::fromUtf8(m.nome), "2" + d + ".456.789-" + d,
                                     clinica::cpf(123456780u + 1111u * n), QString::fromUtf8(m.crm),
                                     QString::fromUtf8(m.sexo), "C", "", "1" + d + "/0" + d + "/197" + d,
                                     "São Paulo", "SP", "", "", "Av. Paulista, 1" + d + "00", "Sala 3" + d,
                                     "Bela Vista", "São Paulo", "SP", "01310-100", "1132" + d + "5500",
                                     QString::fromUtf8(m.celular));
            medicos.push_back(DMedicos().GenIdMedicos());
        }

        // Codes follow the registration dates, and exam codes the exam dates, as in a clinic.
        std::vector<const Paciente*> ordem;
        for (const Paciente& p : pacientes()) ordem.push_back(&p);
        std::stable_sort(ordem.begin(), ordem.end(), [](const Paciente* a, const Paciente* b) {
            return a->cadastroDiasAtras > b->cadastroDiasAtras;
        });
        std::map<const Paciente*, int> codigos;
        int semente = 1;
        for (const Paciente* p : ordem) {
            const QString d = QString::number(++semente % 10), cidade = QString::fromUtf8(p->cidade);
            DPacientes().InsertPacientes(
                QString::fromUtf8(p->nome), QString::number(30 + semente) + ".7" + d + "4.15" + d + "-" + d,
                clinica::cpf(314159265u + 7919u * semente), p->sexo, p->estadoCivil, "", p->nascimento, cidade,
                "SP", "", "", "Rua das Flores, " + QString::number(10 * semente), "", "Centro", cidade, "SP",
                "0" + d + "000-000", "114" + d + "002030", "119" + d + "1234567", QString::fromUtf8(p->convenio),
                QString::fromUtf8(p->profissao), p->tipoSang, hoje.addDays(-p->cadastroDiasAtras), 0);
            codigos[p] = DPacientes().GenIdPacientes();
        }

        std::vector<ExameAgendado> agenda;
        for (const Paciente& p : pacientes()) {
            for (const Consulta& c : p.consultas) {
                const QDateTime inicio(hoje.addDays(-c.diasAtras), QTime::fromString(QString::fromLatin1(c.hora), "HH:mm:ss"));
                const QString olhos = QString::fromLatin1(c.olhos);
                if (olhos.contains(QLatin1String("OD"))) agenda.push_back({inicio, &p, &c, false});
                if (olhos.contains(QLatin1String("OS"))) agenda.push_back({inicio.addSecs(187), &p, &c, true});
            }
        }
        std::sort(agenda.begin(), agenda.end(),
                  [](const ExameAgendado& a, const ExameAgendado& b) { return a.quando < b.quando; });
        std::vector<clinica::Captura> capturas;
        for (const ExameAgendado& a : agenda) capturas.push_back({alvo(*a.paciente, a.esquerdo), uint32_t(capturas.size() + 1)});
        const std::vector<QByteArray> imagens = clinica::capturaSimulada(capturas);
        for (size_t i = 0; i < agenda.size(); ++i) {
            const ExameAgendado& a = agenda[i];
            const auto olho = medidor.mede(imagens[i]);
            TExameNovo e;
            e.paciente = codigos.at(a.paciente);
            e.medico = medicos.at(a.consulta->medico);
            e.data = a.quando.date();
            e.hora = a.quando.time();
            e.olho = a.esquerdo ? QStringLiteral("OS") : QStringLiteral("OD");
            e.diag = QString::fromUtf8(a.consulta->diag);
            e.observacao = QString::fromUtf8(a.consulta->obs);
            GravaExameTopografia(e, *olho, arquivos);
            ++exames;
        }
    });
    std::printf("mkclinica: %zu médicos, %zu pacientes e %d exames gravados em %s (%.1f s).\n", std::size(kMedicos),
                pacientes().size(), exames, qPrintable(instalacao.banco()), relogio.elapsed() / 1000.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.size() > 3) {
        std::fprintf(stderr, "Uso: mkclinica <raiz da instalação> [arquivo do banco de dados]\n");
        return 2;
    }
    try {
        return executa(args[1], args.value(2));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mkclinica: %s Nada foi gravado.\n", e.what());
        return 1;
    }
}
