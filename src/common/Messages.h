#pragma once

#include <QString>

namespace regbench::common {

// Texts that more than one layer writes.

// Every writer ends its message with this line break.
inline const QString CrLf = QStringLiteral("\r\n");

// Logged at start-up when no bridge announced itself, and by every register operation without a bridge.
inline const QString InterfaceNotDetected =
    QStringLiteral("USB-to-I2C interface not detected. Please check connections.");

} // namespace regbench::common
