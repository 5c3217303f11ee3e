#include "transport/Ticks.h"

#include <chrono>

uint32_t MillisecondTicks() {
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count());
}

uint32_t TicksBetween(uint32_t oldTicks, uint32_t newTicks) {
    if (newTicks >= oldTicks)
        return newTicks - oldTicks;
    return newTicks + (UINT32_MAX - oldTicks);
}
