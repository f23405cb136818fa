// The password of a switch's web interface as `fwload` takes it: the
// option, else the environment variable FWLOAD_PASSWORD, else one question
// on the terminal without echo. Never printed or stored.
#pragma once

#include <QString>

namespace fwl::cli {

inline constexpr char kPasswordVariable[] = "FWLOAD_PASSWORD";

// Reads a password from the terminal with echo off after `prompt`; "" when
// standard input is no terminal.
QString AskPasswordNoEcho(const QString& prompt = QStringLiteral("Password: "));

// `variable`'s value when it is set (an empty value counts as set).
bool PasswordFromEnvironment(const QString& variable, QString* password);

}  // namespace fwl::cli
