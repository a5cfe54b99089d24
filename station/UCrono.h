#pragma once
// A millisecond stopwatch on the system's 32-bit tick count.
#include <cstdint>

class TCrono {
  public:
    void Start();
    void Stop();
    // Stop time − start time when the stop time is the greater (signed comparison), else 0:
    // never negative, also when the clock wrapped or the watch was never stopped.
    int32_t Elapsed() const;

  private:
    int32_t FStartTime = 0;
    int32_t FStopTime = 0;
};
