#pragma once

#include <QString>

// The text of chipwright-cli --help.
QString cliHelpText();
