#include "Registration.h"

#include "UfrmCadastroPacientes.h"
#include "UfrmNovoPaciente.h"
#include "exams/UfrmExames.h"
#include "records/UDPacientes.h"

void registerRegistrationWindows() {
    TfrmExames::Openers& openers = TfrmExames::openers();
    openers.novoPaciente = [](TfrmExames& browser) { TfrmNovoPaciente::Executa(browser); };
    openers.editarPaciente = [](TfrmExames& browser, int codigo) {
        const int gravado = TfrmCadastroPacientes::Altera(codigo, &browser);
        if (gravado > 0) {
            // The list shows the name as saved, on the patient saved.
            browser.SelecionaPaciente(norvix::DPacientes().SelectNomeByCodigo(gravado), browser.filterText());
            browser.SelecionaCodigoPaciente(gravado);
        } else if (gravado < 0) {
            browser.SelecionaPaciente(QString(), browser.filterText());
        }
    };
}
