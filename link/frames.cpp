#include "link/frames.h"

#include "app/tool.h"
#include "link/exchange.h"

bool Send_Command(Tool& t, uint8_t cmd, uint8_t expected) {
    if (!Exchange_Byte(t, cmd, 1)) return false;
    if (t.S.Rx_Has(1) && t.S.Rx(0) == expected) return true;
    t.Last_Fault = Tool::Link_Fault::Wrong_Echo;
    return false;
}

bool Send_Frame(Tool& t, uint8_t p0, uint8_t p1, uint8_t p2, bool flag_a, bool flag_b) {
    const uint8_t header = 0x40 | (flag_a ? 0x01 : 0x00) | (flag_b ? 0x02 : 0x00);
    if (!Send_Command(t, header, header)) return false;
    if (!Send_Command(t, p0, p0)) return false;
    if (!Send_Command(t, p1, p1)) return false;
    return Exchange_Byte(t, p2, flag_b ? 3 : 2);
}
