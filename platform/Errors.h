#pragma once
#include <stdexcept>
#include <QString>

namespace norvix {

// Base of the errors that reach the operator as a message (the application's general error
// message shows what() decoded as UTF-8).
class Error : public std::runtime_error {
public:
    explicit Error(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromUtf8(what()); }
};

// A text that does not convert to the number a caller asked for.
class ConversionError : public Error {
public:
    using Error::Error;
};

// A settings value that could not be written: the text names the file and the reason.
class SettingsWriteError : public Error {
public:
    SettingsWriteError(const QString& fileName, const QString& reason)
        : Error(QStringLiteral("Não foi possível gravar a configuração em %1: %2.").arg(fileName, reason)) {}
};

}  // namespace norvix
