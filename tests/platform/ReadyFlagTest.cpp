#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "host/platform/ReadyFlag.h"

namespace {

// A flag over a pipe: it must rise as soon as a byte is written, by anyone,
// and stay down while nothing is, so that a quiet look costs no system call.
class ReadyFlagTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(::pipe2(ends_, O_NONBLOCK | O_CLOEXEC), 0);
        if (!flag_.watch(ends_[0])) GTEST_SKIP() << "io_uring cannot be used here";
    }
    void TearDown() override {
        flag_.stop();
        ::close(ends_[0]);
        ::close(ends_[1]);
    }
    void put() const { ASSERT_EQ(::write(ends_[1], "x", 1), 1); }
    // What a caller does on a raised flag: settle, then empty the pipe.
    void take() {
        flag_.settle();
        char bytes[64];
        while (::read(ends_[0], bytes, sizeof bytes) > 0) {
        }
    }

    // Makes this thread the request's owner, with the pipe empty: the first
    // settle collects the write, the second arms a request of this thread's
    // on an empty pipe.
    void own() { put(), take(), take(); }

    int ends_[2] = {-1, -1};
    ReadyFlag flag_;
};

// Who writes: this thread, or one that tells this thread through memory
// alone, so that this thread makes no system call between the write and
// its look (a call into the kernel would post the completion and hide a
// flag that the kernel failed to raise).
enum class Writer { Here, Thread, Process };

TEST_F(ReadyFlagTest, RisesAtOnceForEveryWriterAndOnlyThen) {
    auto raisedAfterWrite = [&](Writer writer) {
        if (writer == Writer::Here) return put(), flag_.raised();
        void* shared = ::mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE,
                              MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        auto* written = new (shared) std::atomic<int>(0);
        auto write = [&] {
            bool ok = ::write(ends_[1], "x", 1) == 1;
            written->store(ok ? 1 : 2, std::memory_order_release);
        };
        std::thread thread;
        pid_t child = -1;
        if (writer == Writer::Thread) thread = std::thread(write);
        if (writer == Writer::Process && (child = ::fork()) == 0) write(), std::_Exit(0);
        while (written->load(std::memory_order_acquire) == 0) {
        }
        bool raised = flag_.raised();
        EXPECT_EQ(written->load(), 1) << "the write failed";
        if (thread.joinable()) thread.join();
        if (child > 0) ::waitpid(child, nullptr, 0);
        ::munmap(shared, sizeof(std::atomic<int>));
        return raised;
    };
    own();
    ASSERT_FALSE(flag_.raised()) << "raised with nothing written";
    for (Writer writer : {Writer::Here, Writer::Thread, Writer::Process, Writer::Thread}) {
        SCOPED_TRACE(static_cast<int>(writer));
        EXPECT_TRUE(raisedAfterWrite(writer)) << "the write was not seen at once";
        EXPECT_TRUE(flag_.raised()) << "lowered before it was settled";
        take(), take();
        EXPECT_FALSE(flag_.raised()) << "still raised after the pipe was emptied";
    }
}

// The request belongs to the thread that armed it. When that thread is
// parked, or gone, a write must still raise the flag, and settling from
// another thread must bring it down again.
TEST_F(ReadyFlagTest, ARequestWhoseThreadIsParkedOrGoneStillServes) {
    std::mutex mutex;
    std::condition_variable wake;
    bool armed = false, done = false;
    std::thread owner([&] {
        own();
        std::unique_lock<std::mutex> lock(mutex);
        armed = true;
        wake.notify_all();
        wake.wait(lock, [&] { return done; });
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait(lock, [&] { return armed; });
    }
    EXPECT_FALSE(flag_.raised());
    put();
    EXPECT_TRUE(flag_.raised()) << "the parked owner's request did not raise the flag";
    take(), take();
    EXPECT_FALSE(flag_.raised()) << "another thread could not settle the parked owner's request";
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    wake.notify_all();
    owner.join();

    std::thread([&] { own(); }).join();
    put();
    EXPECT_TRUE(flag_.raised()) << "an ended owner's request did not raise the flag";
    take(), take();
    EXPECT_FALSE(flag_.raised());
}

// A forked child lets go of the parent's ring; the parent's request still
// serves the parent.
TEST_F(ReadyFlagTest, AChildLetsGoWithoutTakingTheParentsRequest) {
    own();
    pid_t child = ::fork();
    if (child == 0) {
        flag_.forget();
        std::_Exit(flag_.raised() ? 0 : 1);  // a flag let go stays raised
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(flag_.raised());
    put();
    EXPECT_TRUE(flag_.raised());
}

}  // namespace
