#pragma once
#include "link/serial_port.h"

#include <memory>

// The serial port through QSerialPort. COM n names, on Linux, the file COM<n> of the current
// directory when there is one at the moment of the opening (usually a symbolic link to
// /dev/ttyUSB0 or to a simulator's pseudo-terminal), else the fallback with n-1 for %1
// (/dev/ttyS<n-1>); on Windows COMn.
constexpr const char* Default_Fallback = "/dev/ttyS%1";
std::unique_ptr<Serial_Port> make_qt_serial_port(const QString& fallback = Default_Fallback);
QString com_device_name(int number, const QString& fallback = Default_Fallback);
