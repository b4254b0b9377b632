#include "Registration.h"

#include "UfrmCadastroPacientes.h"
#include "UfrmNovoPaciente.h"
#include "exams/UfrmExames.h"

namespace norvix {

void registerRegistrationWindows() {
    TfrmExames::Openers& openers = TfrmExames::openers();
    openers.novoPaciente = [](TfrmExames& browser) { TfrmNovoPaciente::Executa(browser); };
    openers.editarPaciente = [](TfrmExames& browser, int codigo) {
        const int gravado = TfrmCadastroPacientes::Altera(codigo, &browser);
        if (gravado > 0) {
            // The list shows the name as saved, on the patient saved.
            browser.SelecionaPacientePorCodigo(gravado, browser.filterText());
        } else if (gravado < 0) {
            browser.SelecionaPaciente(QString(), browser.filterText());
        }
    };
}

}  // namespace norvix
