#pragma once

#include <iosfwd>
#include <map>
#include <optional>
#include <vector>

#include "host/platform/AdmServer.h"
#include "host/vmcfg/PropertyText.h"
#include "platform/String.h"

// The module loaded the way the administration server loads it (dlopen of
// libconfig_adm.so, SM_pkg_data and Forms by name), kept loaded for any
// number of requests. Used by "vmcfg form", "vmcfg shell" and "vmcfg known".
// The caller holds the run token while requests run.
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

    // Loads the module (path empty: AdmModule::defaultPath()); says why not on err.
    bool open(const String& path, std::ostream& err);
    // Answers the request, or nothing when the module has no such form.
    std::optional<Answer> call(const Request& request);
    // The form numbers in registry order.
    std::vector<int> formNumbers() const;

  private:
    AdmModule module_;
    Buffer buffer_;
};

// Exit status of a form result: 0 for 0, 1 for 1023, 3 for 1037, 4 otherwise.
int formExitStatus(int result);

// Parses the words of one raw request: NUMBER OP [FIELD...] [-f N=TEXT]...
// (also --field N=TEXT, --field=N=TEXT; "--" ends the options; "-" and
// negative numbers are fields). Positional fields fill 0, 1, 2, ...; -f
// fields are applied after them. When json is given, "--json" is accepted as
// an option and sets it. False with the reason in error.
bool parseRequest(const std::vector<String>& words, FormSession::Request& request, String& error,
                  bool* json = nullptr);

// Splits one line into words as a POSIX shell would (blanks separate; '...'
// literal; "..." with \\ \" \$ \` escapes; backslash escapes outside quotes;
// an unquoted # starts a comment). False with the reason in error when a
// quote is not closed or the line ends in a backslash.
bool splitWords(const String& line, std::vector<String>& words, String& error);

// Prints an answer: human-readable (result, outputs with the ecode's text,
// every reply field) or one JSON object {"form","op","result","rval",
// "ecode","field_no","fields"} on one line.
void printAnswer(const FormSession::Request& request, const FormSession::Answer& answer, bool json,
                 std::ostream& out);
