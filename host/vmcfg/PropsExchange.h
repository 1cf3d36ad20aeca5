#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <memory>
#include <vector>

#include "host/common/PropsTarget.h"
#include "host/vmcfg/GlobalOptions.h"
#include "platform/String.h"

class Properties;

// The "props" commands that move whole sets between the platform and files
// on this machine, and compare sets:
//   props export TARGET [--output FILE]   the set's text stream, byte for byte
//   props import TARGET FILE [--dry-run] [--yes]
//                          replaces the set's contents with the stream in FILE,
//                          showing the difference first; asks unless --yes
//   props diff A B         what B holds that A does not, copy by copy; each
//                          of A and B is FILE (a platform path), --system,
//                          --message PATH, --cos N, --subscriber N, or
//                          --file FILE (a stream on this machine)
// TARGET is read under the platform root; --output and --file name paths on
// this machine. A stream that does not parse is refused before anything is
// written. An import saves through the set's own save path (EditCycle), so
// a set of a kind another box owns is handed to that box. --access CLASS
// (default Server): import and diff show only what the class may read.
// Exit status: 0 done (diff: also when the sets differ); 1 refused, not
// confirmed, malformed stream or not saved; 2 bad usage or an unreadable
// file. The caller must hold the run token while run() runs.
class PropsExchange {
  public:
    // Adds the commands to the props group; options are bound to this object,
    // which must outlive the parse.
    explicit PropsExchange(CLI::App* group);

    bool selected() const;
    int run(const GlobalOptions& options, std::istream& in, std::ostream& out, std::ostream& err);

  private:
    // One side of a diff: a set under the root, or a stream file here.
    struct Side {
        PropsTarget target;
        String file;  // when not empty: a host file
    };

    int exportSet(std::ostream& out, std::ostream& err);
    int importSet(const GlobalOptions& options, std::istream& in, std::ostream& out,
                  std::ostream& err);
    int diff(const GlobalOptions& options, std::ostream& out, std::ostream& err);
    bool diffSides(std::vector<Side>& sides, std::ostream& err) const;
    std::unique_ptr<Properties> openSide(const Side& side, std::ostream& err, int& status) const;

    PropsTarget target_;
    CLI::App* export_;
    CLI::App* import_;
    CLI::App* diff_;
    std::vector<String> words_;
    String output_;
    String access_ = "Server";
    PropertyAttributes::AccessType accessClass_ = PropertyAttributes::Server;  // access_, parsed
    bool dryRun_ = false;
    bool yes_ = false;
    // diff's sides, in the order given (see diffSides).
    int systems_ = 0;
    std::vector<String> messages_, coses_, subscribers_, files_, paths_;
};
