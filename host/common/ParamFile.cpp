#include "host/common/ParamFile.h"

#include <iostream>
#include <set>
#include <sstream>

#include "config/ConfigurationInfo.h"
#include "host/common/JsonText.h"
#include "host/common/ParamExplain.h"
#include "host/platform/HostPlatform.h"

namespace {

using Json = nlohmann::json;

// The reader writes to std::cerr; while one of these lives, that text lands
// here instead. Safe only because every caller holds the run token, so no
// other module code writes meanwhile.
class CapturedErrors {
  public:
    CapturedErrors() : saved_(std::cerr.rdbuf(buffer_.rdbuf())) {}
    ~CapturedErrors() { std::cerr.rdbuf(saved_); }
    CapturedErrors(const CapturedErrors&) = delete;
    CapturedErrors& operator=(const CapturedErrors&) = delete;
    String text() const { return buffer_.str(); }

  private:
    std::ostringstream buffer_;
    std::streambuf* saved_;
};

// Turns the command switch off for one parse and puts it back as it was.
class CommandsOff {
  public:
    explicit CommandsOff(bool off) : saved_(HostPlatform::commandsRun()) {
        if (off) HostPlatform::setCommandsRun(false);
    }
    ~CommandsOff() { HostPlatform::setCommandsRun(saved_); }
    CommandsOff(const CommandsOff&) = delete;
    CommandsOff& operator=(const CommandsOff&) = delete;

  private:
    bool saved_;
};

std::vector<String> linesOf(const String& text) {
    std::vector<String> lines;
    std::istringstream in(text);
    for (String line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A parse error is two lines: "FILE Can't parse [REASON on ]line:  N, line
// is:" and the line as read. Fills the diagnostic from the first; false when
// `header` is not such a line.
bool parseErrorHeader(const String& header, const String& file, ParamFile::Diagnostic& out) {
    const String start = file + " Can't parse ";
    const String end = ", line is:";
    const String mark = "line:  ";
    if (header.rfind(start, 0) != 0 || header.size() < start.size() + end.size() ||
        header.compare(header.size() - end.size(), end.size(), end) != 0)
        return false;
    String middle = header.substr(start.size(), header.size() - start.size() - end.size());
    std::size_t at = middle.rfind(mark);
    if (at == String::npos) return false;
    String number = middle.substr(at + mark.size());
    if (number.empty() || number.find_first_not_of("0123456789") != String::npos) return false;
    out.line = std::stoul(number);
    String reason = middle.substr(0, at);
    if (reason.size() >= 4 && reason.compare(reason.size() - 4, 4, " on ") == 0)
        reason.resize(reason.size() - 4);
    out.message = reason.empty() ? String("not a comment, precedence or parameter line") : reason;
    return true;
}

// Whether a line the reader wrote reports a failure (rather than tracing at
// a debug level): every such message of the reader begins so.
bool failureLine(const String& line) {
    return line.rfind("Can't ", 0) == 0 || line.rfind("can't ", 0) == 0;
}

std::vector<ParamFile::Diagnostic> diagnosticsOf(const String& text, const String& file) {
    std::vector<ParamFile::Diagnostic> found;
    std::vector<String> lines = linesOf(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ParamFile::Diagnostic diagnostic;
        if (parseErrorHeader(lines[i], file, diagnostic)) {
            if (i + 1 < lines.size()) diagnostic.text = lines[++i];
            found.push_back(diagnostic);
        } else if (failureLine(lines[i])) {
            found.push_back({0, lines[i], String()});
        }
    }
    return found;
}

}  // namespace

ParamFile::ParamFile(const Path& path, unsigned long debugLevel, bool runCommands)
    : path_(path), problem_(configFileProblem(path)) {
    CommandsOff commands(!runCommands);
    parse(debugLevel);
}

ParamFile::~ParamFile() = default;

void ParamFile::parse(unsigned long debugLevel) {
    if (!problem_.empty() || debugLevel == 0) {
        // A quiet reader would attach to the shared parse: start one without
        // a file (its "file required" note is dropped) and parse into it. An
        // unreadable file keeps it empty, so that reader() always answers.
        CapturedErrors dropped;
        reader_ = std::make_unique<ConfigurationInfo>(0UL);
    }
    if (!problem_.empty()) return;
    CapturedErrors errors;
    if (debugLevel == 0) {
        ok_ = reader_->parse_file(path_);
    } else {
        // A reader with a debug level parses for itself.
        reader_ = std::make_unique<ConfigurationInfo>(path_, debugLevel);
        ok_ = reader_->isInitialized();
    }
    text_ = errors.text();
    diagnostics_ = diagnosticsOf(text_, path_.text());
}

Json ParamFile::listJson() const {
    Json types = Json::array();
    std::set<String> keys;
    std::size_t slot = 0;
    for (const VantorConfigurationInfoDB* db : reader_->precedenceSlots()) {
        types.push_back(
            {{"slot", slot++}, {"type", db->paramType().text()}, {"type_value", db->paramValue()}});
        for (const auto& held : db->params()) keys.insert(held.first.text());
    }
    Json rows = Json::array();
    for (const String& key : keys) {
        String value;
        Symbol type, typeValue;
        if (!reader_->configGet(Symbol(key), value, type, typeValue)) continue;
        Json row;
        putBytes(row, "key", key);
        putBytes(row, "value", value);
        putBytes(row, "type", type.text());
        putBytes(row, "type_value", typeValue.text());
        rows.push_back(row);
    }
    return {{"file", path_.text()}, {"ok", ok_}, {"types", types}, {"keys", rows}};
}

Json ParamFile::checkJson() const {
    Json rows = Json::array();
    for (const Diagnostic& diagnostic : diagnostics_) {
        Json row = {{"line", nullptr}, {"text", nullptr}};
        putBytes(row, "message", diagnostic.message);
        if (diagnostic.line != 0) {
            row["line"] = diagnostic.line;
            putBytes(row, "text", diagnostic.text);
        }
        rows.push_back(row);
    }
    return {{"file", path_.text()},
            {"ok", ok_},
            {"types", reader_->precedenceSlots().size()},
            {"diagnostics", rows}};
}
