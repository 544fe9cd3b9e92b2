#pragma once
#include "model/loop_record.h"

#include <QDeadlineTimer>
#include <cstdint>

struct Tool;

// The detector readouts under way (a grid click's, a read-all's detector). Whoever starts one
// takes a ticket and asks it before each frame whether the readout is still wanted; cancel()
// stops every readout under way there, and leaves alone those started after it.
class Readouts {
  public:
    class Ticket {
      public:
        bool cancelled() const { return owner_->cancels_ != cancels_; }

      private:
        friend class Readouts;
        explicit Ticket(const Readouts& owner) : owner_(&owner), cancels_(owner.cancels_) {}
        const Readouts* owner_;
        uint32_t cancels_;
    };

    Ticket begin() const { return Ticket(*this); }
    void cancel() { ++cancels_; }

  private:
    uint32_t cancels_ = 0;
};

// The runs over the whole loop are objects of the tool, each with its state private and read
// through its accessors. A run's state lives here, with the tool; its behaviour (start, stop, its
// step of the bus task) is defined in its own file of the layer that can do it, and that file
// alone writes the state: the read-all in addresses/read_all.cpp, the LED walk in
// addresses/led_walk.cpp, the simulation in detector/simulation.cpp.

// "Lire tous les détecteurs": the identity and parameters of every found detector, one after
// the other (state Read_All).
class Read_All_Run {
  public:
    enum class Phase : uint8_t { Idle, Running, Finished, Stopped };
    // Why a run stopped before its last detector.
    enum class Stop : uint8_t { By_User, Board_Silent };

    explicit Read_All_Run(Tool& t) : t_(t) {}
    Read_All_Run(const Read_All_Run&) = delete;
    Read_All_Run& operator=(const Read_All_Run&) = delete;

    Phase phase() const { return phase_; }
    bool running() const { return phase_ == Phase::Running; }
    Stop stop_reason() const { return stop_; }                   // once Stopped
    int total() const { return total_; }                         // found when the run began
    int passed() const { return passed_; }                       // detectors gone through so far
    const record::Readout_Counts& read() const { return read_; } // their results
    // Not read: a type with nothing to read, or not reached.
    int unread() const { return total_ - read_.complete - read_.partial - read_.failed; }

    // Starts a run over the found detectors, or says in a box why it cannot; an LED walk under
    // way stops.
    void start();
    // Ends the run under way at once, on screen and for the bus: the readout in progress stops
    // before its next frame, as it does for a newer grid click. Nothing when no run is under way.
    void stop(Stop why = Stop::By_User);
    // State Read_All: reads the next detector, or ends the run past the last.
    void step();

  private:
    void end(Phase how, Stop why);

    Tool& t_;
    Phase phase_ = Phase::Idle;
    Stop stop_ = Stop::By_User;
    uint8_t next_ = 0; // the address to read next, or past the last found
    int passed_ = 0;
    record::Readout_Counts read_;
    int total_ = 0;
};

// "Allumer les LED une à une": each found detector's LED lit in turn, for a chosen time, for a
// walk round the site (state Led_Walk).
class Led_Walk_Run {
  public:
    enum class Phase : uint8_t { Idle, Running };

    explicit Led_Walk_Run(Tool& t) : t_(t) {}
    Led_Walk_Run(const Led_Walk_Run&) = delete;
    Led_Walk_Run& operator=(const Led_Walk_Run&) = delete;

    Phase phase() const { return phase_; }
    bool running() const { return phase_ == Phase::Running; }
    uint8_t lit() const { return lit_; }     // the address lit now, 0 between two
    int seconds() const { return seconds_; } // how long each stays lit, the last walk's

    // Starts a walk over the found detectors, each LED lit `seconds`, or says in a box why it
    // cannot; a read-all under way stops.
    void start(int seconds);
    // Ends a walk under way; the LED lit now is switched off by the next step, unless whatever
    // stopped the walk has the bus first: then it stays the tool's lit LED, as after LED ON.
    void stop();
    // State Led_Walk: the LED lit stays so until its time is up, then the next one comes on.
    void step();
    // V: the LED lit now is seen on site.
    void seen();

  private:
    void end(const QString& how);

    Tool& t_;
    Phase phase_ = Phase::Idle;
    uint8_t next_ = 0; // the address to light next
    uint8_t lit_ = 0;
    int seconds_ = 5;
    QDeadlineTimer until_; // when the one lit goes off
};

// "ETAT DES ADRESSES": the PC plays the control panel and polls every found address in turn
// (states Simulation_Poll and Simulation_Stop). Simulation_Active, which the handlers test, is
// set from its start to its stop step, by it alone; Grid_Locked too, shared with the search.
class Simulation_Run {
  public:
    // Stopping: the stop is asked for, its step follows the step under way.
    enum class Phase : uint8_t { Idle, Running, Stopping };

    explicit Simulation_Run(Tool& t) : t_(t) {}
    Simulation_Run(const Simulation_Run&) = delete;
    Simulation_Run& operator=(const Simulation_Run&) = delete;

    Phase phase() const { return phase_; }

    // The button's start: its caption and Simulation_Active change at once, so that a click
    // always does what the caption shown at that moment says, even when the bus part of an
    // earlier click still waits for the running step to end.
    void start();
    // The button's stop: the stop step is deferred past the running step, whose own next state
    // (the LED state after a new alarm, the poll after the LED state) would otherwise replace it.
    void stop();
    // Ends a run under way at once, as its stop step does, with no exchange. Nothing when no run
    // is under way.
    void stop_now();
    void poll();      // state Simulation_Poll: the next address
    void stop_step(); // state Simulation_Stop

  private:
    void set_phase(Phase phase);
    void watch_board(bool heard);
    void keep_led_lit_before_run();

    Tool& t_;
    Phase phase_ = Phase::Idle;
    // Polls in a row that got no byte back at all.
    int silent_polls_ = 0;
    // The LED the tool had lit when the run started: its first poll switches it off.
    uint8_t led_lit_before_run_ = 0;
};
