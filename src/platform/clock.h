// Time for the program's timers and clocks.
#pragma once
#include <cstdint>
#include <ctime>

// Milliseconds on a monotonic clock, wrapping at 32 bits; compare two readings
// by unsigned subtraction.
uint32_t clock_ms();
// Seconds since the epoch (wall clock).
int64_t clock_epoch_seconds();
// Local broken-down time; false when it cannot be read.
bool clock_local_time(std::tm* out);
// Tests can fix the time: clock_test_set_ms() makes clock_ms() read ms and
// freezes the wall clock where it is; clock_test_advance_ms() moves both
// forward (clock_ms() wrapping at 32 bits); clock_test_reset() goes back to
// the real clocks.
void clock_test_set_ms(uint32_t ms);
void clock_test_advance_ms(uint32_t ms);
void clock_test_reset();
