#pragma once

namespace quillon {

class InstrumentLink;

// File > Reset Instrument: opens the instrument, sends the reset command, closes it.
void reset_instrument(InstrumentLink& link);

}  // namespace quillon
