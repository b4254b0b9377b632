#pragma once
// What the clinic tools (mkclinica, the demonstration clinic; mkclinica_grande, the large
// clinic of the benchmarks) share: an installation opened as the program opens it, eyes
// measured as the instrument and the processing module measure them, and a topography exam
// stored with the steps and the records layer of the new-exam workflow.
#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>
#include <memory>
#include <vector>

#include "capture/sim/SimulatedEye.h"
#include "modules/ModuleBindings.h"
#include "modules/ModuleContract.h"
#include "platform/Errors.h"

class TBIniSettings;

namespace norvix {

class TDMPrincipal;

namespace clinica {

// The installation under `raiz` (its OrventDuo/Orvent.ini): the settings loaded into the
// shared records as the start-up loads them, and its database `banco` (the installation's
// DATABASE.GDB when empty). Raises Error with a Portuguese message.
class Instalacao {
public:
    explicit Instalacao(const QString& raiz, const QString& banco = QString());
    ~Instalacao();
    Instalacao(const Instalacao&) = delete;
    Instalacao& operator=(const Instalacao&) = delete;

    QString banco() const { return banco_; }
    // Connects the data module to the database. A clinic is only ever made in a new database:
    // raises Error when this one already holds a patient, a doctor or an exam.
    void conectaBancoVazio();
    // Commits what is pending and disconnects; harmless when not connected.
    void desconecta();

private:
    QString banco_;
    std::unique_ptr<TBIniSettings> settings_;
    std::unique_ptr<TDMPrincipal> dm_;
};

// One eye as the new-exam workflow holds it after its processing step.
struct OlhoMedido {
    QByteArray imagem;  // the captured frame: the capture module's 32-bit BMP file
    double centroX = 0, centroY = 0;
    TMatrizAngAnel m{};
    TMatrizAngAnel d{};
    TMatrizAng meridianos{};
    TPupila pupila{};
    double indConf = 0;
};

// A frame the simulated instrument captures of a target; quadro chooses the sensor noise, as a
// frame number of the live picture does.
struct Captura {
    sim::Target alvo;
    uint32_t quadro = 0;
};

// The frames as the capture module hands them over (32-bit BMP files), in the order asked, with
// the cone of the settings. Raises Error when the cone type is unusable.
std::vector<QByteArray> capturaSimulada(const std::vector<Captura>& capturas);

// Measures captured frames with ProcessaImagem of the processing module of the settings,
// loaded once through the processing binding.
class Medidor {
public:
    Medidor();  // raises Error when the module cannot be loaded
    ~Medidor();
    // Raises Error when the module does not measure the eye.
    std::unique_ptr<OlhoMedido> mede(const QByteArray& imagem);

private:
    TProcessingBinding processamento_;
};

// The files one run wrote, so that a run that fails takes them away again (and only them).
class ArquivosNovos {
public:
    // Raises Error when the file exists: an exam file is never replaced.
    void reserva(const QString& caminho);
    void removeTodos();

private:
    QStringList caminhos_;
};

struct ExameNovo {
    int paciente = 0;
    int medico = 0;
    QDate data;
    QTime hora;
    QString olho;  // "OD" or "OS"
    QString diag;
    QString observacao;
};

// Stores a topography exam as the workflow's "Gravar Exame" step does: the exam row, its code
// found again by patient, doctor, date and time, its d, m and a files, the JPEG-packed images
// that the settings keep, and the patient's last exam and exam count. Returns the exam code.
int gravaExame(const ExameNovo& exame, const OlhoMedido& olho, ArquivosNovos& arquivos);

// The files and images steps of the above for an exam row that exists: the patient's directory,
// the d, m and a files, and the ARQUIVOS row.
void gravaArquivosDoExame(int paciente, int codigo, const OlhoMedido& olho, ArquivosNovos& arquivos);

// The text ULTIMOEXAME takes after a new exam: "OD dd/MM/yyyy HH:mm:ss".
QString textoUltimoExame(const QString& olho, const QDate& data, const QTime& hora);

// The exam code the workflow finds again after the insert (0 when there is none).
int codigoDoExame(int paciente, int medico, const QDate& data, const QTime& hora);

// A valid CPF (eleven digits with both check digits) from nine base digits.
QString cpf(quint32 base);

}  // namespace clinica
}  // namespace norvix
