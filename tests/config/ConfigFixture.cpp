#include "tests/config/ConfigFixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

Path ConfigFixture::writeConfig(const String& content) const {
    static int counter = 0;
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    String name = String(test->test_suite_name()) + "." + test->name();
    for (char& c : name)
        if (c == '/') c = '_';
    Path path("/VM/config/" + name + "." + std::to_string(++counter));
    writeFile(path, content);
    return path;
}

std::unique_ptr<VantorConfigurationInfo> ConfigFixture::readQuietly(const String& content,
                                                                    String& err) const {
    Path path = writeConfig(content);
    StderrCapture capture;
    auto info = std::make_unique<VantorConfigurationInfo>(path, 0);
    err = capture.text();
    for (std::size_t at; (at = err.find(path.text())) != String::npos;)
        err.replace(at, path.text().size(), "@");
    return info;
}

String lookup(const VantorConfigurationInfo& info, const String& key) {
    String value;
    Symbol type, typeValue;
    return info.configGet(Symbol(key), value, type, typeValue) ? value : String("<absent>");
}

String types(const VantorConfigurationInfo& info) {
    String out;
    for (const VantorConfigurationInfoDB* slot : info.precedenceSlots())
        out += (out.empty() ? "" : " ") + slot->paramType().text() + "=" + slot->paramValue();
    return out;
}

String dump(const VantorConfigurationInfo& info) {
    String out;
    for (const VantorConfigurationInfoDB* slot : info.precedenceSlots())
        for (const auto& [key, value] : slot->params())
            out += slot->paramType().text() + ":" + key.text() + "=" + value + "\n";
    return out;
}

std::jthread ConfigFixture::fifoAndDevice() const {
    using namespace std::chrono_literals;
    String fifo = hostPath("/VM/config/fifo");
    std::filesystem::create_directories(hostPath("/VM/config"));
    EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Links are followed inside the root, so the device they lead to must be
    // there; without the right to make one, a link to the FIFO stands in.
    std::filesystem::create_directories(hostPath("/dev"));
    bool device = ::mknod(hostPath("/dev/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    std::filesystem::create_symlink(device ? "/dev/null" : "fifo", hostPath("/VM/config/device"));
    return std::jthread([fifo](std::stop_token stop) {
        for (auto deadline = std::chrono::steady_clock::now() + 10s; !stop.stop_requested();
             std::this_thread::sleep_for(20ms))
            if (std::chrono::steady_clock::now() > deadline)
                ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
    });
}
