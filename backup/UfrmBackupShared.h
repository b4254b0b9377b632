#pragma once
// What the backup window's units share: the caption and the message helper. Only UfrmBackup*.cpp
// include it.
#include <QString>

#include <optional>

#include "platform/ui/MessageSeam.h"

namespace norvix {

namespace {

const QString kCaption = QStringLiteral("Backup");

MsgAnswer mensagem(QWidget* w, const QString& texto, const QString& titulo = kCaption,
                   MsgIcon icone = MsgIcon::Information, MsgButtons botoes = MsgButtons::Ok,
                   std::optional<MsgAnswer> padrao = std::nullopt) {
    return showMessage(texto, titulo, icone, botoes, w, padrao);
}

}  // namespace

}  // namespace norvix
