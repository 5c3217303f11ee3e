#pragma once
// Time-out values and the millisecond counter the waits are measured with.

#include <cstdint>

// Time-out values in milliseconds: 0 means do not wait.
constexpr int32_t DEFAULT_WAIT = -1;  // use the configured default
constexpr int32_t INFINITE_WAIT = -2; // wait without limit

// A monotonic millisecond counter cut to 32 bits, and the distance between two of its values
// that survives one wrap of the counter.
uint32_t MillisecondTicks();
uint32_t TicksBetween(uint32_t oldTicks, uint32_t newTicks);
