#pragma once
// The system's millisecond tick count, truncated to 32 bits so it wraps like the classic
// multimedia timer. Tests replace the source to step time without sleeping.
#include <cstdint>
#include <functional>

namespace platform {

uint32_t TickCount();

// Replaces the clock source; an empty function restores the steady clock.
void SetTickSourceForTesting(std::function<uint32_t()> source);

} // namespace platform
