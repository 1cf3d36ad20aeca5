#include "tests/testing/PlatformFixture.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "host/platform/FaultInjector.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/HostTrace.h"

void PlatformFixture::SetUp() {
    String pattern = (std::filesystem::temp_directory_path() / "cfgadm-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    HostPlatform::setRoot(root_);
    HostPlatform::setBox(1);
    HostTrace::setLevel(3);
    HostTrace::setStderr(false);
    HostTrace::setLogFile(EmptyPath);
    FaultInjector::clear();
    traces = std::make_unique<TraceCapture>();
    token_ = std::make_unique<RunTokenHolder>();
}

void PlatformFixture::TearDown() {
    token_.reset();
    traces.reset();
    FaultInjector::clear();
    HostPlatform::setRoot("/");
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

String PlatformFixture::hostPath(const Path& path) const {
    return HostPlatform::hostPath(path);
}

void PlatformFixture::writeFile(const Path& path, const String& bytes) const {
    String host = hostPath(path);
    HostPlatform::makeParentDirectories(host);
    std::ofstream out(host, std::ios::binary | std::ios::trunc);
    out << bytes;
}

String PlatformFixture::readFile(const Path& path) const {
    std::ifstream in(hostPath(path), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool PlatformFixture::awaitText(const Path& path, const String& text, int timeoutMs) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (readFile(path).find(text) == String::npos) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::vector<String> PlatformFixture::listDirectory(const Path& directory) const {
    std::vector<String> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(hostPath(directory), error))
        names.push_back(entry.path().filename().string());
    return names;
}

mode_t PlatformFixture::modeOf(const Path& path) const {
    struct stat info;
    return ::stat(hostPath(path).c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

void PlatformFixture::setMtime(const Path& path, time_t seconds) const {
    timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, hostPath(path).c_str(), times, 0), 0) << path;
}
