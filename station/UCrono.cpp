#include "UCrono.h"

#include "Clock.h"

void TCrono::Start() {
    FStartTime = static_cast<int32_t>(platform::TickCount());
}
void TCrono::Stop() {
    FStopTime = static_cast<int32_t>(platform::TickCount());
}

int32_t TCrono::Elapsed() const {
    if (FStopTime > FStartTime)
        return static_cast<int32_t>(static_cast<int64_t>(FStopTime) - FStartTime);
    return 0;
}
