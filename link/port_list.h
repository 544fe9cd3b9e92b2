#pragma once
#include <QList>
#include <QString>
#include <QStringList>

// A serial adapter of the machine, as the system knows it now.
struct Serial_Adapter {
    QString device;      // /dev/ttyUSB0, COM3
    QString stable;      // its name under /dev/serial/by-id, which survives a replug; may be empty
    QString description; // what the driver says it is
    QString maker;
    int vendor = -1, product = -1; // USB ids, -1 when not USB
    bool held = false;             // another program has it open
    // The name to open it by and to remember it under: the stable one when there is one.
    QString name() const { return stable.isEmpty() ? device : stable; }
    QString usb_ids() const;
    // One line: the device, its stable name, the driver's words, the maker, the USB ids, and
    // whether another program holds it.
    QString line() const;
};

QList<Serial_Adapter> serial_adapters();
// Every serial port of the machine, one line each: the device, its stable name under
// /dev/serial/by-id (which survives a replug into another USB socket), what the driver says it
// is, its maker, its USB ids and whether another program holds it.
QStringList list_serial_ports();
