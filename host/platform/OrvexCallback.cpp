#include "platform/OrvexCallback.h"

#include <cstdlib>
#include <cstring>

OrvexCallback& OrvexCallback::instance() {
    // Never destroyed: platform code may still ask for it while statics unwind.
    static OrvexCallback* callback = new OrvexCallback;
    return *callback;
}

OrvexCallback::OrvexCallback() {
    const char* perf = std::getenv("VM_PERF");
    perf_ = perf != nullptr && *perf != '\0' && std::strcmp(perf, "0") != 0;
}

bool OrvexCallback::perf() const {
    return perf_;
}
void OrvexCallback::setPerf(bool on) {
    perf_ = on;
}
