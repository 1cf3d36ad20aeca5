#include "host/platform/FaultInjector.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace {

struct Rule {
    FaultOp op;
    int error;
    String pathContains;
    int skip;
    int times;
};

struct Rules {
    std::mutex mutex;
    std::vector<Rule> rules;
    std::atomic<bool> any{false};
    int injected = 0;
};

Rules& rules() {
    static Rules* r = new Rules;
    return *r;
}

}  // namespace

void FaultInjector::add(FaultOp op, int error, const String& pathContains, int skip, int times) {
    Rules& r = rules();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.rules.push_back(Rule{op, error, pathContains, skip, times});
    r.any = true;
}

void FaultInjector::clear() {
    Rules& r = rules();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.rules.clear();
    r.any = false;
    r.injected = 0;
}

int FaultInjector::check(FaultOp op, const String& platformPath) {
    Rules& r = rules();
    if (!r.any) return 0;  // the common case costs one atomic load
    std::lock_guard<std::mutex> lock(r.mutex);
    for (Rule& rule : r.rules) {
        if (rule.op != op || rule.times == 0) continue;
        if (!rule.pathContains.empty() && platformPath.find(rule.pathContains) == String::npos)
            continue;
        if (rule.skip > 0) {
            --rule.skip;
            continue;
        }
        if (rule.times > 0) --rule.times;
        ++r.injected;
        return rule.error;
    }
    return 0;
}

bool FaultInjector::armed() {
    return rules().any;
}

int FaultInjector::injected() {
    std::lock_guard<std::mutex> lock(rules().mutex);
    return rules().injected;
}
