// The set's text stream, the save path and the process-wide records of the
// property system (registry, own box, error names).

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <optional>
#include <ostream>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Identity.h"
#include "platform/LineReader.h"
#include "platform/Trace.h"
#include "properties/DecimalDigits.h"
#include "properties/GetArea.h"
#include "properties/Properties.h"
#include "properties/RecordReader.h"
#include "properties/RecordWriter.h"

namespace {

const String kVersionHeader = "component-file-version=";
const String kCountHeader = "number of properties=";

// The number after `header` on a line that is exactly `header` and a run of
// decimal digits, or -1.
long numberAfter(std::string_view line, const String& header) {
    if (line.size() <= header.size() || line.compare(0, header.size(), header) != 0) return -1;
    long number = 0;
    for (char c : line.substr(header.size())) {
        if (c < '0' || c > '9') return -1;
        // Saturates at LONG_MAX, as strtol does.
        const int digit = c - '0';
        number = number > (LONG_MAX - digit) / 10 ? LONG_MAX : number * 10 + digit;
    }
    return number;
}

// The number on a header line that is exactly `header` and a run of decimal
// digits, or -1; empty lines before it are skipped. Gives what get_long
// gives with the pattern "^<header>([0-9]+)$", without running a pattern
// twice for every set read (a record of a few properties is mostly header).
// A line that lies whole in the stream's buffer is read from there.
long headerNumber(std::istream& in, const String& header) {
    if (std::streambuf* buffer = in.good() ? in.rdbuf() : nullptr) {
        const char* start = GetArea::next(buffer);
        const char* end = GetArea::end(buffer);
        const char* line = start;
        while (line != end && *line == '\n') ++line;
        const void* eol = line == end ? nullptr : std::memchr(line, '\n', end - line);
        // The buffer moves on by an int: a longer line goes the slow way.
        if (eol != nullptr && static_cast<const char*>(eol) - start < INT_MAX) {
            const char* stop = static_cast<const char*>(eol);
            GetArea::consume(buffer, static_cast<int>(stop + 1 - start));
            return numberAfter(std::string_view(line, static_cast<std::size_t>(stop - line)),
                               header);
        }
    }
    String line;
    LineReader::Result read;
    do read = LineReader::read(in, line);
    while (read == LineReader::Line && line.empty());
    return read == LineReader::Line ? numberAfter(line, header) : -1;
}

const String kErrorNames[] = {"NO_ERROR",        "CANT_OPEN",       "CANT_PARSE_VERSION",
                              "UNKNOWN_VERSION", "CANT_PARSE_FILE", "OS_SYSTEM_ERROR"};

}  // namespace

std::uint16_t Properties::myPBox = 0;
std::map<Symbol, Properties*>* Properties::factoryDB = nullptr;

long Properties::length() {
    if (!modified_) {
        std::int32_t estimate = estimateLength();
        if (estimate >= 0) return estimate;
    }
    std::size_t n = count();
    if (n == 0) return 0;
    // Predicted, not formatted: what save(std::ostream&) would write.
    unsigned long total = kVersionHeader.size() + decimalDigits(version_) + 1 +
                          kCountHeader.size() + decimalDigits(n) + 1;
    return static_cast<long>(total + recordsLength());
}

std::size_t Properties::recordsLength() const {
    std::size_t total = 0;
    for (const auto& [name, instances] : properties_)
        for (const StoredProperty& property : instances) total += property.length(name) + 1;
    return total;
}

std::size_t Properties::writeRecords(RecordWriter& writer) const {
    std::size_t n = 0;
    for (const auto& [name, instances] : properties_)
        for (const StoredProperty& property : instances) {
            writer.record(name, property, true);
            ++n;
        }
    return n;
}

void Properties::write(RecordWriter& writer) const {
    // The count comes first in the stream and goes out before the rest when
    // the text is handed over in chunks, so it is taken beforehand here.
    writer.reserve(textHint_);
    writer.header(kVersionHeader, version_);
    writer.header(kCountHeader, count());
    writeRecords(writer);
}

