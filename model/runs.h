#pragma once
#include <cstdint>

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
