#include "tests/testing/FullDisk.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/platform/HostPlatform.h"

namespace {

// A tmpfs this small fills in a moment; LMDB's first pages alone need more.
const char kMountOptions[] = "size=256k,mode=0777";

void writeAll(int fd, const String& text) {
    for (std::size_t done = 0; done < text.size();) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

// Fills the file system holding `directory` until a write is refused.
bool fill(const String& directory) {
    String filler = directory + "/.filler";
    int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    char block[4096] = {};
    while (::write(fd, block, sizeof block) > 0) {
    }
    bool full = errno == ENOSPC;
    ::close(fd);
    return full;
}

// The child's side: 'S' and a reason when the disk could not be made, else
// 'R' and the report.
String runInChild(const Path& directory, const std::function<String()>& code) {
    String host = HostPlatform::hostPath(directory);
    HostPlatform::makeParentDirectories(host + "/.");
    if (::unshare(CLONE_NEWNS) != 0) return String("Scan't unshare: ") + std::strerror(errno);
    // Mounts made here must not reach the parent's namespace.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", host.c_str(), "tmpfs", 0, kMountOptions) != 0)
        return String("Scan't mount a tmpfs: ") + std::strerror(errno);
    if (!fill(host)) return String("Scan't fill the tmpfs: ") + std::strerror(errno);
    return "R" + code();
}

}  // namespace

FullDisk::Outcome FullDisk::run(const Path& directory, const std::function<String()>& code) {
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0) return {"no pipe", 0, ""};
    pid_t child = ::fork();
    if (child < 0) {
        ::close(channel[0]);
        ::close(channel[1]);
        return {"no child", 0, ""};
    }
    if (child == 0) {
        ::close(channel[0]);
        writeAll(channel[1], runInChild(directory, code));
        ::_exit(0);
    }
    ::close(channel[1]);
    String said;
    char buffer[4096];
    for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        said.append(buffer, static_cast<std::size_t>(n));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    Outcome outcome;
    if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
    if (!said.empty() && said[0] == 'S')
        outcome.skipped = said.substr(1);
    else if (!said.empty())
        outcome.report = said.substr(1);
    return outcome;
}
