#pragma once
// What the benchmarks on the simulated board start from.
#include "addresses/search.h"
#include "app/site_recorder.h"
#include "support/harness.h"

#include <QString>

inline bool start_connected(Harness& h) {
    h.load();
    return h.run_until(
        [&h] { return h.t.state.Task_State == Task::Idle_Status && h.t.state.Connected; }, 5000);
}

inline loopsim::Detector make_detector(int type_code) {
    loopsim::Detector d;
    d.type_code = uint8_t(type_code);
    return d;
}

// The grid as a search would leave it for address `adr`.
inline void mark_found(Tool& t, int adr, int type_index, const QString& name) {
    t.state.Adr_Type[adr - 1] = uint8_t(type_index);
    t.type_sight[adr - 1] = t.board.sight();
    t.form.Adr_Box(adr).set_caption(cell_caption(adr, name));
}

// What the tool learns written into a new site file in the harness's directory, as
// `kalvenor-cli --site` does it: the recorder's own thread, a batch per pass of the event loop.
class Bench_Site {
  public:
    explicit Bench_Site(Harness& h)
        : recorder_(h.t.record), path_(h.dir.filePath(QStringLiteral("banc.kalsite"))) {
        started_ = recorder_.start({path_,
                                    true,
                                    QStringLiteral("Banc"),
                                    QStringLiteral("1"),
                                    QStringLiteral("Banc"),
                                    {},
                                    nullptr},
                                   &why_);
    }
    bool started() const { return started_; }
    const QString& why() const { return why_; }
    // Everything written, the file closed; then the last visit as the file holds it (its counts
    // at -1 when it cannot be read).
    site::Stored_Visit stored() {
        recorder_.stop();
        site::Stored_Visit v;
        v.visit.found = v.visit.read = -1;
        auto file = site::File::open(path_, &why_);
        if (file && !file->visits().isEmpty()) file->load_visit(file->visits().last().id, &v);
        return v;
    }

  private:
    Site_Recorder recorder_;
    QString path_, why_;
    bool started_ = false;
};
