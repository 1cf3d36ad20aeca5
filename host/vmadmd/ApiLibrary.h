#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "host/vmadmd/ConsoleReply.h"

// The entry point of libvmadmd_api.so: the console's calls that reach the
// module's functions directly (parameter, property set and history views,
// the revert of a change). The library is linked against the module; vmadmd
// is not, and loads it only after it has loaded the module by dlopen, so
// that the library's references bind to that module (see ModuleApi). The caller holds the console's
// lock and the run token around every call.
struct ApiLibraryCalls {
    // The explain view of a configuration key in the file the query names
    // (ParamsView::explain).
    ConsoleReply (*param)(const std::string& key,
                          const std::multimap<std::string, std::string>& query);
    // A property set named by the query (ConsoleApi::props).
    ConsoleReply (*props)(const std::multimap<std::string, std::string>& query);
    // A set's change history (HistoryView).
    ConsoleReply (*history)(const std::multimap<std::string, std::string>& query);
    // Reverts one journal record (ConsoleRevert).
    ConsoleReply (*revert)(std::uint64_t seq, bool force, bool dryRun);
    // Sets, adds, removes or resets a property of a set (ConsoleEdit).
    ConsoleReply (*edit)(const std::string& body);
    // The keys of a parameter file, its parse check, the parameter files
    // (ParamsView).
    ConsoleReply (*paramList)(const std::multimap<std::string, std::string>& query);
    ConsoleReply (*paramCheck)(const std::multimap<std::string, std::string>& query);
    ConsoleReply (*paramFiles)();
    // The names of a kind's fixed known properties (KnownView).
    ConsoleReply (*fixedKnown)(const std::multimap<std::string, std::string>& query);
    // A set read whole, as "vmcfg props check" reads it.
    ConsoleReply (*propsCheck)(const std::multimap<std::string, std::string>& query);
    // The version of the module the library is bound to.
    const char* (*moduleVersion)();
};

extern "C" {
// The library's calls; never null, valid while the library is loaded.
const ApiLibraryCalls* vmadmd_api_calls();
}

// The name under which dlsym finds it, and the library's file name.
inline constexpr const char* kApiLibraryEntry = "vmadmd_api_calls";
inline constexpr const char* kApiLibraryName = "libvmadmd_api.so";
