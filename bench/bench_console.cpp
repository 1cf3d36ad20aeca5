// The console's cost over the form call it carries: a form 2 get of one
// known property through vmadmd's HTTP API on loopback (one kept-alive
// client) against the same request through FormSession in this process, and
// the requests per second vmadmd answers to 8 concurrent clients.
//
// Ratios printed after the run (wall time: the HTTP side works in another
// process, which this process's CPU time does not see):
//   BM_FormGetHttp / BM_BareHttp             goal: within 1.5x. The anchor is
//                                            a bare HTTP round trip on one
//                                            kept-alive connection: the same
//                                            POST answered with a fixed body
//                                            of the same size by an httplib
//                                            server in a child process, kept
//                                            open as vmadmd keeps it
//   BM_FormGetHttp / BM_FormGetInProcess     the HTTP layer's cost over the call
//   BM_FormGetHttp / BM_PageHttp             BM_PageHttp fetches the
//                                            stylesheet, no module, no JSON
//
// It runs "vmcfg init --demo" on "bench-console" under $VM_ROOT (else under
// the temporary directory) and starts the vmadmd built beside it on an
// ephemeral port.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <httplib.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "bench/RatioReporter.h"
#include "host/common/FormSession.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/RunTokenHolder.h"

namespace {

const char* const kBody = R"({"fields":{"0":"MESSAGE","1":"ORVEX Binary Filename"}})";

std::filesystem::path besideThisProgram(const char* name) {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path() / name;
}

// vmadmd as a child on an ephemeral loopback port; stopped with SIGTERM.
struct Console {
    pid_t pid = -1;
    int port = 0;
    String token;

