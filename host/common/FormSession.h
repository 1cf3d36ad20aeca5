#pragma once

#include <iosfwd>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "host/platform/AdmServer.h"
#include "platform/String.h"

// The module loaded the way the administration server loads it (dlopen of
// libconfig_adm.so, SM_pkg_data and Forms by name), kept loaded for any
// number of requests. Used by "vmcfg form", "vmcfg shell", "vmcfg known" and
// the console vmadmd. The caller holds the run token while requests run and
// lets one request run at a time: the session has one field buffer.
class FormSession {
  public:
    // One request: a form number, an operation and request fields by number.
    struct Request {
        int form = 0;
        AdmOp op = AdmOp::get;
        std::map<int, String> fields;
    };
    // What the form answered, with every reply field.
    struct Answer {
        AdmAnswer outputs;
        std::vector<String> fields;
    };

    // When the module is unmapped: with the session, as the server unloads
    // it, or only at exit, for a program that runs one command (what the
    // module's static objects allocated then stays theirs instead of
    // leaking with the unmapped library).
    enum class Unload { withSession, atExit };

    // Loads the module (path empty: AdmModule::defaultPath()); says why not on
    // err, after `program` ("vmcfg: can't load the module: ...").
    bool open(const String& path, std::ostream& err, const char* program = "vmcfg",
              Unload unload = Unload::withSession);
    // Answers the request, or nothing when the module has no such form.
    std::optional<Answer> call(const Request& request);
    // The form numbers in registry order.
    std::vector<int> formNumbers() const;
    // The loaded module's administration data (null before open()).
    const Appl_Adm_Data* data() const { return module_.data(); }

  private:
    AdmModule module_;
    Buffer buffer_;
};

// An answer as one JSON object {"form","op","result","rval","ecode",
// "field_no","fields"}; reply fields that are not UTF-8 are replaced when it
// is dumped through jsonText, and are also given whole as hexadecimal bytes
// in "raw_fields" {"N":"hex"} (present only when there is such a field).
nlohmann::json answerJson(const FormSession::Request& request, const FormSession::Answer& answer);
