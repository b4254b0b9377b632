#pragma once
// The clinic's records (patients' names, clinical texts, the database) kept out of the reach of
// the workstation's other accounts: what the program creates gets folders 0750 and files 0640
// by the process's permission mask; a clinic whose operators log in with accounts of their own
// names a group (GRUPO in section DIRETORIOS of the settings), which then also may write
// (0770 and 0660) and owns the installation's data folders.
#include <QString>
#include <QStringList>

namespace norvix {

// Sets the process's permission mask for what it creates from now on.
void aplicaMascaraDaClinica(const QString& grupo);
// Each existing folder taken from other accounts and, with a group, given to it
// (with the set-group bit, so that what is created inside belongs to the group too). False with
// the reason for the first one that could not be changed.
bool protegePastas(const QStringList& pastas, const QString& grupo, QString* erro);

// The process's permission mask, read without changing it (umask() would change it for a
// moment, for every thread); 022 when the kernel does not say.
unsigned mascaraAtual();
// A file or folder that an older version or a plain copy left open to other accounts closed to
// them as far as the process's mask says. The owner's and the group's rights stay (a clinic's
// group keeps writing whatever mask the tool that touches it runs with); not being its owner,
// or a file system without modes, leaves it as it is.
void fechaParaOutrasContas(const QString& caminho);

}  // namespace norvix
