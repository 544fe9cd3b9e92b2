#include "link/qt_serial_port.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPort>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

class Qt_Serial_Port final : public Serial_Port {
  public:
    explicit Qt_Serial_Port(const QString& fallback) : fallback_(fallback) {
        connect(&port_, &QSerialPort::readyRead, this, [this] { check_threshold(); });
    }
    ~Qt_Serial_Port() override { close(); }

    bool open(int number) override {
        close();
        port_.setPortName(device_name(number));
        port_.setBaudRate(QSerialPort::Baud9600);
        port_.setDataBits(QSerialPort::Data8);
        port_.setParity(QSerialPort::NoParity);
        port_.setStopBits(QSerialPort::OneStop);
        port_.setFlowControl(QSerialPort::NoFlowControl);
        if (!port_.open(QIODevice::ReadWrite)) {
            failure_ = failure_of(port_.error(), port_.portName());
            return false;
        }
        if (!lock_device()) {
            port_.close();
            failure_ = Open_Failure::Busy;
            return false;
        }
        failure_ = Open_Failure::None;
        failed_ = false;
        error_link_ = connect(&port_, &QSerialPort::errorOccurred, this, &Qt_Serial_Port::on_error);
        return true;
    }

    void close() override {
        disconnect(error_link_);
        failed_ = false;
        if (port_.isOpen()) port_.close();
    }

    bool PortOpen() const override { return port_.isOpen() && !failed_; }

    int InBufferCount() override {
        if (!PortOpen()) return 0;
        pull_pending();
        return PortOpen() ? static_cast<int>(port_.bytesAvailable()) : 0;
    }

    // What the last count saw (every caller counts first): no second look at the driver.
    // One read of the known size: readAll grows its result in steps.
    QByteArray Input() override {
        return PortOpen() ? port_.read(port_.bytesAvailable()) : QByteArray();
    }

    bool Output(uint8_t byte) override {
        if (!PortOpen()) return false;
        const char c = static_cast<char>(byte);
#ifdef Q_OS_UNIX
        // Straight to the line: QSerialPort would queue the byte and schedule a write of its
        // own on the event loop, a wake-up for nothing on every byte.
        ssize_t n;
        do
            n = ::write(static_cast<int>(port_.handle()), &c, 1);
        while (n < 0 && errno == EINTR);
        if (n != 1) {
            // The line is gone (a hang-up, an unplugged adapter), as a read would have found.
            if (n < 0 && errno != EAGAIN) fail();
            return false;
        }
#else
        if (port_.write(&c, 1) != 1) return false;
        port_.flush();
#endif
        return PortOpen();
    }

    Open_Failure open_failure() const override {
        return failure_;
    }

    void set_device(const QString& path) override {
        device_ = path;
    }

    QString device_name(int number) const override {
        if (!device_.isEmpty()) return device_;
        return com_device_name(number, fallback_);
    }

  protected:
    // Called on readyRead, when Qt has just read what the driver held.
    int received() override {
        return PortOpen() ? static_cast<int>(port_.bytesAvailable()) : 0;
    }

  private:
    // Qt says "permission" both for a device the account may not open and for one another
    // program holds exclusively: the rights on the device tell them apart.
    static Open_Failure failure_of(QSerialPort::SerialPortError error, const QString& name) {
        switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return Open_Failure::No_Device;
        case QSerialPort::PermissionError: {
#ifdef Q_OS_UNIX
            const QByteArray path = QFile::encodeName(
                QFileInfo(name).isAbsolute() ? name : QStringLiteral("/dev/") + name);
            return ::access(path.constData(), R_OK | W_OK) == 0 ? Open_Failure::Busy
                                                                : Open_Failure::Permission;
#else
            return Open_Failure::Busy;
#endif
        }
        default:
            return Open_Failure::Other;
        }
    }

    // One tool per device. Qt's own lock is named after the path it was given, so two links to
    // one device in two directories get two locks, and the exclusive mode of the terminal does
    // not stop root. A lock on the device itself does, whatever name led to it.
    bool lock_device() {
#ifdef Q_OS_UNIX
        return ::flock(static_cast<int>(port_.handle()), LOCK_EX | LOCK_NB) == 0;
#else
        return true; // Windows opens a COM port for one program only
#endif
    }

    // Bytes the driver holds but Qt has not fetched yet (its notifier only runs from the event
    // loop) are taken in, so a count or a drain sees everything that has arrived.
    void pull_pending() {
#ifdef Q_OS_UNIX
        int waiting = 0;
        if (::ioctl(static_cast<int>(port_.handle()), FIONREAD, &waiting) == 0 && waiting > 0)
            port_.waitForReadyRead(0);
#endif
    }

    void on_error(QSerialPort::SerialPortError error) {
        switch (error) {
        case QSerialPort::NoError:
        case QSerialPort::UnsupportedOperationError: // modem lines of a pseudo-terminal
        case QSerialPort::TimeoutError:              // a waitFor call that found nothing
            return;
        default:
            break;
        }
        fail();
    }

    // A vanished device keeps raising errors for as long as it stays open, so the port is
    // closed for good here; the close itself waits until Qt has left its own call stack.
    void fail() {
        if (failed_) return;
        failed_ = true;
        disconnect(error_link_);
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (failed_ && port_.isOpen()) port_.close();
            },
            Qt::QueuedConnection);
        emit comm_event();
    }

    const QString fallback_;
    QSerialPort port_;
    Open_Failure failure_ = Open_Failure::None;
    QString device_;
    QMetaObject::Connection error_link_;
    bool failed_ = false;
};

} // namespace

std::unique_ptr<Serial_Port> make_qt_serial_port(const QString& fallback) {
    return std::make_unique<Qt_Serial_Port>(fallback);
}

QString com_device_name(int number, const QString& fallback) {
#ifdef Q_OS_WIN
    Q_UNUSED(fallback);
    return QStringLiteral("COM%1").arg(number);
#else
    const QString local = QDir::current().absoluteFilePath(QStringLiteral("COM%1").arg(number));
    // A link left behind by a device that is gone still names the port the user chose.
    const QFileInfo info(local);
    if (info.exists() || info.isSymLink()) return local;
    return fallback.arg(number - 1);
#endif
}
