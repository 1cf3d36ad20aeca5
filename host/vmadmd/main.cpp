// vmadmd: the web administration console. It loads the module as the
// platform's administration server does (FormSession), then the views that
// call the module's functions (ModuleApi: vmadmd links nothing of the
// module, so that the module it serves is the one it names), serves the page and
// the JSON API of ConsoleServer on a loopback address, and stops cleanly on
// SIGTERM or SIGINT. `vmadmd user add|rm|list` manage the named users
// instead (UserCommands). Exit status: 0 stopped by a signal (or a user
// command done); 1 could not serve (module, token or users file, address) or
// a user command refused; 2 bad usage.

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "config_adm_version.h"
#include "host/common/PlatformCommands.h"
#include "host/common/PlatformRoot.h"
#include "host/common/StopSignals.h"
#include "host/common/UsageError.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/HostTrace.h"
#include "host/platform/RunTokenHolder.h"
#include "host/vmadmd/ConsoleApi.h"
#include "host/vmadmd/ConsoleAuth.h"
#include "host/vmadmd/ConsoleServer.h"
#include "host/vmadmd/ModuleApi.h"
#include "host/vmadmd/TokenFile.h"
#include "host/vmadmd/UserCommands.h"
#include "host/vmadmd/UsersFile.h"

namespace {

struct Options {
    std::optional<String> root;
    String listen = "127.0.0.1:8470";
    std::optional<String> tokenFile;
    std::optional<String> usersFile;
    double idleMinutes = 30;
    String userName;
    bool replace = false;
    String module;
    std::optional<int> box;
    std::optional<int> traceLevel;
};

// "HOST:PORT" with an IPv6 host in brackets; false when it is not that.
bool splitListen(const String& listen, String& host, int& port) {
    std::size_t colon = listen.rfind(':');
    if (colon == String::npos || colon == 0) return false;
    host = listen.substr(0, colon);
    if (host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    String digits = listen.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != String::npos)
        return false;
    port = std::stoi(digits);
    return port <= 65535;
}

// "vmadmd (config_adm) VERSION" and the version of the module it loads by
// default.
String versionText() {
    String text = std::string("vmadmd (config_adm) ") + CFGADM_VERSION + "\nmodule libconfig_adm ";
    RunTokenHolder runToken;  // held until the module is unloaded
    ModuleApi module;
    return text + (module.load("", std::cerr) ? module.calls().moduleVersion() : "not loaded");
}

// Waits on its own thread for a stop signal (then stops the server) or for
// the end of serving (a byte on `done`). The server's stop() is no call for
// a signal handler; a thread reading the signals may make it.
void watchSignals(int signalFd, int done, ConsoleServer& server, bool& signalled) {
    pollfd fds[2] = {{signalFd, POLLIN, 0}, {done, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0 && errno == EINTR) continue;
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info;
            if (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                signalled = true;
                server.stop();
            }
        }
        return;
    }
}

String usersPath(const Options& options) {
    return options.usersFile.value_or(HostPlatform::hostPath(Path("/vm/run/vmadmd.users")));
}

// The shared token (made when its file is missing) and whether the users
// file names users; false with the reason on standard error.
bool credentials(const String& tokenPath, String& token, UsersFile& users, bool& named) {
    String error;
    std::vector<UsersFile::User> held;
    if (TokenFile::obtain(tokenPath, token, error) && users.load(held, named, error)) return true;
    std::cerr << "vmadmd: " << error << std::endl;
    return false;
}

int serve(const Options& options, const String& host, int port) {
    String tokenPath =
        options.tokenFile.value_or(HostPlatform::hostPath(Path("/vm/run/vmadmd.token")));
    String token;
    UsersFile users(usersPath(options));
    bool named = false;
    if (!credentials(tokenPath, token, users, named)) return 1;
    const auto idle = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double, std::ratio<60>>(options.idleMinutes));
    ConsoleAuth auth(token, users, idle);
    auto module = std::make_unique<ModuleApi>();
    {
        RunTokenHolder runToken;
        if (!module->load(options.module, std::cerr)) return 1;
    }
    int signalFd = stopSignals();
    int done[2];
    if (signalFd < 0 || ::pipe2(done, O_CLOEXEC) != 0) {
        std::cerr << "vmadmd: can't take the stop signals: " << std::strerror(errno) << std::endl;
        return 1;
    }
    ConsoleApi api(*module, HostPlatform::root());
    ConsoleServer server(api, auth);
    int bound = server.bind(host, port);
    if (bound < 0) {
        std::cerr << "vmadmd: can't listen on " << options.listen << ": " << std::strerror(errno)
                  << std::endl;
        return 1;
    }
    String shownHost = host.find(':') != String::npos ? "[" + host + "]" : host;
    std::cout << "vmadmd: listening on http://" << shownHost << ":" << bound << "/ token file "
              << tokenPath << (named ? " users file " + users.path() : String()) << std::endl;
    bool signalled = false;
    std::thread watcher(watchSignals, signalFd, done[0], std::ref(server), std::ref(signalled));
    bool served = server.run();
    (void)!::write(done[1], "x", 1);
    watcher.join();
    RunTokenHolder runToken;  // the module is unloaded under the token as it was loaded
    module.reset();
    return signalled || served ? 0 : 1;
}

}  // namespace

