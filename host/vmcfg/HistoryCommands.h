#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <iosfwd>
#include <vector>

#include "host/common/PropsTarget.h"
#include "host/vmcfg/GlobalOptions.h"
#include "platform/String.h"

struct JournalQuery;

// The "history" command group of vmcfg: reads the change journal.
//   history [TARGET] [--name N] [--since T] [--until T] [--actor U] [--limit N]
//                        the property changes, newest first, one line (or one
//                        JSON row) each; 50 at most unless --limit says
//   history show SEQ     every change of one record
//   history prune [--days N]
//                        removes the records older than N days (default
//                        $VM_JOURNAL_KEEP_DAYS, else 365) and says how many
// TARGET is chosen as for "props" (FILE, --system, --message PATH, --cos N,
// --subscriber N); before its history is read, records left pending by
// writers of that set that were killed are settled, so a save whose writer
// died just after it still shows. Times: "2026-12-06", "2026-12-06T20:15",
// or a duration back from now ("2h", "7d"). --access CLASS (default Server):
// values the class may not read show as "(hidden)" (null in JSON), changes it
// may read no side of are left out. Exit status: 0 done; 1 no such record or
// the journal cannot be read; 2 bad usage. The caller holds the run token.
class HistoryCommands {
  public:
    // Registers the group on app; options are bound to this object, which
    // must outlive the parse.
    explicit HistoryCommands(CLI::App& app);

    bool selected() const;
    int run(const GlobalOptions& options, std::ostream& out, std::ostream& err);

  private:
    bool targetGiven() const;
    bool queryOf(JournalQuery& query, std::ostream& err);
    int list(const GlobalOptions& options, std::ostream& out, std::ostream& err);
    static void noChange(const JournalQuery& query, std::ostream& err);
    int show(const GlobalOptions& options, std::ostream& out, std::ostream& err);
    int prune(const GlobalOptions& options, std::ostream& out, std::ostream& err);

    PropsTarget target_;
    CLI::App* group_;
    CLI::App* show_;
    CLI::App* prune_;
    std::vector<String> words_;
    String name_;
    String since_;
    String until_;
    String actor_;
    String access_ = "Server";
    String seq_;
    long long limit_ = 50;
    long long days_ = 0;
};
