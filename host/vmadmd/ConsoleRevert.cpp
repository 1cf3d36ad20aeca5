#include "host/vmadmd/ConsoleRevert.h"

#include <cerrno>
#include <sstream>

#include "host/common/JournalRevert.h"
#include "host/platform/JournalStore.h"
#include "host/vmadmd/HistoryView.h"

namespace {

// The revert's words as one text for the page: the lines joined, without
// the program name of the shared code's messages and its command-line hint.
String pageWords(const std::string& words) {
    std::istringstream lines(words);
    String text, line;
    while (std::getline(lines, line)) {
        if (line.rfind("vmcfg: ", 0) == 0) line.erase(0, 7);
        std::size_t hint = line.find(" (--force");
        if (hint != String::npos) line.erase(hint);
        std::size_t start = line.find_first_not_of(' ');
        if (start == String::npos) continue;
        text += (text.empty() ? "" : "; ") + line.substr(start);
    }
    return text;
}

}  // namespace

ConsoleReply ConsoleRevert::run(std::uint64_t seq, bool force, bool dryRun) {
    std::string why;
    ConsoleReply refusal;
    JournalStore* store = HistoryView::journal(refusal);
    if (store == nullptr) return refusal;
    JournalEntry entry;
    if (store->entry(seq, entry, why) == ENOENT)
        return ConsoleReply::error(404, "the journal holds no change " + std::to_string(seq));
    JournalRevert::Options options;
    options.force = force;
    options.dryRun = dryRun;
    JournalRevert::Result result = JournalRevert::run(seq, options);
    if (result.status == 0)
        return {200, {{"seq", seq}, {"message", pageWords(result.words)}, {"rows", result.rows}}};
    ConsoleReply refused = ConsoleReply::error(422, pageWords(result.words));
    // Refused, but the same revert forced would go through: what stood in
    // its way were later changes only, which the page may choose to undo.
    options.force = true;
    options.dryRun = true;
    if (!force && result.status == 1 && JournalRevert::run(seq, options).status == 0) {
        refused.status = 409;
        refused.body["conflict"] = true;
    }
    return refused;
}
