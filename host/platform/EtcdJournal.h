#pragma once

#include <memory>
#include <string>

#include "host/platform/JournalStore.h"

class EtcdIndexUrl;

// The journal in the etcd cluster that keeps the index, so that every host
// sees one history.
class EtcdJournal {
  public:
    static std::unique_ptr<JournalStore> open(const EtcdIndexUrl& url, std::string& error);
};
