#pragma once
// The same-run anchor of the line benchmarks. A run of the tool is recorded at the simulated
// board (each byte that comes, when, and the reply it got); the tool's side becomes a script of
// bytes, protocol pauses and task ticks, which `line_anchor` (bench/line_anchor.cpp, plain
// termios and poll, no Qt) replays against a board of the same loop, in this process as the
// tool's is. The pauses are not the gaps the tool left but the engine's own lengths, so the
// anchor is what the machine allows for those bytes, not a copy of the tool's slowness.
#include "tools/loopsim/board.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace anchor {

// The engine's pauses (engine/tempo.cpp's Tempo_Wait callers) and its task tick.
constexpr int Readout_Pause_Ms = 50; // between two frames of a readout (addresses/identity.cpp)
constexpr int Rearm_Pause_Ms = 2000; // between 0x04 and 0x03 (addresses/search.cpp)
constexpr int Tick_Ms = 100;         // the task tick (model/bus_form.cpp)
// Two bytes of one frame are some 2 ms apart on the paced line (a byte out, its echo back); a
// longer gap is a pause or a tick.
constexpr qint64 Pause_Seen_Ns = 25000000;

struct Exchange {
    quint8 out = 0;
    qint64 out_ns = 0;
    QByteArray reply;
};

// Everything the tool sends the board from construction (or clear()) on, each byte with the
// board's reply to it (what the board sent until the next byte came).
class Recorder {
  public:
    explicit Recorder(loopsim::Board& board) : board_(board) {
        clock_.start();
        QObject::connect(&board, &loopsim::Board::byte_received, &context_, [this](quint8 b) {
            starts_.push_back(board_.sent().size());
            exchanges_.push_back({b, clock_.nsecsElapsed(), {}});
        });
    }
    void clear() {
        exchanges_.clear();
        starts_.clear();
    }
    std::vector<Exchange> exchanges() const {
        std::vector<Exchange> xs = exchanges_;
        const QByteArray sent = board_.sent();
        for (size_t i = 0; i < xs.size(); ++i) {
            const qsizetype from = starts_[i];
            const qsizetype to = i + 1 < xs.size() ? starts_[i + 1] : sent.size();
            xs[i].reply = sent.mid(from, to - from);
        }
        return xs;
    }

  private:
    loopsim::Board& board_;
    QObject context_;
    QElapsedTimer clock_;
    std::vector<qsizetype> starts_;
    std::vector<Exchange> exchanges_;
};

enum class Pacing {
    Pauses, // a readout: the frames follow one another, with the readout pause between them
    Ticks   // a search or the simulation: a step per task tick, the re-arm's pause in the search
};

// The script of a recorded run; `mark_at` (an index into the exchanges) puts the mark before
// that exchange and ends the script there. Returns false when the file cannot be written.
inline bool write_script(const std::vector<Exchange>& xs, Pacing pacing, const QString& path,
                         int mark_at = -1) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    QTextStream out(&f);
    if (pacing == Pacing::Ticks) out << "k " << Tick_Ms << '\n';
    bool restart_tick = false;
    for (size_t i = 0; i < xs.size(); ++i) {
        if (i > 0) {
            const qint64 gap = xs[i].out_ns - xs[i - 1].out_ns;
            if (gap >= Pause_Seen_Ns) {
                if (pacing == Pacing::Pauses) {
                    out << "p " << Readout_Pause_Ms << '\n';
                } else if (gap >= Rearm_Pause_Ms * 1000000LL * 3 / 4) {
                    // The re-arm's pause; the tick starts again once its second command is done.
                    out << "p " << Rearm_Pause_Ms << '\n';
                    restart_tick = true;
                } else {
                    out << "t\n";
                }
            }
        }
        if (int(i) == mark_at) {
            out << "m\n";
            break;
        }
        out << "x " << QString::number(xs[i].out, 16) << ' ' << xs[i].reply.size();
        for (char c : xs[i].reply)
            out << ' ' << QString::number(quint8(c), 16);
        out << '\n';
        if (restart_tick && pacing == Pacing::Ticks) {
            bool after_pause = i > 0 && xs[i].out_ns - xs[i - 1].out_ns >= Pause_Seen_Ns;
            if (after_pause) {
                out << "k " << Tick_Ms << '\n';
                restart_tick = false;
            }
        }
    }
    return out.status() == QTextStream::Ok;
}

struct Result {
    bool ok = false;
    double end_ms = 0, mark_ms = -1;
    int exchanges = 0, time_outs = 0, differ = 0;
};

// One replay of `script` against a paced board of `loop`, this process's event loop running the
// board meanwhile as it runs the tool's.
inline Result replay(const loopsim::Loop& loop, const QString& script) {
    Result r;
    QTemporaryDir dir;
    loopsim::Board board(loop);
    board.set_paced(true);
    QString why;
    if (!board.start(dir.path(), 9, &why)) {
        std::fprintf(stderr, "anchor board: %s\n", qPrintable(why));
        return r;
    }
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QEventLoop wait;
    QObject::connect(&p, &QProcess::finished, &wait, &QEventLoop::quit);
    p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/line_anchor"),
            {dir.filePath(QStringLiteral("COM9")), script});
    if (!p.waitForStarted()) {
        std::fprintf(stderr, "line_anchor did not start\n");
        return r;
    }
    if (p.state() != QProcess::NotRunning) wait.exec();
    const QList<QByteArray> f = p.readAllStandardOutput().simplified().split(' ');
    if (p.exitCode() != 0 || f.size() != 6 || f[0] != "ANCHOR") {
        std::fprintf(stderr, "line_anchor failed (exit %d)\n", p.exitCode());
        return r;
    }
    r.end_ms = f[1].toDouble();
    r.mark_ms = f[2].toDouble();
    r.exchanges = f[3].toInt();
    r.time_outs = f[4].toInt();
    r.differ = f[5].toInt();
    r.ok = r.time_outs == 0 && r.differ == 0;
    if (!r.ok)
        std::fprintf(stderr, "line_anchor: %d time-outs, %d replies unlike the tool's\n",
                     r.time_outs, r.differ);
    return r;
}

inline double median(std::vector<double> v) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace anchor
