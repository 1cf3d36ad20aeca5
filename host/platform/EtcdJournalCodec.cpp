#include "host/platform/EtcdJournalCodec.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "host/platform/Base64Text.h"

using nlohmann::json;

namespace {

constexpr std::size_t kSeqDigits = 20;

std::string digits(std::uint64_t seq) {
    char text[kSeqDigits + 1];
    std::snprintf(text, sizeof text, "%020llu", static_cast<unsigned long long>(seq));
    return text;
}

json side(bool present, const std::string& bytes) {
    return present ? json(base64Of(bytes)) : json(nullptr);
}

// Throws (caught by decode) when the field is not base64 text.
std::string bytesAt(const json& value) {
    if (value.is_null()) return std::string();
    std::string bytes;
    if (!bytesOfBase64(value.get<std::string>(), bytes)) throw std::invalid_argument("base64");
    return bytes;
}

JournalChange changeOf(const json& row) {
    if (!row.is_array() || row.size() != 7) throw std::invalid_argument("change");
    JournalChange change;
    std::string op = row[0].get<std::string>();
    if (op != "a" && op != "r" && op != "c") throw std::invalid_argument("op");
    change.op = static_cast<JournalChange::Op>(op[0]);
    change.name = bytesAt(row[1]);
    change.index = row[2].get<std::uint32_t>();
    change.oldValue = bytesAt(row[3]);
    change.newValue = bytesAt(row[4]);
    change.oldAttributes = bytesAt(row[5]);
    change.newAttributes = bytesAt(row[6]);
    return change;
}

}  // namespace

EtcdJournalCodec::EtcdJournalCodec(std::string journalPrefix) : prefix_(std::move(journalPrefix)) {}

std::string EtcdJournalCodec::counterKey() const {
    return prefix_ + "/seq";
}

std::string EtcdJournalCodec::recordKey(std::uint64_t seq) const {
    return prefix_ + "/rec/" + digits(seq);
}

std::string EtcdJournalCodec::pendingKey(std::uint64_t seq) const {
    return prefix_ + "/pending/" + digits(seq);
}

// '0' follows '/': the end of every key under ".../rec/".
std::string EtcdJournalCodec::recordsEnd() const {
    return prefix_ + "/rec0";
}

std::string EtcdJournalCodec::pendingEnd() const {
    return prefix_ + "/pending0";
}

std::uint64_t EtcdJournalCodec::seqOf(const std::string& key) const {
    if (key.size() < kSeqDigits || key.compare(0, prefix_.size(), prefix_) != 0) return 0;
    std::uint64_t seq = 0;
    for (std::size_t i = key.size() - kSeqDigits; i < key.size(); ++i) {
        if (key[i] < '0' || key[i] > '9') return 0;
        seq = seq * 10 + static_cast<std::uint64_t>(key[i] - '0');
    }
    return seq;
}

std::string EtcdJournalCodec::encode(const JournalEntry& entry, bool withChanges,
                                     const std::string& nonce) {
    json doc = {{"t", entry.timeUs},
                {"a", base64Of(entry.actor)},
                {"b", entry.box},
                {"p", base64Of(entry.program)},
                {"i", entry.pid},
                {"h", base64Of(entry.host)},
                {"s", entry.senderBox},
                {"k", base64Of(entry.kind)},
                {"g", base64Of(entry.target)},
                {"f", entry.after},
                {"n", nonce}};
    if (withChanges) {
        json changes = json::array();
        for (const JournalChange& c : entry.changes) {
            bool before = c.op != JournalChange::ADDED, after = c.op != JournalChange::REMOVED;
            changes.push_back({std::string(1, static_cast<char>(c.op)), base64Of(c.name), c.index,
                               side(before, c.oldValue), side(after, c.newValue),
                               side(before, c.oldAttributes), side(after, c.newAttributes)});
        }
        doc["c"] = std::move(changes);
    }
    return doc.dump();
}

bool EtcdJournalCodec::decode(const std::string& document, JournalEntry& entry,
                              std::string* nonce) {
    json doc = json::parse(document, nullptr, false);
    if (!doc.is_object()) return false;
    try {
        entry.timeUs = doc.at("t").get<std::int64_t>();
        entry.actor = bytesAt(doc.at("a"));
        entry.box = doc.at("b").get<std::uint16_t>();
        entry.program = bytesAt(doc.at("p"));
        entry.pid = doc.at("i").get<std::int64_t>();
        entry.host = bytesAt(doc.at("h"));
        entry.senderBox = doc.at("s").get<std::uint16_t>();
        entry.kind = bytesAt(doc.at("k"));
        entry.target = bytesAt(doc.at("g"));
        entry.after = doc.at("f").get<std::uint64_t>();
        if (nonce != nullptr) *nonce = doc.value("n", "");
        entry.changes.clear();
        auto changes = doc.find("c");
        if (changes != doc.end())
            for (const json& row : *changes) entry.changes.push_back(changeOf(row));
    } catch (const std::exception&) {
        return false;
    }
    return true;
}
