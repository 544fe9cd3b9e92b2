#pragma once
#include <QStringList>

// Every serial port of the machine, one line each: the device, its stable name under
// /dev/serial/by-id (which survives a replug into another USB socket), what the driver says it
// is, its maker and its USB ids.
QStringList list_serial_ports();