bool Properties::save(std::ostream& out) const {
    RecordWriter writer(&out);
    write(writer);
    textHint_ = writer.total();
    return writer.finish();
}

Properties::StreamText Properties::streamText() const {
    // The records go after room for the longest headers, and the headers
    // are written last, right before the records, once the walk has counted
    // them: one walk of the set, and no copy of the text to close the gap.
    constexpr std::size_t numberDigits = 20;
    const std::size_t room = kVersionHeader.size() + kCountHeader.size() + 2 * (numberDigits + 1);
    RecordWriter writer(nullptr);
    writer.reserve(std::max(textHint_, room + 256));
    writer.text().append(room, ' ');
    std::size_t n = writeRecords(writer);
    RecordWriter headers(nullptr);
    headers.header(kVersionHeader, version_);
    headers.header(kCountHeader, n);
    StreamText text{std::move(writer.text()), room - headers.text().size()};
    text.bytes.replace(text.start, headers.text().size(), headers.text());
    textHint_ = text.bytes.size() + text.bytes.size() / 32;
    return text;
}

std::ostream& operator<<(std::ostream& out, const Properties& set) {
    set.save(out);
    return out;
}

namespace {

// Places a stored set's records in its map. A stored set is sorted, so each
// name goes after the last one without a search, and the records of one name
// are gathered, then placed together, so that a name's instances are
// allocated once at their final size rather than grown one record at a time.
template <typename Map>
class RunPlacer {
  public:
    RunPlacer(Map& map, bool replace) : map_(map), replace_(replace), names_(map.end()) {}

    // The record is moved, not copied: the reader fills every field of the
    // next one afresh.
    void place(Property&& p) {
        if (!run_.empty() && !(run_.front().name == p.name)) flush();
        run_.push_back(std::move(p));
    }

    void flush() {
        if (run_.empty()) return;
        if (names_ == map_.end() || !(names_->first == run_.front().name))
            names_ = map_.try_emplace(map_.end(), run_.front().name);
        PropertyInstances& instances = names_->second;
        if (instances.empty()) instances.reserve(run_.size());
        for (Property& p : run_)
            if (replace_ || !instances.holds(p.index)) instances.assign(std::move(p));
        run_.clear();
    }

  private:
    Map& map_;
    const bool replace_;
    typename Map::iterator names_;
    std::vector<Property> run_;
};

}  // namespace

bool Properties::obtain(std::istream& in, bool replace) {
    // A store read into an empty set matches the store again after this.
    stopTracking();
    if (in.fail()) {
        error_ = CANT_OPEN;
        return false;
    }
    long version = headerNumber(in, kVersionHeader);
    if (version != 2) {
        error_ = version == -1 ? CANT_PARSE_VERSION : UNKNOWN_VERSION;
        return false;
    }
    set_version(2);
    long n = headerNumber(in, kCountHeader);
    if (n == -1) {
        error_ = CANT_PARSE_FILE;
        return false;
    }
    return obtainRecords(in, n, replace);
}

bool Properties::obtainRecords(std::istream& in, long n, bool replace) {
    // The count is only a claim: records are read one at a time, and a
    // stream that runs out yields an empty record that ends the loop. Records
    // come from the stream's buffer when they are whole there (RecordReader),
    // else through operator>>.
    RecordReader reader(in);
    Property fast;
    RunPlacer placer(properties_, replace);
    // What a reader has taken stays in the set, even when the rest of the
    // stream is broken.
    auto fail = [&](PropertiesError error) {
        placer.flush();
        error_ = error;
        return false;
    };
    for (long i = 0; i < n; ++i) {
        std::optional<Property> slow;
        bool read = reader.read(fast, true, true);
        if (!read) {
            in >> slow.emplace();
            // A value that could not be stored (its temporary file could not
            // be made or written) is lost, not cut off: the read fails, so
            // that no save can write the set back without it. Only a stream
            // that runs out may end a record early; one that goes on with
            // bytes that are not a record (a claimed length over the limits,
            // a number that is not one) is malformed. A property whose name
            // and index were read is stored even so.
            bool lost = in.bad() && !in.eof();
            if (lost || (in.fail() && !in.eof())) {
                if (!slow->name.empty() && slow->index != 0) placer.place(std::move(*slow));
                return fail(lost ? OS_SYSTEM_ERROR : CANT_PARSE_FILE);
            }
            in.get();
            reader.remember(slow->name);
        }
        Property& p = read ? fast : *slow;
        if (p.name.empty() || p.index == 0) return fail(CANT_PARSE_FILE);
        placer.place(std::move(p));
    }
    placer.flush();
    return true;
}

