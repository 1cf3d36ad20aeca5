// mkgf_act: the platform's feature command, as the stand-in has it. The
// feature form runs it after it has written or removed a marker file. It reads
// the marker files in "/VM/config" under the platform root ($VM_ROOT, or
// --root), records the features now active in the trace log and in
// "/vm/run/features.active" (one short name a line), and exits 0. It exits 1
// when "/VM/config" cannot be read or the record cannot be written. It prints
// nothing: its caller's output is not its own. Only regular files are read
// (a FIFO or device there is skipped, never waited on), and the whole run
// has a deadline of kDeadlineSeconds: the form waits for this command, so it
// must end whatever it meets (SIGALRM ends it, and the form reports that the
// command failed). Bad usage exits 2.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "host/common/PlatformRoot.h"
#include "host/common/UsageError.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/HostTrace.h"

namespace {

const String kPrefix = "Marker file for ";
const String kSuffix = " custom ";
constexpr unsigned kDeadlineSeconds = 10;
// A marker's first line is short; more is never read.
constexpr std::size_t kFirstLineMax = 4096;

// The first line of a regular file; nothing for anything else. The open
// neither follows a link nor waits for a FIFO's writer.
std::optional<String> firstLine(int directory, const char* name) {
    int fd = ::openat(directory, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat info;
    std::optional<String> line;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        char buffer[kFirstLineMax];
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n >= 0) {
            String text(buffer, static_cast<std::size_t>(n));
            line = text.substr(0, text.find('\n'));
        }
    }
    ::close(fd);
    return line;
}

// The short name a marker file's first line carries, or nothing when the
// entry is not a feature marker.
std::optional<String> shortName(int directory, const char* name) {
    std::optional<String> first = firstLine(directory, name);
    if (!first) return std::nullopt;
    const String& line = *first;
    if (line.rfind(kPrefix, 0) != 0 || line.size() < kPrefix.size() + kSuffix.size() ||
        line.compare(line.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
        return std::nullopt;
    return line.substr(kPrefix.size(), line.size() - kPrefix.size() - kSuffix.size());
}

std::optional<std::vector<String>> activeFeatures() {
    String directory = HostPlatform::hostPath("/VM/config");
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) return std::nullopt;
    std::vector<String> active;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        if (auto name = shortName(::dirfd(dir), entry->d_name)) active.push_back(*name);
    }
    ::closedir(dir);
    std::sort(active.begin(), active.end());
    return active;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"mkgf_act: applies the feature marker files of the platform"};
    std::optional<String> root;
    app.add_option("--root", root,
                   "Platform root directory (default: $VM_ROOT, else VM_ROOT of the platform "
                   "defaults file, else /)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Bad usage is 2, as for the other programs: 1 means the markers
        // could not be applied.
        return UsageError::report(app, e, "mkgf_act", std::cerr);
    }
    ::alarm(kDeadlineSeconds);
    PlatformRoot::settle(root);

    std::optional<std::vector<String>> active = activeFeatures();
    if (!active) {
        HostTrace::record(1, "mkgf_act: can't read /VM/config");
        return 1;
    }
    std::ostringstream list, lines;
    for (const String& name : *active) {
        list << (list.tellp() > 0 ? ", " : "") << name;
        lines << name << '\n';
    }
    HostTrace::record(
        1, "mkgf_act: active features: " + (active->empty() ? String("none") : list.str()));
    String record = HostPlatform::hostPath("/vm/run/features.active");
    HostPlatform::makeParentDirectories(record);
    std::ofstream out(record, std::ios::trunc);
    out << lines.str();
    return out.flush() ? 0 : 1;
}
