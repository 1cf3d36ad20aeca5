#include "host/vmcfg/PropsExchange.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <sstream>

#include "host/common/AccessRights.h"
#include "host/common/EditCycle.h"
#include "host/common/JsonText.h"
#include "host/common/SetDifference.h"
#include "host/common/TerminalText.h"
#include "host/common/PropsEdit.h"
#include "properties/FileProperties.h"

namespace {

// A regular file only: a FIFO or device would be waited on, a directory
// read as nothing.
bool readHostFile(const String& path, String& bytes, std::ostream& err) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    int error = fd < 0 || ::fstat(fd, &info) != 0 ? errno : S_ISREG(info.st_mode) ? 0 : -1;
    bytes.clear();
    char buffer[1 << 16];
    for (ssize_t n; error == 0 && (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            bytes.append(buffer, static_cast<std::size_t>(n));
        else if (errno != EINTR)
            error = errno;
    }
    if (fd >= 0) ::close(fd);
    if (error == 0) return true;
    err << "vmcfg: can't read " << terminalText(path) << ": "
        << (error < 0 ? "not a regular file" : std::strerror(error)) << std::endl;
    return false;
}

// Written beside the file and renamed over it once synced, so a crash
// leaves the old file or the whole new one.
bool writeHostFile(const String& path, const String& bytes, std::ostream& err) {
    String temp = path + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    bool ok = fd >= 0;
    for (std::size_t done = 0; ok && done < bytes.size();) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
    int error = errno;
    if (fd >= 0 && ::close(fd) != 0 && ok) ok = false, error = errno;
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) ok = false, error = errno;
    if (ok) return true;
    if (fd >= 0) ::unlink(temp.c_str());
    err << "vmcfg: can't write " << terminalText(path) << ": " << std::strerror(error) << std::endl;
    return false;
}

// Empties the set and reads the stream into it; false (with the reason on
// err) when the stream does not parse.
bool replaceContents(Properties& set, const String& stream, const String& from, std::ostream& err) {
    PropsEdit::Request everything;
    everything.action = PropsEdit::Action::Remove;
    everything.all = true;
    PropsEdit::Outcome ignored;
    String refusal;
    std::istringstream in(stream);
    if (PropsEdit::apply(set, everything, ignored, refusal) == 0 && set.obtain(in, true))
        return true;
    err << "vmcfg: " << terminalText(from) << " is not a property stream ("
        << (refusal.empty() ? Properties::error_name(set.getError()) : refusal)
        << "); nothing written" << std::endl;
    return false;
}

void printDifference(const std::vector<SetDifference::Row>& rows, std::ostream& out) {
    for (const SetDifference::Row& row : rows) SetDifference::print(row, out);
}

nlohmann::json differenceJson(const std::vector<SetDifference::Row>& rows) {
    nlohmann::json list = nlohmann::json::array();
    for (const SetDifference::Row& row : rows) list.push_back(SetDifference::json(row));
    return list;
}

}  // namespace

PropsExchange::PropsExchange(CLI::App* group) {
    export_ = group->add_subcommand("export", "Write the set's text stream (stdout or --output)");
    import_ = group->add_subcommand(
        "import", "Replace the set's contents with the stream in FILE, showing the change first");
    diff_ =
        group->add_subcommand("diff", "Show what set B holds that set A does not, copy by copy");
    for (CLI::App* command : {export_, import_}) {
        command->add_option("words", words_, command == export_ ? "[FILE]" : "[FILE] STREAM");
        target_.addOptions(command);
        command->fallthrough();
    }
    export_->add_option("--output", output_, "Write to this file here (replaced whole)");
    for (CLI::App* command : {import_, diff_})
        command->add_option("--access", access_, "Show what this class may read")
            ->capture_default_str();
    import_->add_flag("--dry-run", dryRun_, "Show the change; write nothing");
    import_->add_flag("--yes,-y", yes_, "Do not ask: the replacement is confirmed");
    diff_->add_option("words", paths_, "A or B: a property file (platform path)");
    diff_->add_flag("--system", systems_, "A or B: the system set");
    diff_->add_option("--message", messages_, "A or B: a message's property file");
    diff_->add_option("--cos", coses_, "A or B: class of service N");
    diff_->add_option("--subscriber", subscribers_, "A or B: subscriber N");
    diff_->add_option("--file", files_, "A or B: a stream file on this machine");
    diff_->fallthrough();
}

bool PropsExchange::selected() const {
    return export_->parsed() || import_->parsed() || diff_->parsed();
}

int PropsExchange::run(const GlobalOptions& options, std::istream& in, std::ostream& out,
                       std::ostream& err) {
    if (!parseAccessClass(access_, accessClass_)) {
        err << "vmcfg: --access: unknown access class '" << terminalText(access_) << "'"
            << std::endl;
        return 2;
    }
    if (options.valueOnly()) {
        err << "vmcfg: -o value prints one value: props show --name NAME (and param get)"
            << std::endl;
        return 2;
    }
    if (diff_->parsed()) return diff(options, out, err);
    if (!target_.choose(words_, export_->parsed() ? 0 : 1, err)) return 2;
    if (words_.size() != (export_->parsed() ? 0u : 1u)) {
        err << "vmcfg: props "
            << (export_->parsed() ? "export takes no word" : "import takes STREAM")
            << " after the set" << std::endl;
        return 2;
    }
    return export_->parsed() ? exportSet(out, err) : importSet(options, in, out, err);
}

