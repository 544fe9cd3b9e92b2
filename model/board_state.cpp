#include "model/board_state.h"

void Board_State::set_answering(bool on) {
    answering_ = on;
    emit changed(Fact::Answering);
}

void Board_State::set_version(int byte) {
    version_ = byte;
    emit changed(Fact::Version);
}

void Board_State::set_short_circuit(bool on) {
    short_circuit_ = on;
    emit changed(Fact::Short_Circuit);
}