    bool start(const String& root) {
        String program = besideThisProgram("vmadmd"), tokenFile = root + "/bench.token";
        const char* argv[] = {program.c_str(), "--root",       root.c_str(),      "--listen",
                              "127.0.0.1:0",   "--token-file", tokenFile.c_str(), nullptr};
        int out[2];
        if (::pipe(out) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, const_cast<char**>(argv),
                                 environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        String line;
        char c;
        pollfd ready = {out[0], POLLIN, 0};
        while (!failed && ::poll(&ready, 1, 10000) == 1 && ::read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        ::close(out[0]);
        std::size_t colon = line.find(':', line.find("127.0.0.1"));
        if (failed || colon == String::npos) return false;
        port = std::stoi(line.substr(colon + 1));
        std::ifstream(tokenFile) >> token;
        return !token.empty();
    }
    ~Console() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
};

Console console;
FormSession session;

void BM_FormGetInProcess(benchmark::State& state) {
    FormSession::Request request{2, AdmOp::get, {{0, "MESSAGE"}, {1, "ORVEX Binary Filename"}}};
    RunTokenHolder token;
    for (auto _ : state) {
        auto answer = session.call(request);
        if (!answer || answer->outputs.result != 0) state.SkipWithError("the form refused");
        benchmark::DoNotOptimize(answer);
    }
}
BENCHMARK(BM_FormGetInProcess);

// One kept-alive client per benchmark thread.
void BM_FormGetHttp(benchmark::State& state) {
    httplib::Client client("127.0.0.1", console.port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);  // headers and body go out in two writes
    httplib::Headers headers = {{"Authorization", "Bearer " + console.token}};
    for (auto _ : state) {
        auto reply = client.Post("/api/forms/2/get", headers, kBody, "application/json");
        if (!reply || reply->status != 200) state.SkipWithError("the console did not answer");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormGetHttp)->UseRealTime();

void BM_PageHttp(benchmark::State& state) {
    httplib::Client client("127.0.0.1", console.port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    for (auto _ : state) {
        auto reply = client.Get("/console.css");
        if (!reply || reply->status != 200) state.SkipWithError("the console did not answer");
    }
}
BENCHMARK(BM_PageHttp)->UseRealTime();

// A server that answers every POST with a fixed body, in a process of its
// own as vmadmd is: a server thread in the client's own process wakes up
// more cheaply than any server in another process, which is no fair
// yardstick. Forked at the start of main, while this process has no other
// thread; it learns the body's size through a pipe once the console has
// answered, sends its port back, and serves until it is stopped.
struct BareServer {
    pid_t pid = -1;
    int port = 0;
    int toChild = -1, fromChild = -1;

    bool fork() {
        int down[2], up[2];
        if (::pipe(down) != 0 || ::pipe(up) != 0) return false;
        pid = ::fork();
        if (pid == 0) {
            ::close(down[1]);
            ::close(up[0]);
            serve(down[0], up[1]);
        }
        ::close(down[0]);
        ::close(up[1]);
        toChild = down[1];
        fromChild = up[0];
        return pid > 0;
    }

    [[noreturn]] static void serve(int in, int out) {
        std::size_t bodySize = 0;
        if (::read(in, &bodySize, sizeof bodySize) != sizeof bodySize || bodySize == 0)
            std::_Exit(0);
        String body(bodySize, 'x');
        httplib::Server server;
        server.set_tcp_nodelay(true);
        // One connection for the whole run, as vmadmd keeps it. httplib's
        // default closes it every 5 requests, and each new connection's thread
        // starts on the client's CPU: the round trips then never cross CPUs,
        // which is not the work vmadmd's connection does.
        server.set_keep_alive_max_count(10000);
        server.Post(".*", [&](const httplib::Request&, httplib::Response& response) {
            response.set_content(body, "application/json");
        });
        int bound = server.bind_to_any_port("127.0.0.1");
        if (::write(out, &bound, sizeof bound) != sizeof bound || bound <= 0) std::_Exit(1);
        server.listen_after_bind();
        std::_Exit(0);
    }

    // Gives the child the body's size; false when it did not start serving.
    bool start(std::size_t bodySize) {
        if (toChild < 0 || ::write(toChild, &bodySize, sizeof bodySize) != sizeof bodySize ||
            ::read(fromChild, &port, sizeof port) != sizeof port || port <= 0)
            return false;
        httplib::Client probe("127.0.0.1", port);
        for (int waited = 0; waited < 5000; ++waited) {
            if (auto reply = probe.Post("/", "", "application/json"); reply) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    ~BareServer() {
        if (toChild >= 0) ::close(toChild);
        if (fromChild >= 0) ::close(fromChild);
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
};

BareServer bare;

void BM_BareHttp(benchmark::State& state) {
    httplib::Client client("127.0.0.1", bare.port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    httplib::Headers headers = {{"Authorization", "Bearer " + console.token}};
    for (auto _ : state) {
        auto reply = client.Post("/api/forms/2/get", headers, kBody, "application/json");
        if (!reply || reply->status != 200) state.SkipWithError("the bare server did not answer");
    }
}
BENCHMARK(BM_BareHttp)->UseRealTime();
BENCHMARK(BM_FormGetHttp)->UseRealTime()->Threads(8);

// Also keeps the 8-client throughput for the table.
class ConsoleReporter : public RatioReporter {
  public:
    using RatioReporter::RatioReporter;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.threads == 8 && run.run_type == Run::RT_Iteration && !run.error_occurred)
                perSecond = run.counters.at("items_per_second").value;
        RatioReporter::ReportRuns(runs);
    }
    double perSecond = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (!bare.fork()) {
        std::cerr << "bench_console: can't start the bare server" << std::endl;
        return 1;
    }
    RatioReporter::initialize(argc, argv);
    const char* given = std::getenv("VM_ROOT");
    // A folder of its own: the other benchmarks write defaults files of their own.
    std::filesystem::path base = given && *given ? given : std::filesystem::temp_directory_path();
    String root = base / "bench-console";
    std::filesystem::create_directories(root);
    String init = "'" + besideThisProgram("vmcfg").string() + "' --root '" + root +
                  "' init --demo >/dev/null";
    HostPlatform::setRoot(root);
    bool opened = false;
    if (std::system(init.c_str()) == 0) {
        RunTokenHolder token;
        opened = session.open("", std::cerr, "bench_console");
    }
    // The bare server answers with as many bytes as the form's answer has.
    std::size_t answerSize = 0;
    if (opened && console.start(root)) {
        httplib::Client client("127.0.0.1", console.port);
        auto reply = client.Post("/api/forms/2/get", {{"Authorization", "Bearer " + console.token}},
                                 kBody, "application/json");
        answerSize = reply && reply->status == 200 ? reply->body.size() : 0;
    }
    if (answerSize == 0 || !bare.start(answerSize)) {
        std::cerr << "bench_console: can't set up the module and vmadmd on " << root << std::endl;
        return 1;
    }
    ConsoleReporter reporter("bench_console");
    reporter.compare("BM_FormGetHttp/real_time", "BM_BareHttp/real_time", 1.5,
                     RatioReporter::Clock::Wall);
    reporter.compare("BM_FormGetHttp/real_time", "BM_FormGetInProcess", 0,
                     RatioReporter::Clock::Wall);
    reporter.compare("BM_FormGetHttp/real_time", "BM_PageHttp/real_time", 0,
                     RatioReporter::Clock::Wall);
    reporter.run();
    char figure[64];
    std::snprintf(figure, sizeof figure, "%.0f requests/s", reporter.perSecond);
    reporter.note("form 2 get over HTTP, 8 clients", figure);
    reporter.printRatios();
    return 0;
}
