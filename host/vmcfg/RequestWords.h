#pragma once

#include <iosfwd>
#include <vector>

#include "host/common/FormSession.h"
#include "platform/String.h"

// The words of vmcfg's raw form requests ("vmcfg form", "vmcfg shell") and
// how their answers are printed.

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
