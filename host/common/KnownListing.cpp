#include "host/common/KnownListing.h"

#include "host/common/JsonText.h"

namespace {

constexpr int kListForm = 1;
constexpr int kEntryFields = 17;
constexpr int kEntries = 4;
constexpr int kStartField = 52;
constexpr int kMoreFollow = 501;
// The read flag of a class is at the offset, its write flag after it.
constexpr int kFlagOffset = 3;

}  // namespace

const char* const KnownListing::kClasses[6] = {"server",   "privileged", "trusted",
                                               "standard", "restricted", "minimal"};

KnownListing::Outcome KnownListing::list(FormSession& session, const String& kind,
                                         std::vector<Known>& rows, FormSession::Answer& refusal,
                                         String& stuckAt) {
    FormSession::Request request;
    request.form = kListForm;
    request.op = AdmOp::list;
    request.fields[0] = kind;
    while (true) {
        std::optional<FormSession::Answer> answer = session.call(request);
        if (!answer) return Outcome::NoForm;
        if (answer->outputs.result != 0) {
            refusal = *answer;
            return Outcome::Refused;
        }
        for (int entry = 0; entry < kEntries; ++entry) {
            Known k = fromReply(answer->fields, entry * kEntryFields);
            if (k.name.empty()) break;
            rows.push_back(k);
        }
        if (answer->outputs.ecode != kMoreFollow) return Outcome::Listed;
        // The next page starts after the fourth entry: send its name back.
        String last = answer->fields[kStartField] + answer->fields[kStartField + 1];
        if (last == request.fields[kStartField] + request.fields[kStartField + 1]) {
            stuckAt = last;
            return Outcome::Stuck;
        }
        request.fields[kStartField] = answer->fields[kStartField];
        request.fields[kStartField + 1] = answer->fields[kStartField + 1];
    }
}

KnownListing::Known KnownListing::fromReply(const std::vector<String>& fields, int base) {
    auto field = [&](int n) -> const String& {
        static const String none;
        std::size_t i = static_cast<std::size_t>(base + n);
        return i < fields.size() ? fields[i] : none;
    };
    Known k;
    k.name = field(1) + field(2);
    for (int i = 0; i < 6; ++i) {
        k.read[i] = field(kFlagOffset + 2 * i) == "R";
        k.write[i] = field(kFlagOffset + 2 * i + 1) == "W";
    }
    k.forwardable = field(15) == "y";
    k.version = field(16);
    k.type = field(17);
    return k;
}

nlohmann::json KnownListing::toJson(const Known& k) {
    nlohmann::json read = nlohmann::json::array(), write = nlohmann::json::array();
    for (int i = 0; i < 6; ++i) {
        if (k.read[i]) read.push_back(kClasses[i]);
        if (k.write[i]) write.push_back(kClasses[i]);
    }
    auto number = [](const String& text) -> nlohmann::json {
        try {
            return std::stol(text);
        } catch (...) {
            return text;
        }
    };
    nlohmann::json object = {{"read", read},
                             {"write", write},
                             {"forwardable", k.forwardable},
                             {"version", number(k.version)},
                             {"type", number(k.type)}};
    putBytes(object, "name", k.name);
    return object;
}
