#include "host/common/HistoryRows.h"

#include <charconv>
#include <cstdio>
#include <ctime>
#include <limits>
#include <ostream>

#include "host/common/SetDifference.h"
#include "host/common/TerminalText.h"

namespace {

struct KindName {
    const char* stored;
    const char* shown;
};

// What the journal stores (the sets' factory names) and what people read.
constexpr KindName kKinds[] = {{"SystemProperties", "system"},
                               {"COSProperties", "cos"},
                               {"SubscriberProperties", "subscriber"},
                               {"MessageProperties", "message"},
                               {"FileProperties", "file"},
                               {"feature", "feature"}};

std::string shownKind(const std::string& stored) {
    for (const KindName& k : kKinds)
        if (stored == k.stored) return k.shown;
    return stored;
}

bool readable(const std::optional<Property>& p, PropertyAttributes::AccessType access) {
    return p && p->attributes.readable(access);
}

SetDifference::Row rowOf(const JournalChange& change) {
    SetDifference::Op op = change.op == JournalChange::ADDED     ? SetDifference::Op::Added
                           : change.op == JournalChange::REMOVED ? SetDifference::Op::Removed
                                                                 : SetDifference::Op::Changed;
    return {op, HistoryRows::sideOf(change, true), HistoryRows::sideOf(change, false)};
}

// Feature records carry words, not property attributes: everyone may read.
bool isFeature(const JournalEntry& entry) {
    return entry.kind == "feature";
}

}  // namespace

std::optional<Property> HistoryRows::sideOf(const JournalChange& change, bool old) {
    if (change.op == (old ? JournalChange::ADDED : JournalChange::REMOVED)) return std::nullopt;
    Property p;
    p.name = Symbol(change.name);
    p.index = change.index;
    p.attributes = old ? change.oldAttributes : change.newAttributes;
    p.value.modify(old ? change.oldValue : change.newValue, 0);
    return p;
}

std::string HistoryRows::targetWords(const JournalEntry& entry) {
    std::string kind = shownKind(entry.kind);
    if (kind == "system") return "system";
    if (kind == "cos") return "class of service " + entry.target;
    if (kind == "subscriber") return "subscriber " + entry.target;
    if (kind == "message") return "message " + terminalText(entry.target);
    if (kind == "feature") return "feature " + terminalText(entry.target);
    return terminalText(entry.target);
}

std::string HistoryRows::timeText(std::int64_t timeUs) {
    std::time_t seconds = static_cast<std::time_t>(timeUs / 1000000);
    struct tm utc;
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(timeUs % 1000000 / 1000));
    return text;
}

std::optional<std::int64_t> HistoryRows::parseTime(const std::string& text, std::int64_t nowUs) {
    if (text.size() >= 2 && text.find_first_not_of("0123456789") == text.size() - 1) {
        static constexpr std::pair<char, std::int64_t> kUnits[] = {
            {'s', 1}, {'m', 60}, {'h', 3600}, {'d', 86400}};
        // A count too large for the clock (microseconds since the epoch in
        // 64 bits) is no time rather than one that wrapped around.
        std::int64_t count = 0;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size() - 1, count);
        for (auto [unit, seconds] : kUnits)
            if (text.back() == unit && error == std::errc() &&
                count <= std::numeric_limits<std::int64_t>::max() / (seconds * 1000000))
                return nowUs - count * seconds * 1000000;
        return std::nullopt;
    }
    std::string form = text;
    if (!form.empty() && form.back() == 'Z') form.pop_back();
    if (form.size() > 10 && form[10] == 'T') form[10] = ' ';
    for (const char* format : {"%Y-%m-%d %H:%M:%S%n", "%Y-%m-%d %H:%M%n", "%Y-%m-%d%n"}) {
        struct tm utc = {};
        const char* end = strptime(form.c_str(), format, &utc);
        if (end != nullptr && *end == '\0')
            return static_cast<std::int64_t>(timegm(&utc)) * 1000000;
    }
    return std::nullopt;
}

bool HistoryRows::visible(const JournalChange& change, PropertyAttributes::AccessType access) {
    return readable(HistoryRows::sideOf(change, true), access) ||
           readable(HistoryRows::sideOf(change, false), access);
}

nlohmann::json HistoryRows::json(const JournalEntry& entry, const JournalChange& change,
                                 PropertyAttributes::AccessType access) {
    nlohmann::json row = {
        {"seq", entry.seq},      {"time", timeText(entry.timeUs)}, {"actor", entry.actor},
        {"box", entry.box},      {"program", entry.program},       {"pid", entry.pid},
        {"sender_box", nullptr}, {"kind", shownKind(entry.kind)},  {"target", entry.target}};
    if (entry.senderBox != 0) row["sender_box"] = entry.senderBox;
    SetDifference::Row diff = rowOf(change);
    bool hideOld = !isFeature(entry) && diff.before && !readable(diff.before, access);
    bool hideNew = !isFeature(entry) && diff.after && !readable(diff.after, access);
    row.update(SetDifference::json(diff));
    for (auto [hidden, value] :
         {std::pair{hideOld, "old_value"}, std::pair{hideNew, "new_value"}}) {
        if (!hidden) continue;
        row[value] = nullptr;
        row.erase(std::string(value) + "_hex");
        row["hidden"] = true;
    }
    return row;
}

nlohmann::json HistoryRows::rows(const std::vector<JournalEntry>& entries,
                                 PropertyAttributes::AccessType access, std::size_t limit) {
    nlohmann::json out = nlohmann::json::array();
    for (const JournalEntry& entry : entries)
        for (const JournalChange& change : entry.changes) {
            if (limit != 0 && out.size() >= limit) return out;
            if (isFeature(entry) || visible(change, access))
                out.push_back(json(entry, change, access));
        }
    return out;
}

void HistoryRows::print(const JournalEntry& entry, const JournalChange& change,
                        PropertyAttributes::AccessType access, std::ostream& out) {
    out << entry.seq << "  " << timeText(entry.timeUs) << "  " << terminalText(entry.actor) << "  "
        << terminalText(entry.program) << "@" << entry.box;
    if (entry.senderBox != 0) out << " (from box " << entry.senderBox << ")";
    out << "  " << targetWords(entry) << "\n    ";
    SetDifference::Row diff = rowOf(change);
    if (!isFeature(entry)) {
        for (std::optional<Property>* p : {&diff.before, &diff.after}) {
            if (!*p || readable(*p, access)) continue;
            (*p)->value = PropertyValue();
            (*p)->value.modify("(hidden)", 0);
        }
    }
    SetDifference::print(diff, out);
}
