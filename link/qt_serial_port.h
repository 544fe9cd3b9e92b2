#pragma once
#include "link/serial_port.h"

#include <memory>

// The serial port through QSerialPort. COM n names, on Linux, the file COM<n> of the current
// directory when there is one (usually a symbolic link to /dev/ttyUSB0 or to a simulator's
// pseudo-terminal), else /dev/ttyS<n-1>; on Windows COMn.
std::unique_ptr<Serial_Port> make_qt_serial_port();
QString Com_Device_Name(int number);
