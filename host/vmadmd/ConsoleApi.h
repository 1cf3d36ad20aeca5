#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "host/vmadmd/ConsoleReply.h"
#include "host/vmadmd/ModuleApi.h"
#include "platform/String.h"

// The console's JSON API on the loaded module, apart from HTTP: each call
// answers a status and a JSON body ({"error":"text"} for a refusal).
//
// Calls may come from any number of threads. Each one that reaches module
// code takes the console's lock and then the run token, so requests reach the
// module one at a time, as the platform's server hands them over; a form that
// gives the token up (the feature command) still keeps the others out, since
// the session's field buffer is in use until it answers. Every call that may
// change a set runs with the journal's actor set to the user it is made for.
class ConsoleApi {
  public:
    using Reply = ConsoleReply;

    // Largest request field number, field count and field value accepted.
    static constexpr int kMaxField = 127;
    static constexpr std::size_t kMaxFields = 128;
    static constexpr std::size_t kMaxValue = 4096;

    // The module must be loaded and outlive this object; root is shown to the
    // page as the platform root it administers.
    ConsoleApi(ModuleApi& module, String root);

    // {"application","forms":[numbers in registry order],"root"}.
    Reply session();
    // One form operation: form and op as the URL names them, body
    // {"fields":{"N":"text",...}}. 404 for an unknown form or operation, 400
    // for a body that is not such an object or breaks the bounds; otherwise
    // 200 and the form's answer with "message", the text of its ecode. A
    // change it makes is the user's in the journal.
    Reply form(const String& user, std::string_view form, std::string_view op,
               const std::string& body);
    // The explain view of a configuration key in the parameter file the
    // query names (ParamsView: file=PATH, by default the configuration
    // file); 404 when no slot holds it or the named file cannot be read, 400
    // for a bad path, 503 when the configuration file cannot be read.
    Reply param(const String& key, const std::multimap<std::string, std::string>& query = {});
    // The keys of a parameter file, its parse check and the parameter files
    // found under the configuration directory, as ParamsView answers them.
    Reply params(const std::multimap<std::string, std::string>& query);
    Reply paramCheck(const std::multimap<std::string, std::string>& query);
    Reply paramFiles();
    // Form 1's whole listing of a kind (query kind=KIND), paged to its end
    // here in one call: 200 and an array as "vmcfg --json known list" gives
    // it; 400 for a bad query, 422 when the form refuses (its ecode's text).
    Reply known(const std::multimap<std::string, std::string>& query);
    // A set named as props() names it, read whole as "vmcfg props check"
    // reads it: 200 {"target","ok","count","version"}, else as props().
    Reply propsCheck(const std::multimap<std::string, std::string>& query);
    // The names of a kind's fixed known properties, as KnownView answers.
    Reply fixedKnown(const std::multimap<std::string, std::string>& query);
    // A property set as "vmcfg props show --json" lists it for the Server
    // class, named by exactly one query parameter: system, cos=N,
    // subscriber=N, message=PATH or file=PATH (platform paths, which never
    // lead out of the platform root). 400 for a bad name, 404 when the set's file is missing or
    // unreadable, 500 when its contents or index cannot be read.
    Reply props(const std::multimap<std::string, std::string>& query);
    // The change history of a set named as props() names it, with the
    // filters of HistoryView: 200 and rows, 400 for a bad parameter, 503
    // without a journal.
    Reply history(const std::multimap<std::string, std::string>& query);
    // Reverts one journal record, body {"seq":N,"force":false,"dry_run":
    // false} (the flags optional); 400 for a body that is not such an
    // object, otherwise as ConsoleRevert answers (409 for later changes in
    // the way, unless forced). The revert is the user's in the journal.
    Reply revert(const String& user, const std::string& body);
    // Sets, adds, removes or resets one property of a set, as ConsoleEdit
    // answers (the body is checked there, in the module's library); the
    // change is the user's in the journal.
    Reply edit(const String& user, const std::string& body);

    static Reply error(int status, const String& text);

  private:
    // Runs call on the module library's calls under the console's lock and
    // the run token, as every call that reaches module code does.
    template <class Call>
    Reply inModule(Call&& call);

    ModuleApi& module_;
    String root_;
    std::mutex mutex_;
};
