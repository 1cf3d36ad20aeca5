#include "platform/Pause.h"

#include <chrono>
#include <thread>

void tsleep(int ticks) {
    if (ticks > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100) * ticks);
}
