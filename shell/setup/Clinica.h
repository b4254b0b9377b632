#pragma once
// What the clinic tools (mkclinica, the demonstration clinic; mkclinica_grande, the large
// clinic of the benchmarks) share: an installation opened as the program opens it, eyes
// measured as the instrument and the processing module measure them. Exams are stored with
// the records layer's storage of a new exam (records/ExameNovo.h), as the new-exam window
// stores them.
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
#include "records/ExameNovo.h"

namespace norvix {

class TBIniSettings;

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
    std::unique_ptr<TMedidaOlho> mede(const QByteArray& imagem);

private:
    TProcessingBinding processamento_;
};

// A valid CPF (eleven digits with both check digits) from nine base digits.
QString cpf(quint32 base);

}  // namespace clinica
}  // namespace norvix
