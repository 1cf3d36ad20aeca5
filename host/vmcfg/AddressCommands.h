#pragma once

#include <CLI/CLI.hpp>
#include <iosfwd>

#include "host/vmcfg/GlobalOptions.h"
#include "platform/String.h"

// The "address" command group of vmcfg: the module's network-address
// functions (util/Address.h) on the platform's directory and message store.
//   address locate ADDRESS NODE   locate_address: the result code with its
//                                 meaning; on success the user id, the node
//                                 number and the address parts
//   address build ITEM            construct_address: the address text and the
//                                 node name of a message-store item
// Exit status: 0 located or built; 1 any other result of the module; 2 bad
// usage. The caller must hold the run token while run() runs.
class AddressCommands {
  public:
    explicit AddressCommands(CLI::App& app);

    bool selected() const;
    int run(const GlobalOptions& options, std::ostream& out, std::ostream& err);

    // The meaning of a result of locate_address; `node` is what it left in
    // its node output (-1: the directory has no node of that name).
    static String locateMeaning(int result, short node);
    // A node kind in words.
    static String kindMeaning(int kind);

  private:
    int locate(bool json, std::ostream& out) const;
    int build(bool json, std::ostream& out, std::ostream& err) const;

    CLI::App* group_;
    CLI::App* locate_;
    CLI::App* build_;
    String address_;
    String nodeName_;
    long item_ = 0;
};
