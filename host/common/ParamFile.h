#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "platform/Path.h"
#include "platform/String.h"

class VantorConfigurationInfo;

// One configuration-parameter file read afresh for inspection, shared by
// "vmcfg param list/check" and the console's parameter screen.
//
// The parse is the reader's own, never the process's shared instance of the
// path: it shows the file as it is now, and a long-lived process (the
// console) neither sees a stale parse nor leaves one behind for the module's
// own readers. With runCommands false, $(...) terms read as empty and no
// command starts (the previous setting is restored afterwards). What the
// reader writes to standard error during the parse is captured rather than
// written, and split into diagnostics.
//
// Nothing throws. A file that cannot be read (missing, not a regular file,
// no permission) is not parsed: problem() says why. The caller holds the run
// token (the parse touches the process's standard error stream and the
// platform's command switch).
class ParamFile {
  public:
    // One thing the reader reported: a line it could not parse (line > 0,
    // text the line as read) or a failure of the whole file (line 0).
    struct Diagnostic {
        unsigned long line = 0;
        String message;
        String text;
    };

    // debugLevel as the reader's (0: failures only).
    ParamFile(const Path& path, unsigned long debugLevel, bool runCommands);
    ~ParamFile();
    ParamFile(const ParamFile&) = delete;
    ParamFile& operator=(const ParamFile&) = delete;

    const Path& path() const { return path_; }
    // Why the file was not read; empty when it was.
    const String& problem() const { return problem_; }
    // Whether the parse succeeded (no line in error, at least one pair).
    bool ok() const { return ok_; }
    // The reader holding what the parse stored (also after a failed parse).
    const VantorConfigurationInfo& reader() const { return *reader_; }
    // What the reader wrote, as it wrote it.
    const String& diagnosticText() const { return text_; }
    const std::vector<Diagnostic>& diagnostics() const { return diagnostics_; }

    // {"file","ok","types":[{"slot","type","type_value"}],
    //  "keys":[{"key","value","type","type_value"}]}: every key any type
    // holds, in byte order, with the value and type that win its lookup.
    nlohmann::json listJson() const;
    // {"file","ok","types":N,"diagnostics":[{"line","message","text"}]};
    // line and text are null for a failure of the whole file.
    nlohmann::json checkJson() const;

  private:
    void parse(unsigned long debugLevel);

    Path path_;
    String problem_;
    bool ok_ = false;
    std::unique_ptr<VantorConfigurationInfo> reader_;
    String text_;
    std::vector<Diagnostic> diagnostics_;
};
