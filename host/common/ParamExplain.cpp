#include "host/common/ParamExplain.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "config/ConfigurationInfo.h"
#include "platform/FileSystem.h"

nlohmann::json paramExplainJson(const VantorConfigurationInfo& info, const String& key,
                                bool& found) {
    using Json = nlohmann::json;
    Symbol name(key);
    String value;
    Symbol winner, winnerValue;
    found = info.configGet(name, value, winner, winnerValue);
    Json rows = Json::array();
    std::size_t slot = 0;
    for (const VantorConfigurationInfoDB* db : info.precedenceSlots()) {
        auto held = db->params().find(name);
        bool holds = held != db->params().end();
        rows.push_back({{"slot", slot++},
                        {"type", db->paramType().text()},
                        {"type_value", db->paramValue()},
                        {"holds", holds},
                        {"value", holds ? Json(held->second) : Json(nullptr)},
                        {"wins", found && db->paramType() == winner}});
    }
    Json reply = {{"key", key}, {"types", rows}, {"value", nullptr}, {"winner", nullptr}};
    if (found) {
        reply["value"] = value;
        reply["winner"] = winner.text();
    }
    return reply;
}

String configFileProblem(const Path& path) {
    struct stat info;
    if (FileSystem::stat(path, &info) != 0) return std::strerror(errno);
    if (S_ISDIR(info.st_mode)) return std::strerror(EISDIR);
    if (!S_ISREG(info.st_mode)) return "not a regular file";
    // Opening says what the reader will meet, where access() would judge by
    // the real rather than the effective user.
    int fd = FileSystem::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return std::strerror(errno);
    FileSystem::close(fd);
    return String();
}
