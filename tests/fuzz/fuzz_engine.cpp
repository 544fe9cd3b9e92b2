// Fuzz target for the bus engine. The input is read as a script: user actions (search, grid
// click, LED, detection boxes, simulation start and stop, loss of the port, ticks of nothing)
// between bus task passes, and for every byte the tool writes, the board's answer (silence,
// a well-formed reply, raw bytes, a late reply, a hang-up, or a user action during the wait).
// After every pass: no two exchanges in flight, nothing left queued, Task_State one with a
// step. When the script ends the board answers well, and the task must be back idling in
// state 9 with the panel green within a bounded number of passes.
#include "addresses/led_walk.h"
#include "addresses/read_all.h"
#include "app/bus_task.h"
#include "app/menus.h"
#include "app/settings.h"
#include "app/shell.h"
#include "engine/tempo.h"
#include "model/tool.h"
#include "support/memory_port.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Tick 1 ms, reply time-out 10 ms, pauses 1 to 10 ms. A shorter time-out would let a reply
// that has come lose the race against it on a loaded machine, and inputs would not replay.
constexpr int Divider = 200;
// A longer script is cut: it cannot reach anything a shorter one cannot, only take longer.
constexpr size_t Max_Script = 2048;
constexpr int Recovery_Passes = 400;
constexpr int Input_Budget_Ms = 20000;

constexpr uint32_t Panel_Green = 0x0000FF00;

// Task states seen at the start of a pass, over the whole run (index = state).
std::array<unsigned long, 19> state_count{};
unsigned long inputs_run = 0;

void print_state_count() {
    std::fprintf(stderr, "fuzz_engine: %lu inputs; passes per task state:", inputs_run);
    for (int s : {1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 17, 18})
        std::fprintf(stderr, " %d:%lu", s, state_count[s]);
    std::fprintf(stderr, "\n");
}

struct No_Dialogs : Dialogs {
    QVariant msg_box(const QString&, int, const QString&) override { return 1; }
    // The LED walk's time: 1 s each.
    QString input_box(const QString&, const QString&, const QString&) override { return "1"; }
    void show_about() override {}
};

// The reply data bytes a run of good answers cycles through: every type code the search knows,
// and the alarm and fault bits the simulation reads.
constexpr uint8_t Data_Bytes[] = {0x13, 0x19, 0x1A, 0x17, 0x21, 0x42, 0x00,
                                  0x01, 0x08, 0x09, 0x30, 0xFF, 0x7E};

[[noreturn]] void fail(const Tool& t, const char* what) {
    std::fprintf(stderr,
                 "fuzz_engine: %s (Task_State %d, overlaps %llu, max in flight %d, in flight %d, "
                 "bus busy %d, pending %zu, tempo depth %d, connected %d, simulation %d)\n",
                 what, int(t.state.Task_State),
                 static_cast<unsigned long long>(t.link.link_count().overlaps),
                 t.link.link_count().max_in_flight, t.link.link_count().in_flight,
                 t.link.steps_holding(), t.link.requests_waiting(), t.tempo.depth(),
                 bool(t.state.Connected), bool(t.state.Simulation_Active));
    if (const auto* port = dynamic_cast<const Memory_Port*>(t.link.Comm1()))
        std::fprintf(stderr, "last bytes written: %s\n",
                     port->written().right(48).toHex(' ').constData());
    std::abort();
}

class Run {
  public:
    Run(const uint8_t* data, size_t size) : data_(data), size_(std::min(size, Max_Script)) {
        port_ = new Memory_Port;
        t_.link.set_port(std::unique_ptr<Serial_Port>(port_));
        t_.dialogs = &dialogs_;
        set_clock_divider(t_, Divider);
        Form_Load(t_);
        port_->set_answer([this](uint8_t byte) { return answer(byte); });
        deadline_ = QDeadlineTimer(Input_Budget_Ms);
    }

    void go() {
        while (!done(Ops)) {
            top_level_op();
            check();
        }
        recover();
    }

  private:
    // Two interleaved streams: the even bytes are the user's actions and the task's passes, the
    // odd bytes the board's answers, so a change in one does not shift the meaning of the other.
    // The script ends with its actions; a board whose answers run out before that answers well.
    enum Stream { Ops, Answers };
    bool done(Stream s) const { return pos_[s] >= size_; }
    uint8_t next(Stream s) { return pos_[s] < size_ ? data_[(pos_[s] += 2) - 2] : 0; }

