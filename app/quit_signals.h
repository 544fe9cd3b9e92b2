#pragma once
#include <QObject>
#include <functional>

class QSocketNotifier;

// The system's requests to end the program (SIGTERM at logout or shutdown, SIGINT for Ctrl+C in
// the terminal that started it, SIGHUP when that terminal goes away), turned into one call of
// `on_quit` from the event loop, where quitting may touch windows and timers. A signal that was
// ignored when the program started (nohup, a background job) stays ignored.
//
// Unix only; elsewhere it listens to nothing. One instance listens at a time: while one does,
// another built beside it stays deaf.
class Quit_Signals : public QObject {
    Q_OBJECT
  public:
    explicit Quit_Signals(std::function<void()> on_quit, QObject* parent = nullptr);
    ~Quit_Signals() override;
    Quit_Signals(const Quit_Signals&) = delete;
    Quit_Signals& operator=(const Quit_Signals&) = delete;

  private:
    void heard();

    std::function<void()> on_quit_;
    QSocketNotifier* notifier_ = nullptr;
    int read_fd_ = -1;
    int write_fd_ = -1;
};
