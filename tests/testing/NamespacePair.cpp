#include "tests/testing/NamespacePair.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace {

std::string tail(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

NamespacePair::NamespacePair() : subnet_(static_cast<int>(::getpid() % 250) + 1) {
    std::string tag = "vm" + std::to_string(::getpid());
    names_[0] = tag + "a";
    names_[1] = tag + "b";
    bridge_ = tag + "br";
}

NamespacePair::~NamespacePair() {
    if (!created_) return;
    for (const std::string& name : names_) {
        ip("netns pids " + name + " | xargs -r kill -9");
        ip("netns del " + name);
    }
    ip("link del " + bridge_);
}

std::string NamespacePair::address(int side) const {
    return "10.199." + std::to_string(subnet_) + "." + (side == 2 ? "254" : side ? "2" : "1");
}

std::string NamespacePair::link(int side) const {
    return bridge_ + (side ? "y" : "x");
}

bool NamespacePair::ip(const std::string& arguments, std::string* error) const {
    std::string log = "/tmp/" + bridge_ + ".log";
    std::string command = "ip " + arguments + " >" + log + " 2>&1";
    bool ok = std::system(command.c_str()) == 0;
    if (!ok && error) *error = command + ": " + tail(log);
    ::unlink(log.c_str());
    return ok;
}

bool NamespacePair::create(std::string& error) {
    if (::geteuid() != 0) return error = "needs root (network namespaces)", false;
    if (std::system("command -v ip >/dev/null") != 0) return error = "no ip command", false;
    // Whatever happens below, the destructor cleans up what was made.
    created_ = true;
    std::string prefix = "/24";
    if (!ip("link add " + bridge_ + " type bridge", &error) ||
        !ip("addr add " + address(2) + prefix + " dev " + bridge_, &error) ||
        !ip("link set " + bridge_ + " up", &error))
        return false;
    for (int side = 0; side < 2; ++side) {
        const std::string& ns = names_[side];
        std::string inner = link(side) + "i";
        if (!ip("netns add " + ns, &error) ||
            !ip("link add " + link(side) + " type veth peer name " + inner, &error) ||
            !ip("link set " + inner + " netns " + ns, &error) ||
            !ip("link set " + link(side) + " master " + bridge_ + " up", &error) ||
            !ip("-n " + ns + " addr add " + address(side) + prefix + " dev " + inner, &error) ||
            !ip("-n " + ns + " link set " + inner + " up", &error) ||
            !ip("-n " + ns + " link set lo up", &error))
            return false;
    }
    return true;
}

bool NamespacePair::setLink(int side, bool up) {
    return ip("link set " + link(side) + (up ? " up" : " down"));
}

bool NamespacePair::limitRate(int side, int kbit) {
    if (kbit == 0)
        return ip("netns exec " + names_[side] + " tc qdisc del dev " + link(side) + "i root");
    return ip("netns exec " + names_[side] + " tc qdisc replace dev " + link(side) +
              "i root tbf rate " + std::to_string(kbit) + "kbit burst 4kb latency 10s");
}

NamespacePair::Inside::Inside(const NamespacePair& pair, int side) {
    home_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    int ns = ::open(("/run/netns/" + pair.name(side)).c_str(), O_RDONLY | O_CLOEXEC);
    entered_ = home_ >= 0 && ns >= 0 && ::setns(ns, CLONE_NEWNET) == 0;
    if (ns >= 0) ::close(ns);
}

NamespacePair::Inside::~Inside() {
    if (entered_) ::setns(home_, CLONE_NEWNET);
    if (home_ >= 0) ::close(home_);
}
