#pragma once

#include <cstddef>
#include <cstdint>
#include <streambuf>

#include "platform/String.h"
#include "properties/Properties.h"

// What every fuzz target shares: a scratch platform root, a quiet trace, a
// property set without a store, and a check that stops the run.
namespace fuzz {

// Once per process: makes a fresh platform root (mkdtemp under $TMPDIR or
// /tmp, removed at a normal exit) with "/vm/tmp" in it, turns the trace off
// (level 0, no log file, nothing on standard error) and silences std::cerr,
// whose module messages would otherwise drown the fuzzer's own output.
void setUpOnce();

// The host directory of the scratch root.
const String& root();

// Reports the failed check on standard error and stops with a trap, which
// libFuzzer records as a crash with the input that caused it.
[[noreturn]] void fail(const char* what, const char* file, int line);

// The text stream of a set, as save(std::ostream&) writes it; stops the run
// when writing fails.
String written(const Properties& set);

// Number of entries in the scratch root's "/vm/tmp": every value file must be
// gone once the last handle on it is.
std::size_t temporaryFiles();

// Reads the input from front to back; past the end every read yields 0, so a
// short input is a valid (short) program.
class Bytes {
  public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    std::uint8_t next() { return at_ < size_ ? data_[at_++] : 0; }
    // Up to n bytes (fewer at the end of the input).
    String take(std::size_t n);

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// A stream buffer that drops everything written to it.
class NullBuffer : public std::streambuf {
  protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

}  // namespace fuzz

#define FUZZ_CHECK(condition)                                           \
    do {                                                                \
        if (!(condition)) ::fuzz::fail(#condition, __FILE__, __LINE__); \
    } while (0)

// A property set with no store: reads and writes only through the text stream
// and the access operations, with the kind (known properties) it is given.
class FuzzProperties : public Properties {
  public:
    using Properties::obtain;

    explicit FuzzProperties(knownInfo& kind) : kind_(&kind) {}

    bool obtain(bool) override { return false; }
    bool underlierChanged() const override { return false; }
    PropertiesStatus getStatus() const override { return 0; }
    Symbol myFactoryName() const override { return Symbol("FuzzProperties"); }
    PropertiesID myKey() const override { return PropertiesID(String("/fuzz")); }
    void putStatus(const PropertiesStatus&) override {}
    bool saveThem() override {
        error_ = CANT_OPEN;
        return false;
    }
    bool underlierKnown() const override { return false; }
    knownInfo& getKnown() override { return *kind_; }

  private:
    knownInfo* kind_;
};