    // replies as a board that works would, tracking where a command frame is so that a frame's
    // bytes are echoed and its last byte gets the two-byte reply.
    QByteArray good(uint8_t byte, uint8_t data, uint8_t status) {
        const int reply_len = port_->RThreshold();
        if (reply_len >= 2) {
            frame_pos_ = 0;
            const char reply[] = {static_cast<char>(status), static_cast<char>(data), 0};
            return QByteArray(reply, reply_len > 2 ? 3 : 2);
        }
        if (frame_pos_ > 0)
            frame_pos_ = frame_pos_ < 3 ? frame_pos_ + 1 : 0;
        else if (byte >= 0x40 && byte <= 0x43)
            frame_pos_ = 1;
        else if (byte == 0x02)
            byte = 0x30 | (data & 0x0F);
        else if (byte == 0x08)
            byte = data & 0x10;
        return QByteArray(1, static_cast<char>(byte));
    }

    // The board's answer to one byte; while the script lasts, the script chooses it.
    std::optional<QByteArray> answer(uint8_t byte) {
        const auto next_data = [this] { return Data_Bytes[data_index_++ % std::size(Data_Bytes)]; };
        if (good_left_ > 0 || done(Ops) || done(Answers)) {
            if (good_left_ > 0) --good_left_;
            return good(byte, next_data(), good_status_);
        }
        const uint8_t c = next(Answers);
        switch (c % 8) {
        case 0:
            return std::nullopt;
        case 1: // a run of good answers, this one included
        case 2:
            good_left_ = c >> 3;
            good_status_ = 0;
            data_index_ = next(Answers);
            return good(byte, next_data(), 0);
        case 3: // a run of well-formed answers whose frames are refused
            good_left_ = c >> 3;
            good_status_ = static_cast<uint8_t>(next(Answers) | 1);
            return good(byte, 0, good_status_);
        case 4: { // raw bytes
            QByteArray raw;
            for (int n = (c >> 3) % 6; n > 0; --n)
                raw.append(static_cast<char>(next(Answers)));
            return raw;
        }
        case 5: { // the right echo, and a user action while the tool waits for it
            const uint8_t what = next(Answers);
            queue_action(what, next(Answers));
            return good(byte, 0, 0);
        }
        case 6: // the line goes away
            port_->hang_up();
            return std::nullopt;
        default: // the right answer, after the tool has given up on it
            port_->deliver_later(good(byte, 0, 0), 1 + (c >> 3) % 3);
            return std::nullopt;
        }
    }

    void queue_action(uint8_t what, uint8_t arg) {
        QMetaObject::invokeMethod(
            port_, [this, what, arg] { user_action(what, arg); }, Qt::QueuedConnection);
    }

    // What a user can do with what the window shows.
    void user_action(uint8_t what, uint8_t arg) {
        Bus_Form& f = t_.form;
        switch (what % 8) {
        case 0:
            Form_KeyDown(t_, Key_F5, 0);
            break;
        case 1:
            f.Adr_Box(1 + arg % 128).click();
            break;
        case 2: // small addresses, the ones a search finds first
            f.Adr_Box(1 + arg % 4).click();
            break;
        case 3:
        case 4: {
            Control& c = what % 8 == 3 ? (arg & 1 ? f.Led_On_Cde : f.Led_Off_Cde)
                                       : (arg & 1 ? f.Opto_Check : f.Thermo_Check);
            if (!f.Status_Frame.Visible() || !c.Visible()) break;
            what % 8 == 3 ? c.click() : c.set_value(c.Value() ? 0 : 1);
            break;
        }
        case 5:
            Form_KeyDown(t_, Key_F9, 0);
            break;
        case 6:
            if (f.Status_Frame.Visible()) Close_Cmd_Click(t_);
            break;
        default:
            if (arg & 1)
                port_->hang_up();
            else if (arg & 4) // the runs over every detector, and Escape that stops them
                arg & 8    ? Read_All_Mnu_Click(t_)
                : arg & 16 ? Form_KeyDown(t_, Key_Escape, 0)
                           : Led_Walk_Mnu_Click(t_);
            else
                port_->set_open_fails(arg & 2);
        }
    }

