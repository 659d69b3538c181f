// A key event: the simulator's 32-bit event id and its 32-bit value. One type serves the
// host's panel services, scenarios and traces, so that an event passes between them as is.
#pragma once

#include <cstdint>

namespace kestrel {

struct KeyEvent {
    uint32_t id = 0;     // in the host's event space, 0x10000 and up
    uint32_t value = 0;  // commands carry 0; a negative value as its two's-complement word
    bool operator==(const KeyEvent&) const = default;
};

}  // namespace kestrel
