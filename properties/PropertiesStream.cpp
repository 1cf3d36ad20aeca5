// The set's text stream, the save path and the process-wide records of the
// property system (registry, own box, error names).

#include <cerrno>
#include <cstring>
#include <istream>
#include <optional>
#include <ostream>

#include "platform/Identity.h"
#include "platform/LineReader.h"
#include "platform/Trace.h"
#include "properties/DecimalDigits.h"
#include "properties/Properties.h"
#include "properties/RecordReader.h"
#include "properties/RecordWriter.h"

namespace {

const String kVersionHeader = "component-file-version=";
const String kCountHeader = "number of properties=";
const Regex kVersionExpression("^" + kVersionHeader + "([0-9]+)$");
const Regex kCountExpression("^" + kCountHeader + "([0-9]+)$");

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
        for (const Property& property : instances) total += property.length() + 1;
    return total;
}

void Properties::write(RecordWriter& writer) const {
    // Sized once: growing a text of megabytes by doubling copies it over and
    // over, and makes the system map fresh pages each time.
    writer.reserve(kVersionHeader.size() + kCountHeader.size() + 48 + recordsLength());
    writer.header(kVersionHeader, version_);
    writer.header(kCountHeader, count());
    for (const auto& [name, instances] : properties_)
        for (const Property& property : instances) writer.record(property, true);
}

bool Properties::save(std::ostream& out) const {
    RecordWriter writer(&out);
    write(writer);
    return writer.finish();
}

String Properties::streamText() const {
    RecordWriter writer(nullptr);
    write(writer);
    return std::move(writer.text());
}

std::ostream& operator<<(std::ostream& out, const Properties& set) {
    set.save(out);
    return out;
}

bool Properties::obtain(std::istream& in, bool replace) {
    if (in.fail()) {
        error_ = CANT_OPEN;
        return false;
    }
    long version = get_long(in, kVersionExpression, 1);
    if (version == -1) {
        error_ = CANT_PARSE_VERSION;
        return false;
    }
    if (version != 2) {
        error_ = UNKNOWN_VERSION;
        return false;
    }
    set_version(2);
    long n = get_long(in, kCountExpression, 1);
    if (n == -1) {
        error_ = CANT_PARSE_FILE;
        return false;
    }
    // The count is only a claim: records are read one at a time, and a
    // stream that runs out yields an empty record that ends the loop. Records
    // come from the stream's buffer when they are whole there (RecordReader),
    // else through operator>>; a stored set is sorted, so each name and index
    // is placed after the last one without a search.
    RecordReader reader(in);
    Property fast;
    auto names = properties_.end();
    // Stores a property whose name and index were read, even when the rest
    // of its record is broken: what a reader has taken stays in the set.
    auto place = [&](const Property& p) {
        if (names == properties_.end() || !(names->first == p.name))
            names = properties_.try_emplace(properties_.end(), p.name);
        Instances& instances = names->second;
        if (replace || !instances.holds(p.index)) instances.assign(p);
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
            // a number that is not one) is malformed.
            bool lost = in.bad() && !in.eof();
            if (lost || (in.fail() && !in.eof())) {
                if (!slow->name.empty() && slow->index != 0) place(*slow);
                error_ = lost ? OS_SYSTEM_ERROR : CANT_PARSE_FILE;
                return false;
            }
            in.get();
            reader.remember(slow->name);
        }
        const Property& p = read ? fast : *slow;
        if (p.name.empty() || p.index == 0) {
            error_ = CANT_PARSE_FILE;
            return false;
        }
        place(p);
    }
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
