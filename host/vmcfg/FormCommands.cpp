#include "host/vmcfg/FormCommands.h"

#include <istream>
#include <ostream>

#include "host/common/JsonText.h"
#include "host/vmcfg/RequestWords.h"

namespace {

String formList(const FormSession& session) {
    String list;
    for (int number : session.formNumbers())
        list += (list.empty() ? "" : ", ") + std::to_string(number);
    return list.empty() ? String("none") : list;
}

}  // namespace

FormCommands::FormCommands(CLI::App& app) {
    form_ = app.add_subcommand("form", "Send one raw request to a form of the module");
    form_->add_option("--module", module_, "The module library (default: beside vmcfg)");
    form_->prefix_command();
    form_->footer(
        "Request: NUMBER OP [FIELD...] [-f N=TEXT]...  (OP: get chg add addv rem list valid)\n"
        "Exit status: 0 result 0, 1 result 1023, 3 result 1037, 2 usage, 4 no module.");
    shell_ = app.add_subcommand(
        "shell", "Read raw requests from standard input, one a line, the module kept loaded");
    shell_->add_option("--module", module_, "The module library (default: beside vmcfg)");
}

bool FormCommands::selected() const {
    return form_->parsed() || shell_->parsed();
}

int FormCommands::run(const GlobalOptions& options, std::istream& in, std::ostream& out,
                      std::ostream& err) {
    if (form_->parsed()) return runForm(options.json, out, err);
    return runShell(options.json, in, out, err);
}

int FormCommands::runForm(bool json, std::ostream& out, std::ostream& err) {
    FormSession::Request request;
    String error;
    std::vector<String> words = form_->remaining();
    if (!parseRequest(words, request, error, &json)) {
        err << "vmcfg: form: " << error << std::endl;
        return 2;
    }
    FormSession session;
    if (!session.open(module_, err, "vmcfg", FormSession::Unload::atExit)) return 4;
    std::optional<FormSession::Answer> answer = session.call(request);
    if (!answer) {
        err << "vmcfg: form: the module has no form " << request.form << " (forms "
            << formList(session) << ")" << std::endl;
        return 2;
    }
    printAnswer(request, *answer, json, out);
    return formExitStatus(answer->outputs.result);
}

int FormCommands::runShell(bool json, std::istream& in, std::ostream& out, std::ostream& err) {
    FormSession session;
    if (!session.open(module_, err, "vmcfg", FormSession::Unload::atExit)) return 4;
    int status = 0;
    String line;
    for (long number = 1; std::getline(in, line); ++number) {
        std::vector<String> words;
        String error;
        FormSession::Request request;
        if (!splitWords(line, words, error)) {
        } else if (words.empty()) {
            continue;  // blank line or comment
        } else if (!parseRequest(words, request, error)) {
        } else if (std::optional<FormSession::Answer> answer = session.call(request)) {
            printAnswer(request, *answer, json, out);
            if (!json) out << "\n";
            out.flush();
            continue;
        } else {
            error = "the module has no form " + std::to_string(request.form) + " (forms " +
                    formList(session) + ")";
        }
        status = 2;
        err << "vmcfg: shell: line " << number << ": " << error << std::endl;
        if (json) out << jsonText({{"line", number}, {"error", error}});
        out.flush();
    }
    return status;
}
