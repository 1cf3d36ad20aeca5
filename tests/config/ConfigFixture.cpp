#include "tests/config/ConfigFixture.h"

Path ConfigFixture::freshPath() const {
    static int counter = 0;
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    String name = String(test->test_suite_name()) + "." + test->name();
    for (char& c : name)
        if (c == '/') c = '_';
    return Path("/VM/config/" + name + "." + std::to_string(++counter));
}

Path ConfigFixture::writeConfig(const String& content) const {
    Path path = freshPath();
    writeFile(path, content);
    return path;
}

std::unique_ptr<VantorConfigurationInfo> ConfigFixture::readQuietly(const String& content,
                                                                    String& err) const {
    Path path = writeConfig(content);
    StderrCapture capture;
    auto info = std::make_unique<VantorConfigurationInfo>(path, 0);
    err = capture.text();
    return info;
}

String lookup(const VantorConfigurationInfo& info, const String& key) {
    String value;
    Symbol type, typeValue;
    return info.configGet(Symbol(key), value, type, typeValue) ? value : String("<absent>");
}

String dump(const VantorConfigurationInfo& info) {
    String out;
    for (const VantorConfigurationInfoDB* slot : info.precedenceSlots())
        for (const auto& [key, value] : slot->params())
            out += slot->paramType().text() + ":" + key.text() + "=" + value + "\n";
    return out;
}
