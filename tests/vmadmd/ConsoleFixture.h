#pragma once

#include <httplib.h>

#include <nlohmann/json.hpp>
#include <vector>

#include "tests/testing/ChildProgram.h"
#include "tests/testing/VmcfgRunner.h"

// vmadmd run as a child process on an ephemeral loopback port over a fresh
// demo root, with the token it wrote; stopped with SIGTERM after each test.
class ConsoleFixture : public VmcfgFixture {
  protected:
    using Json = nlohmann::json;

    void SetUp() override;
    void TearDown() override;

    // Starts vmadmd (with `extra` arguments) and reads its port from the line
    // it prints when it listens.
    void start(const std::vector<String>& extra = {});
    // SIGTERM, then its exit status (-1 when it did not exit normally).
    int stop() { return vmadmd_.stop(); }

    httplib::Headers headers(const String& token) const {
        return {{"Authorization", "Bearer " + token}};
    }
    httplib::Result post(const String& path, const Json& body, httplib::Headers extra = {});
    Json form(int number, const char* op, const Json& fields);

    ChildProgram vmadmd_;
    int port_ = 0;
    String token_;
};