long Properties::get_long(std::istream& in, const Regex& expression, int subexpression) {
    String line;
    LineReader::Result read;
    do read = LineReader::read(in, line);
    while (read == LineReader::Line && line.empty());
    if (read != LineReader::Line) return -1;
    if (!expression.ok())
        MC_std_trace() << "Properties::get_long() pattern:  " << expression.pattern()
                       << "is invalid - " << expression.error() << oops;
    RegexMatch match;
    if (!expression.search(line, match)) return -1;
    if (!match.matched(static_cast<std::size_t>(subexpression))) {
        MC_std_trace() << "Properties::get_long() - Regexp:  '" << expression.pattern()
                       << "' matched line:  '" << line << "', but subexpression " << subexpression
                       << " doesn't exist!" << oops;
        return -1;
    }
    return std::strtol(match.str(static_cast<std::size_t>(subexpression)).c_str(), nullptr, 10);
}

bool Properties::save() {
    if (!underlierKnown()) {
        error_ = CANT_OPEN;
        return false;
    }
    if (!modified_ && !underlierChanged()) return true;
    if (myPBox == 0) setMyPbox();
    std::uint16_t owner = getKnown().pbox;
    if (owner == 0 || owner == myPBox) return saveThem();
    return saveRemote(owner);
}

String Properties::error_name(PropertiesError error) {
    if (error < NO_ERROR || error > OS_SYSTEM_ERROR)
        return "UNKNOWN_ERROR(" + std::to_string(static_cast<int>(error)) + ")";
    if (error != OS_SYSTEM_ERROR) return kErrorNames[error];
    int code = errno;
    return kErrorNames[error] + "/errno=" + std::to_string(code) + "(" + std::strerror(code) + ")";
}

void Properties::setMyPbox() {
    Rsc_id id;
    if (who_am_i(&id) == 0) {
        myPBox = id.box;
        return;
    }
    MC_std_trace() << "Properties::setMyPbox() who_am_i() failed!, potentially unexpected "
                      "properties results!"
                   << oops;
}

void Properties::initKnowns(knownInfo& info) {
    if (info.knowns == nullptr) return;
    info.knowns->empty();
    Property p;
    p.attributes.set_server_known(true);
    for (auto access :
         {PropertyAttributes::Server, PropertyAttributes::Privileged, PropertyAttributes::Standard,
          PropertyAttributes::Trusted, PropertyAttributes::Restricted, PropertyAttributes::Minimal})
        p.attributes.set_readable(access, true);
    p.attributes.set_writeable(PropertyAttributes::Server, true);
    p.attributes.set_version(1);
    for (std::uint32_t i = 0; i < info.count; ++i) {
        const knownEntry& entry = info.table[i];
        p.name = entry.name ? *entry.name : Symbol();
        p.index = 1;
        p.attributes.set_type(entry.type);
        p.attributes.set_writeable(PropertyAttributes::Privileged, entry.privilegedWrite);
        p.attributes.set_writeable(PropertyAttributes::Trusted, entry.trustedWrite);
        int result = info.knowns->put(p, PropertyAttributes::Server);
        if (result != PUT_OK)
            MC_std_trace() << "knowns->put(" << p.name << ", Server) returns " << result << oops;
    }
}

Properties* Properties::factory(const Symbol& name, const PropertiesID& key) {
    if (factoryDB == nullptr) return nullptr;
    auto it = factoryDB->find(name);
    return it == factoryDB->end() ? nullptr : it->second->factory(key);
}

bool Properties::registered(const String& name) {
    if (factoryDB == nullptr) return false;
    for (const auto& entry : *factoryDB)
        if (entry.first.text() == name) return true;
    return false;
}
