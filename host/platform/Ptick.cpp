#include "platform/Ptick.h"

#include <chrono>

std::int64_t get_ptick() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}
