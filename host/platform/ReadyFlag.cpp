#include "host/platform/ReadyFlag.h"

#include <poll.h>
#include <unistd.h>

namespace {

// The kernel sets this in the ring's shared flags when a completion waits
// for its owner thread's next entry into the kernel (cooperative task run).
bool taskRunPending(const io_uring& ring) {
    return (__atomic_load_n(ring.sq.kflags, __ATOMIC_ACQUIRE) & IORING_SQ_TASKRUN) != 0;
}

}  // namespace

bool ReadyFlag::watch(int fd) {
    stop();
    io_uring_params params{};
    // Without these the completion would be posted by an interrupt of the
    // owner thread, after the waker's system call has returned: a look in
    // between would miss it. With them the waker marks the ring itself.
    params.flags = IORING_SETUP_COOP_TASKRUN | IORING_SETUP_TASKRUN_FLAG;
    if (io_uring_queue_init_params(4, &ring_, &params) != 0) return false;
    on_ = true;
    fd_ = fd;
    if (arm()) return true;
    stop();
    return false;
}

bool ReadyFlag::raised() const {
    return !armed_ || io_uring_cq_ready(&ring_) != 0 || taskRunPending(ring_);
}

void ReadyFlag::settle() {
    if (!on_) return;
    if (armed_ && !collect()) {
        // The completion waits for a thread that may not come back to the
        // kernel soon: a new ring, whose request this thread owns.
        int fd = fd_;
        watch(fd);
        return;
    }
    if (!armed_) arm();
}

void ReadyFlag::stop() {
    if (on_) io_uring_queue_exit(&ring_);
    ring_ = io_uring{};
    on_ = armed_ = false;
    fd_ = -1;
}

bool ReadyFlag::arm() {
    io_uring_sqe* sqe = io_uring_get_sqe(&ring_);
    if (sqe == nullptr) return false;
    io_uring_prep_poll_add(sqe, fd_, POLLIN);
    armed_ = io_uring_submit(&ring_) == 1;
    owner_ = ::gettid();
    return armed_;
}

// Takes the fired request's completion; false when it is not to be had
// (still waiting for its owner, another thread).
bool ReadyFlag::collect() {
    if (io_uring_cq_ready(&ring_) == 0) {
        if (!taskRunPending(ring_)) return true;  // not fired: keep it armed
        if (::gettid() != owner_) return false;
        io_uring_get_events(&ring_);
    }
    io_uring_cqe* cqe = nullptr;
    if (io_uring_peek_cqe(&ring_, &cqe) != 0) return false;
    io_uring_cqe_seen(&ring_, cqe);
    armed_ = false;
    return true;
}
