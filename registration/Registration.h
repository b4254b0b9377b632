#pragma once

namespace norvix {

// The registration windows behind the exam browser's "Novo Paciente" and "Editar Paciente":
// the main window installs them once, at its creation.
void registerRegistrationWindows();

}  // namespace norvix
