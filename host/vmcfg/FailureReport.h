#pragma once

#include <iosfwd>
#include <memory>

#include "platform/String.h"

// Under JSON output every failure of vmcfg prints one object on standard
// output, {"error": TEXT, "exit": N}, so that a script reading the output
// always gets JSON. Commands write through out() and err() (which pass
// everything on to the streams given, unbuffered by this class); finish()
// then prints the object when the command failed and wrote nothing on
// out(): TEXT is the first line the command wrote on err() (without the
// "vmcfg: " it starts with). A command that printed its own JSON for a
// failure keeps it. Without JSON, finish() only returns the status.
class FailureReport {
  public:
    FailureReport(bool json, std::ostream& out, std::ostream& err);
    ~FailureReport();
    FailureReport(const FailureReport&) = delete;
    FailureReport& operator=(const FailureReport&) = delete;

    std::ostream& out();
    std::ostream& err();
    // Returns status, having printed the object if it is due.
    int finish(int status);

    // The object for a failure found before any command ran.
    static String object(const String& error, int status);

  private:
    class Watch;
    bool json_;
    std::ostream& realOut_;
    std::unique_ptr<Watch> outWatch_, errWatch_;
    std::unique_ptr<std::ostream> out_, err_;
};
