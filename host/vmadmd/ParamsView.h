#pragma once

#include <map>
#include <optional>
#include <string>

#include "host/vmadmd/ConsoleReply.h"
#include "platform/Path.h"
#include "platform/String.h"

// The console's views of configuration-parameter files (the Parameters
// screen): the keys of a file, one key explained, the parse check, and the
// parameter files offered for choosing.
//
// A query may name the file with file=PATH, a platform path that must begin
// with "/" and may not climb above the root with ".." (400 otherwise); by
// default the module's configuration file. Any other parameter, or file
// given twice, is refused with 400. A named file that is missing, not a
// regular file or unreadable gets 404, the default file 503 (the console's
// own configuration cannot be read), each with the reason in words.
//
// Every view parses the file afresh (ParamFile) with $(...) commands off:
// the console shows the file as it is now and never runs its commands; the
// module's own readers are left as they were. The caller holds the run
// token; nothing is kept.
class ParamsView {
  public:
    using Query = std::multimap<std::string, std::string>;

    // 200 {"file","ok","types","keys"} (ParamFile::listJson); with key=K
    // instead the explain view of K, as explain() answers it (so that a key
    // named "check" can be explained too).
    static ConsoleReply list(const Query& query);
    // 200 with the explain view of key (paramExplainJson) and "file"; 404
    // with the same body when no type holds it.
    static ConsoleReply explain(const String& key, const Query& query);
    // 200 {"file","ok","types","diagnostics"} (ParamFile::checkJson), also
    // when the parse failed: ok tells.
    static ConsoleReply check(const Query& query);
    // 200 {"directory","files":[platform paths]}: the regular files under
    // the configuration directory (three levels, the first 2000 entries, no
    // links followed) whose first line that is not blank or a comment, in
    // their first 8 KiB, declares a precedence type; in byte order.
    static ConsoleReply files();

  private:
    static ConsoleReply explainIn(const String& key, const Path& file);
    // The file the query names (and key=, where allowed), or false with the
    // refusal in reply.
    static bool chooseFile(const Query& query, bool keyAllowed, Path& file,
                           std::optional<String>& key, ConsoleReply& reply);
};