// `vmadmd user add NAME [--replace]`, `user rm NAME`, `user list`; the
// global options may come before or after them.
void addUserCommands(CLI::App& app, Options& options) {
    CLI::App* user = app.add_subcommand(
        "user", "Manage the console's named users (the users file) instead of serving");
    user->require_subcommand(1);
    user->fallthrough();
    CLI::App* add = user->add_subcommand(
        "add",
        "Add user NAME and print a new token for them, once, on one line (only a salted "
        "hash of it is stored)");
    add->add_option("NAME", options.userName, "1 to 32 of A-Z a-z 0-9 . _ -")->required();
    add->add_flag("--replace", options.replace,
                  "Give an existing user a new token (their sessions end)");
    CLI::App* remove = user->add_subcommand(
        "rm", "Remove user NAME; a running vmadmd ends their sessions at their next request");
    remove->add_option("NAME", options.userName, "The user's name")->required();
    user->add_subcommand("list", "Print the users' names, one a line");
    for (CLI::App* command : user->get_subcommands({})) command->fallthrough();
}

int userCommand(const CLI::App& app, const Options& options) {
    const CLI::App* user = app.get_subcommand("user");
    UsersFile file(usersPath(options));
    if (user->got_subcommand("add"))
        return UserCommands::add(file, options.userName, options.replace, std::cout, std::cerr);
    if (user->got_subcommand("rm")) return UserCommands::remove(file, options.userName, std::cerr);
    return UserCommands::list(file, std::cout, std::cerr);
}

// The options of serving, which the user commands share.
void addOptions(CLI::App& app, Options& options) {
    app.set_version_flag("--version", versionText);
    app.add_option("--root", options.root,
                   "Platform root directory (default: $VM_ROOT, else VM_ROOT of the platform "
                   "defaults file, else /)");
    app.add_option("--listen", options.listen, "Address and port to listen on (port 0: any)")
        ->capture_default_str();
    app.add_option("--token-file", options.tokenFile,
                   "Shared token file, used while there is no users file; mode 0600 "
                   "(default: ROOT/vm/run/vmadmd.token)");
    app.add_option("--users-file", options.usersFile,
                   "Named users file, mode 0600 (default: ROOT/vm/run/vmadmd.users); while it "
                   "exists the shared token is refused");
    app.add_option("--idle-minutes", options.idleMinutes,
                   "Minutes a signed-in session may stay unused before it ends (fractions "
                   "allowed: 0.5 is 30 seconds)")
        ->check(CLI::Range(0.05, 7.0 * 24 * 60))
        ->capture_default_str();
    app.add_option("--module", options.module, "The module to load (default: beside vmadmd)");
    app.add_option("--box", options.box, "Processor box number of this process")
        ->check(CLI::Range(0, 65535));
    app.add_option("--trace-level", options.traceLevel, "Platform trace level")
        ->check(CLI::Range(0, 9));
}

int main(int argc, char** argv) {
    CLI::App app{"vmadmd: web administration console of the configuration module"};
    Options options;
    addOptions(app, options);
    addUserCommands(app, options);
    // Set after the commands, which would repeat it in their own help.
    app.footer(
        "Users sign in with a token: each named user's own (vmadmd user add NAME prints it), or, "
        "while there is no users file, the shared token of the token file. A signed-in session "
        "ends on sign-out, after --idle-minutes unused, when its user is removed or given a new "
        "token, or when vmadmd stops.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return UsageError::report(app, e, "vmadmd", std::cerr);
    }
    String host;
    int port = 0;
    if (!splitListen(options.listen, host, port)) {
        std::cerr << "vmadmd: --listen takes ADDRESS:PORT (got '" << options.listen << "')"
                  << std::endl;
        return 2;
    }
    std::error_code ignored;
    if (options.root && !std::filesystem::is_directory(*options.root, ignored)) {
        std::cerr << "vmadmd: --root " << *options.root << ": not a directory" << std::endl;
        return 2;
    }
    findPlatformCommandsBesideThisProgram();
    PlatformRoot::settle(options.root);
    if (options.box) HostPlatform::setBox(static_cast<std::uint16_t>(*options.box));
    if (options.traceLevel) HostTrace::setLevel(*options.traceLevel);
    if (app.got_subcommand("user")) return userCommand(app, options);
    return serve(options, host, port);
}
