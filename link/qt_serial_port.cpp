// Placeholder until this file is written.
#include "link/qt_serial_port.h"
#include "app/tool.h"

std::unique_ptr<Serial_Port> make_qt_serial_port() { return nullptr; }
QString Com_Device_Name(int) { return {}; }
