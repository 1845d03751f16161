#pragma once

#include "uniquefd.h"

#include <QByteArray>
#include <QString>

#include <optional>

struct PseudoTerminal
{
    UniqueFd master;
    // Held open for the tool's whole life: while any slave fd is open the master never
    // reports a hang-up, so the program under test may close and reopen the device freely.
    UniqueFd slave;
    QByteArray slavePath;
};

// Opens a non-blocking master and a raw 8N1 slave without flow control.
[[nodiscard]] std::optional<PseudoTerminal> openPseudoTerminal(QString* error);