int PropsExchange::exportSet(std::ostream& out, std::ostream& err) {
    int status = 0;
    std::unique_ptr<Properties> set = target_.open(false, err, status);
    if (!set) return status;
    std::ostringstream stream;
    set->save(stream);
    if (output_.empty()) {
        out << stream.str() << std::flush;
        return 0;
    }
    return writeHostFile(output_, stream.str(), err) ? 0 : 2;
}

int PropsExchange::importSet(const GlobalOptions& options, std::istream& in, std::ostream& out,
                             std::ostream& err) {
    String stream;
    if (!readHostFile(words_[0], stream, err)) return 2;
    int status = 0;
    std::unique_ptr<Properties> current = target_.open(true, err, status);
    if (!current) return status;
    std::unique_ptr<Properties> incoming = target_.open(true, err, status);
    if (!incoming) return status;
    if (!replaceContents(*incoming, stream, words_[0], err)) return 1;
    std::vector<SetDifference::Row> rows =
        SetDifference::between(*current, *incoming, accessClass_);
    auto say = [&](const char* what, bool written) {
        if (options.json)
            out << jsonText({{"target", target_.describe()},
                             {"written", written},
                             {"changes", differenceJson(rows)},
                             {"outcome", what}});
        else
            out << what << "\n";
    };
    if (!options.json) printDifference(rows, out);
    if (rows.empty()) return say("nothing to import: the set holds these properties", false), 0;
    if (dryRun_) return say("dry run, nothing written", false), 0;
    if (!yes_) {
        (options.json ? err : out)
            << "Replace the contents of " << terminalText(target_.describe()) << " (" << rows.size()
            << (rows.size() == 1 ? " change" : " changes") << ")? [y/N] " << std::flush;
        String answer;
        if (!std::getline(in, answer) ||
            (strcasecmp(answer.c_str(), "y") != 0 && strcasecmp(answer.c_str(), "yes") != 0)) {
            err << "vmcfg: not confirmed; nothing written" << std::endl;
            return 1;
        }
    }
    EditCycle cycle(target_, true);
    status = cycle.run(
        [&](Properties& set) { return replaceContents(set, stream, words_[0], err) ? 0 : 1; }, err);
    if (status == 0) say("imported", true);
    return status;
}

// The sides in the order they were given: CLI11 keeps the order of every
// option and positional word it parsed.
bool PropsExchange::diffSides(std::vector<Side>& sides, std::ostream& err) const {
    struct Source {
        const char* name;  // the option; "words" for a platform path
        PropsTarget::Kind kind;
        const std::vector<String>* values;
        std::size_t next;
    } sources[] = {{"--system", PropsTarget::SYSTEM, nullptr, 0},
                   {"--message", PropsTarget::MESSAGE, &messages_, 0},
                   {"--cos", PropsTarget::COS, &coses_, 0},
                   {"--subscriber", PropsTarget::SUBSCRIBER, &subscribers_, 0},
                   {"--file", PropsTarget::NONE, &files_, 0},
                   {"words", PropsTarget::FILE, &paths_, 0}};
    for (const CLI::Option* option : diff_->parse_order()) {
        for (Source& source : sources) {
            if (!option->check_name(source.name)) continue;
            Side side;
            String argument = source.values ? (*source.values)[source.next++] : String();
            String error;
            if (source.kind == PropsTarget::NONE)
                side.file = argument;
            else if (!side.target.choose(source.kind, argument, error)) {
                err << "vmcfg: props diff: " << error << std::endl;
                return false;
            }
            sides.push_back(std::move(side));
        }
    }
    if (sides.size() == 2) return true;
    err << "vmcfg: props diff takes two sets: each FILE, --system, --message PATH, --cos N, "
           "--subscriber N or --file FILE"
        << std::endl;
    return false;
}

std::unique_ptr<Properties> PropsExchange::openSide(const Side& side, std::ostream& err,
                                                    int& status) const {
    if (side.file.empty()) return side.target.open(false, err, status);
    String stream;
    status = 2;
    if (!readHostFile(side.file, stream, err)) return nullptr;
    // A set bound to no file and no kind: only read into and compared.
    static Properties::knownInfo none;
    auto set = std::make_unique<FileProperties>(none);
    status = 1;
    if (!replaceContents(*set, stream, side.file, err)) return nullptr;
    status = 0;
    return set;
}

int PropsExchange::diff(const GlobalOptions& options, std::ostream& out, std::ostream& err) {
    std::vector<Side> sides;
    if (!diffSides(sides, err)) return 2;
    int status = 0;
    std::unique_ptr<Properties> a = openSide(sides[0], err, status);
    if (!a) return status;
    std::unique_ptr<Properties> b = openSide(sides[1], err, status);
    if (!b) return status;
    std::vector<SetDifference::Row> rows = SetDifference::between(*a, *b, accessClass_);
    if (options.json)
        out << jsonText(differenceJson(rows));
    else
        printDifference(rows, out);
    return 0;
}
