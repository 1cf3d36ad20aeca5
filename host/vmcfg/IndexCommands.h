#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>

#include "host/vmcfg/GlobalOptions.h"

// The "index" command group of vmcfg: where this host's index service keeps
// the class-of-service and subscriber records ($VM_INDEX, as the platform's
// processes choose it).
//   index status   the backend; for etcd the members, the leader, the
//                  cluster's revision and the answering member's database
//                  size, asked within the URL's timeout_ms
// Output: lines of text, or with --json {"backend":"lmdb"} or
// {"backend":"etcd","members":[{"id","name","client_urls"}],"leader":ID,
// "revision":N,"db_size":BYTES}. Exit status: 0, 1 when $VM_INDEX is not
// valid or the cluster does not answer (the reason on standard error).
class IndexCommands {
  public:
    explicit IndexCommands(CLI::App& app);

    bool selected() const;
    int run(const GlobalOptions& options, std::ostream& out, std::ostream& err);

  private:
    CLI::App* group_;
    CLI::App* status_;
};
