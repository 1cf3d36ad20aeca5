#pragma once

#include <atomic>

// The platform's callback service of a process. The module uses only its
// performance switch, which says whether usage marks are to be timed.
class OrvexCallback {
  public:
    // The process's one callback object, created on the first call (thread
    // safe) and kept until the process ends.
    static OrvexCallback& instance();
    // Whether calls under a usage mark are timed. Off unless the host switches
    // it on (or $VM_PERF is set to a non-empty value other than "0").
    bool perf() const;
    void setPerf(bool on);

  private:
    OrvexCallback();
    std::atomic<bool> perf_;
};
