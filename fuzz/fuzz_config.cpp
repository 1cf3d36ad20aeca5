// The configuration-parameter reader on arbitrary files. Commands of $(...)
// terms must never run here: the fault injector makes every Process::popen
// fail before the shell is reached, the environment is emptied, and popen(3)
// itself is replaced in this program by a trap, so a command that got past
// the platform layer would stop the run instead of running.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "config/ConfigurationParser.h"
#include "config/VantorConfigurationInfo.h"
#include "fuzz/FuzzSupport.h"
#include "host/platform/FaultInjector.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/RunTokenHolder.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "platform/RegexIterator.h"

extern "C" FILE* popen(const char*, const char*) {
    fuzz::fail("popen(3) was called: a command would have run", __FILE__, __LINE__);
}

namespace {

const Path kFile("/VM/config/fuzz_params");

// Each term as "<kind>:<text>|", the subexpression telling the kind.
String describe(const RegexMatch& match) {
    for (std::size_t i : {3, 5, 6})
        if (match.matched(i)) return std::to_string(i) + ":" + match.str(i) + "|";
    return "none|";
}

// Matching an expression in pieces must yield exactly the terms of one
// iteration over the whole expression.
void checkTerms(const String& expression) {
    static const Regex& termRegex = *new Regex(ConfigurationParser::precedenceExpressionRE);
    String whole, pieces;
    RegexIterator terms(termRegex, expression);
    RegexMatch match;
    while (terms.next(match)) whole += describe(match);
    ConfigurationParser::forEachTerm(expression, [&](const RegexMatch& m) {
        pieces += describe(m);
        return true;
    });
    FUZZ_CHECK(pieces == whole);
}

// Everything a reader holds, in slot order.
String dump(const VantorConfigurationInfo& info) {
    String out;
    for (const VantorConfigurationInfoDB* slot : info.precedenceSlots()) {
        out += slot->paramType().text() + "=" + slot->paramValue() + "\n";
        for (const auto& [key, value] : slot->params()) out += key.text() + "=" + value + "\n";
    }
    return out;
}

// Lookups answer from the first slot, in declaration order, that holds the key.
void checkLookups(const VantorConfigurationInfo& info) {
    const auto& slots = info.precedenceSlots();
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const VantorConfigurationInfoDB& slot = *slots[i];
        // A type is declared once: its name finds its own slot.
        FUZZ_CHECK(info.paramValue(slot.paramType()) == slot.paramValue());
        FUZZ_CHECK(slot.paramValueSymbol().text() == slot.paramValue());
        for (std::size_t j = 0; j < i; ++j)
            FUZZ_CHECK(!(slots[j]->paramType() == slot.paramType()));
        for (const auto& [key, value] : slot.params()) {
            std::size_t first = 0;
            while (slots[first]->params().count(key) == 0) ++first;
            String found;
            Symbol type, typeValue;
            FUZZ_CHECK(info.configGet(key, found, type, typeValue));
            FUZZ_CHECK(type == slots[first]->paramType());
            FUZZ_CHECK(typeValue.text() == slots[first]->paramValue());
            FUZZ_CHECK(found == slots[first]->params().at(key));
        }
    }
}

void writeInput(const std::uint8_t* data, std::size_t size) {
    std::ofstream out(HostPlatform::hostPath(kFile), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    FUZZ_CHECK(out.good());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::setUpOnce();
    // Nothing from the caller's environment reaches a term or a shell; two
    // harmless variables give ${...} terms something to find.
    clearenv();
    setenv("PATH", (fuzz::root() + "/no-commands").c_str(), 1);
    setenv("FUZZ_SITE", "east", 1);
    setenv("FUZZ_NODE", "vm7", 1);
    FaultInjector::clear();
    FaultInjector::add(FaultOp::Popen, EPERM, String(), 0, -1);
    // The refusal must come from the platform layer, before popen(3).
    errno = 0;
    FUZZ_CHECK(Process::popen("true", "r") == nullptr && errno == EPERM);
    FUZZ_CHECK(FileSystem::makeDirectories(Path("/VM/config")));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RunTokenHolder token;
    writeInput(data, size);
    int refusedBefore = FaultInjector::injected();

    // A reader that parses for itself (a quiet shared reader would parse each
    // path only once per process); the constructor finds no file.
    VantorConfigurationInfo quiet(0UL);
    bool quietOk = quiet.parse_file(kFile);
    checkLookups(quiet);

    // The same file at a high debug level: diagnostics change nothing read.
    VantorConfigurationInfo chatty(101UL);
    bool chattyOk = chatty.parse_file(kFile);
    FUZZ_CHECK(quietOk == chattyOk);
    FUZZ_CHECK(dump(quiet) == dump(chatty));

    // Without a command term there is nothing to refuse.
    String input(reinterpret_cast<const char*>(data), size);
    if (input.find("$(") == String::npos) FUZZ_CHECK(FaultInjector::injected() == refusedBefore);

    // Each line as one expression: the piecewise matcher against one pass.
    for (std::size_t from = 0; from <= input.size();) {
        std::size_t end = std::min(input.find('\n', from), input.size());
        checkTerms(input.substr(from, end - from));
        from = end + 1;
    }
    return 0;
}
