#pragma once
#include "tools/loopsim/board.h"

#include <QObject>
#include <QString>
#include <functional>

namespace loopsim {

// The operator's side of a running simulator: one text command per line (from standard input
// in the executable), and a printed line for everything the tool does to the loop.
class Console : public QObject {
    Q_OBJECT
  public:
    using Printer = std::function<void(const QString& line)>;
    Console(Board& board, Printer print, QObject* parent = nullptr);

    // Runs one command; returns false for "quit". Unknown or malformed commands print why.
    bool execute(const QString& line);
    // A --fault option: silent, echostop:K, wrongecho:K, delay:MS, garbage:HEX, extra:N,
    // shortreply.
    bool apply_fault(const QString& option, QString* error);

    QString status_text() const;
    static QString help_text();

  private:
    bool point_command(const QString& verb, const QString& arg);
    bool refusal_command(const QString& verb, const QStringList& args);
    Detector* detector_at(const QString& verb, const QString& arg, int* address);
    bool on_off(const QString& arg, bool* on);
    QString faults_text() const;

    Board& board_;
    Printer print_;
    bool silent_ = false;
    int echo_stop_ = 0;
    int wrong_echo_ = 0;
    int delay_ms_ = 0;
    QByteArray garbage_;
    int extra_ = 0;
    bool short_replies_ = false;
    bool paced_ = false;
};

} // namespace loopsim
