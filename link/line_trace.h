#pragma once
#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <cstdint>
#include <functional>

// A text record of the serial line for whoever has to tell what the board really said: every
// byte each way with its time in milliseconds, the exchanges and their outcome, the bytes thrown
// away. Past its size limit the file is renamed FILE.1 (an older FILE.1 goes) and a new FILE
// begins, so a trace left on for days takes at most twice the limit. Closed, it costs the line
// one test per byte. It is written only to a regular file (see regular_file.h).
class Line_Trace {
  public:
    static constexpr qint64 Default_Limit = 8 << 20;

    // Starts a new trace in `path`; false, with a French reason, when it cannot be written.
    bool open(const QString& path, QString* why, qint64 limit = Default_Limit);
    void close();
    bool is_open() const { return file_.isOpen(); }
    const QString& path() const { return path_; }
    // Why the trace stopped by itself (a full disk), or empty; `stopped` is called then.
    const QString& failure() const { return failure_; }
    std::function<void()> stopped;

    void exchange_begins();
    void sent(uint8_t byte, bool written);
    // Bytes read from the port: a reply, or `dropped` ones (stale bytes, a late reply).
    void received(const QByteArray& bytes, bool dropped = false);
    void exchange_ends(const char* outcome);
    // A line of the tool's own between the bytes (a change of task state), marked "*".
    void note(const QByteArray& text);

  private:
    void line(const QByteArray& text);
    bool start_file(const QString& path, QString* why);
    void stop(const QString& why);

    QFile file_;
    QString path_;   // as given
    QString target_; // the file itself, where a link at path_ leads: the one renamed past the limit
    QElapsedTimer clock_;
    qint64 limit_ = Default_Limit;
    qint64 written_ = 0;
    QString failure_;
};