    void top_level_op() {
        const uint8_t op = next(Ops);
        if (op % 8 < 3) return pass();
        if (op % 8 == 3) { // ticks of nothing, through the real main loop and its timer
            for (int n = 1 + (op >> 3) % 4; n > 0 && !t_.state.Quit_Flag; --n)
                main_loop_tick();
            return;
        }
        const uint8_t what = next(Ops);
        user_action(what, next(Ops));
    }

    void pass() {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        ++state_count[std::clamp<int>(t_.state.Task_State, 0, 18)];
        Bus_Task(t_);
        check();
    }

    // One task step through the real main loop, started by the real task timer.
    void main_loop_tick() {
        const int state = t_.state.Task_State;
        bool ticked = false;
        QObject context;
        QObject::connect(&t_.form.Timer_Tache, &QTimer::timeout, &context,
                         [&ticked] { ticked = true; });
        const QDeadlineTimer give_up(1000);
        while (!ticked && !give_up.hasExpired())
            main_loop_pass(t_);
        if (!ticked) fail(t_, "the task tick never came");
        ++state_count[std::clamp<int>(state, 0, 18)];
    }

    void check() {
        const Tool& t = t_;
        if (t.link.link_count().overlaps != 0)
            fail(t, "an exchange was asked for while another waited");
        if (t.link.link_count().max_in_flight > 1) fail(t, "two exchanges in flight");
        if (t.link.link_count().in_flight != 0 || t.link.exchanging())
            fail(t, "an exchange left in flight");
        if (t.link.steps_holding() != 0 || t.link.requests_waiting() != 0)
            fail(t, "a user request left queued");
        if (t.tempo.pausing()) fail(t, "a pause left open");
        if (!t.form.Timer_Tache.isActive()) fail(t, "the task tick is off between steps");
        if ((t.state.Task_State < 1 || t.state.Task_State > 9) &&
            (t.state.Task_State < 16 || t.state.Task_State > 18))
            fail(t, "Task_State without a step");
        if (deadline_.hasExpired()) fail(t, "the input ran too long");
    }

    // The board works again: the tool must find its way back to the idle state with the panel
    // green, a running simulation stopped by the user.
    void recover() {
        good_left_ = 0;
        good_status_ = 0x01;
        frame_pos_ = 0;
        port_->set_open_fails(false);
        bool stop_asked = false;
        for (int n = 0; n < Recovery_Passes; ++n) {
            if (t_.state.Simulation_Active && !stop_asked) {
                if (!t_.form.Adr_Status_Cde.Visible())
                    fail(t_, "a simulation runs with no button to stop it");
                Form_KeyDown(t_, Key_F9, 0);
                stop_asked = true;
            }
            pass();
            if (t_.state.Task_State == Task::Idle_Status && t_.state.Connected &&
                t_.form.Emul_Frm.BackColor() == Panel_Green && !t_.state.Simulation_Active &&
                !t_.state.Grid_Locked)
                return;
        }
        fail(t_, "not back to idle once the board answers again");
    }

    Tool t_;
    No_Dialogs dialogs_;
    Memory_Port* port_ = nullptr;
    const uint8_t* data_;
    size_t size_;
    size_t pos_[2] = {0, 1};
    int frame_pos_ = 0;
    int good_left_ = 0;
    uint8_t good_status_ = 0;
    unsigned data_index_ = 0;
    QDeadlineTimer deadline_;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static int argc = 1;
    static char name[] = "fuzz_engine";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    // The settings file the load sequence reads and writes lives here.
    // In memory where there is a tmpfs: every settings write syncs the file to disk.
    const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                             ? QStringLiteral("/dev/shm")
                             : QDir::tempPath();
    static QTemporaryDir dir(base + QStringLiteral("/kalvenor-fuzz_engine-XXXXXX"));
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        std::fprintf(stderr, "fuzz_engine: no temporary directory\n");
        std::abort();
    }
    if (std::getenv("KAL_FUZZ_STATS")) std::atexit(print_state_count);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ++inputs_run;
    Run(data, size).go();
    // replies and timers left by this input die with its port and window.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return 0;
}
