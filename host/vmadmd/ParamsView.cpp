#include "host/vmadmd/ParamsView.h"

#include <fcntl.h>

#include <algorithm>
#include <filesystem>
#include <string_view>

#include "config/ConfigurationInfo.h"
#include "host/common/ParamExplain.h"
#include "host/common/ParamFile.h"
#include "host/common/PropsTarget.h"
#include "host/platform/HostPlatform.h"
#include "platform/FileSystem.h"

namespace {

using Json = nlohmann::json;

const char* const kDirectory = "/VM/config";
// How much of the configuration directory the file list looks at: enough
// for any platform, bounded against a directory of millions of files. A
// parameter file declares its types first, after at most a few comments.
constexpr int kMaxDepth = 3;
constexpr std::size_t kMaxEntries = 2000;
constexpr std::size_t kSniffBytes = 8 * 1024;

// Why a platform path given as file= is refused, or empty. The length and
// NUL rules are the property view's; the rest keeps the path from pointing elsewhere
// than it says: relative paths and ".." above the root, which the platform
// would quietly stop at the root, are refused in words.
String pathRefusal(const String& path) {
    PropsTarget propertyRules;
    String error;
    if (!propertyRules.choose(PropsTarget::FILE, path, error)) return "file: " + error;
    if (path[0] != '/') return "file: \"" + path + "\" is not a platform path (it begins with /)";
    int depth = 0;
    for (std::size_t start = 1; start <= path.size();) {
        std::size_t end = std::min(path.find('/', start), path.size());
        std::string_view part(path.data() + start, end - start);
        if (part == "..")
            --depth;
        else if (!part.empty() && part != ".")
            ++depth;
        if (depth < 0) return "file: \"" + path + "\" leads outside the platform root";
        start = end + 1;
    }
    return String();
}

// Whether the file's first line that is not blank or a comment declares a
// precedence type, as every parameter file must before its parameters.
bool declaresPrecedence(const Path& path) {
    int fd = FileSystem::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    String head(kSniffBytes, '\0');
    ssize_t got = FileSystem::read(fd, head.data(), head.size());
    FileSystem::close(fd);
    head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    for (std::size_t start = 0; start < head.size();) {
        std::size_t end = std::min(head.find('\n', start), head.size());
        std::string_view line(head.data() + start, end - start);
        line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
        if (!line.empty() && line[0] != '#') {
            return line.rfind("precedence", 0) == 0 && line.size() > 10 &&
                   (line[10] == ' ' || line[10] == '\t');
        }
        start = end + 1;
    }
    return false;
}

}  // namespace

bool ParamsView::chooseFile(const Query& query, bool keyAllowed, Path& file,
                            std::optional<String>& key, ConsoleReply& reply) {
    std::optional<String> named;
    for (const auto& [name, value] : query) {
        bool isFile = name == "file";
        if (!isFile && !(keyAllowed && name == "key")) {
            reply = ConsoleReply::error(
                400, "unknown parameter \"" + name + "\"; the file is named with file=PATH");
            return false;
        }
        std::optional<String>& slot = isFile ? named : key;
        if (slot) {
            reply = ConsoleReply::error(400, name + " is given more than once");
            return false;
        }
        slot = value;
    }
    file = named ? Path(*named) : ConfigurationInfo::defaultConfigFile;
    String refusal = named ? pathRefusal(*named) : String();
    if (refusal.empty()) refusal = configFileProblem(file);
    if (refusal.empty()) return true;
    int status = refusal.rfind("file: ", 0) == 0 ? 400 : named ? 404 : 503;
    reply = ConsoleReply::error(
        status,
        status == 400 ? refusal : "can't read parameter file " + file.text() + ": " + refusal);
    return false;
}

ConsoleReply ParamsView::list(const Query& query) {
    Path file;
    std::optional<String> key;
    ConsoleReply reply;
    if (!chooseFile(query, true, file, key, reply)) return reply;
    if (key) return explainIn(*key, file);
    return {200, ParamFile(file, 0, false).listJson()};
}

ConsoleReply ParamsView::explain(const String& key, const Query& query) {
    Path file;
    std::optional<String> none;
    ConsoleReply reply;
    if (!chooseFile(query, false, file, none, reply)) return reply;
    return explainIn(key, file);
}

ConsoleReply ParamsView::explainIn(const String& key, const Path& file) {
    ParamFile read(file, 0, false);
    bool found = false;
    Json view = paramExplainJson(read.reader(), key, found);
    view["file"] = file.text();
    return {found ? 200 : 404, view};
}

ConsoleReply ParamsView::check(const Query& query) {
    Path file;
    std::optional<String> key;
    ConsoleReply reply;
    if (!chooseFile(query, false, file, key, reply)) return reply;
    return {200, ParamFile(file, 0, false).checkJson()};
}

ConsoleReply ParamsView::files() {
    namespace fs = std::filesystem;
    const String top = HostPlatform::hostPath(Path(kDirectory));
    std::vector<String> found;
    std::error_code error;
    fs::recursive_directory_iterator entry(top, fs::directory_options::skip_permission_denied,
                                           error);
    // Links are not followed: outside the platform they would lead off the
    // root, and a file they name is offered under its own path anyway.
    for (std::size_t seen = 0;
         !error && entry != fs::recursive_directory_iterator() && ++seen <= kMaxEntries;
         entry.increment(error)) {
        if (entry.depth() >= kMaxDepth) entry.disable_recursion_pending();
        std::error_code kind;
        if (entry->is_symlink(kind) || !entry->is_regular_file(kind)) continue;
        Path platform(String(kDirectory) + "/" +
                      entry->path().lexically_relative(top).generic_string());
        if (declaresPrecedence(platform)) found.push_back(platform.text());
    }
    std::sort(found.begin(), found.end());
    return {200, Json{{"directory", kDirectory}, {"files", found}}};
}
