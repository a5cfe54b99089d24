// The simulator's event log: with IBSCAN_SIM_LOG naming a file, one line per API call
// (time, call, arguments, result) and per event raised, so that a whole capture run can be
// followed from outside the process.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace ibsim::log {

// True when the log is being written (checked first, so that a disabled log costs nothing).
bool enabled();

// Writes one line: "<UTC time> <pid> <text>".
void line(std::string_view text);

// Names of the LED bits set in a mask, '+'-separated ("none" for 0).
std::string ledNames(uint32_t mask);

// "name=value" pieces of a call's arguments.
std::string arg(const char* name, int v);
std::string arg(const char* name, uint32_t v);
std::string arg(const char* name, double v);
std::string arg(const char* name, const char* v);
std::string arg(const char* name, const void* v);

// "IBSU_X(a=1, b=2) -> result"
void call(const char* fn, std::initializer_list<std::string> args, int result);

// Re-reads the environment (tests that set IBSCAN_SIM_LOG after the library started).
void reopen();

} // namespace ibsim::log
