#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <map>

namespace loopsim {

// The board's side of a line trace written by the tool (its "Enregistrer la trace..."), played
// back so that the tool meets again, request after request, what it met on site: the same
// replies at the same delays, the same silences, wrong echoes, short replies and stale bytes.
// The tool must send what it sent then; the first request that differs ends the replay, and the
// board answers nothing from then on.
class Replay {
  public:
    // A rotated trace is two files of the tool's 8 MB (FILE.1 and FILE joined), with room.
    static constexpr qint64 Max_Bytes = 24 << 20;

    // Reads the trace at `path` (a regular file only); false with a message naming the file and
    // the line at fault.
    bool load(const QString& path, QString* error);
    // The same from text already read; `name` names it in messages.
    bool parse(const QByteArray& text, const QString& name, QString* error);

    // What the board does after a request, relative to the moment it came.
    struct Out {
        qint64 after_ns = 0;
        QByteArray bytes;     // sent then
        bool hang_up = false; // or the line drops then (the tool saw its port lost)
    };
    // The board's part for a byte of the tool: nothing once the replay has ended.
    QList<Out> answer(quint8 byte);

    // Until the trace's first request comes, the status requests of a tool being connected (0x01,
    // 0x02, 0x08) are answered as the trace answers them; `fallback` fills those it never shows.
    void fill_lead_in(quint8 request, const QByteArray& fallback);

    int requests() const { return int(exchanges_.size()); }
    int played() const { return next_; }
    bool ended() const { return ended_; }
    // Each thing worth telling a person: where the replay starts, ends, or stops and why.
    std::function<void(const QString&)> tell;

  private:
    struct Exchange {
        int line = 0; // of the request
        quint8 request = 0;
        qint64 at_ns = 0; // its time in the trace
        QList<Out> out;
    };
    void say(const QString& text) const;

    QString name_;
    QList<Exchange> exchanges_;
    std::map<quint8, QByteArray> lead_in_;
    int next_ = 0;
    bool ended_ = false;
};

} // namespace loopsim
