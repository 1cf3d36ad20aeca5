#include "host/common/FormSession.h"

#include <dlfcn.h>

#include <ostream>

#include "host/common/JsonText.h"

bool FormSession::open(const String& path, std::ostream& err, const char* program, Unload unload) {
    String chosen = path.empty() ? AdmModule::defaultPath() : path;
    String error;
    if (!module_.load(chosen, error)) {
        err << program << ": can't load the module: " << error << std::endl;
        return false;
    }
    // A second reference, never closed, on the library already loaded.
    if (unload == Unload::atExit) dlopen(chosen.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    return true;
}

std::optional<FormSession::Answer> FormSession::call(const Request& request) {
    Form* form = module_.form(request.form);
    if (form == nullptr) return std::nullopt;
    buffer_.clear();
    for (const auto& [number, text] : request.fields) buffer_.set_field(number, text);
    Answer answer;
    answer.outputs = adm_request(*form, request.op, buffer_);
    answer.fields.assign(buffer_.reply_fields().begin(), buffer_.reply_fields().end());
    return answer;
}

std::vector<int> FormSession::formNumbers() const {
    std::vector<int> numbers;
    for (const Adm_Forms* entry = module_.forms(); entry != nullptr; entry = entry->next)
        numbers.push_back(entry->number);
    return numbers;
}

nlohmann::json answerJson(const FormSession::Request& request, const FormSession::Answer& answer) {
    const AdmAnswer& a = answer.outputs;
    nlohmann::json json = {{"form", request.form},   {"op", adm_op_name(request.op)},
                           {"result", a.result},     {"rval", a.rval},
                           {"ecode", a.ecode},       {"field_no", a.field_no},
                           {"fields", answer.fields}};
    // A name cut after its 70th byte can end or start inside a character:
    // such fields also travel as their bytes, so a client can join them.
    nlohmann::json raw = nlohmann::json::object();
    for (std::size_t i = 0; i < answer.fields.size(); ++i)
        if (!validUtf8(answer.fields[i])) raw[std::to_string(i)] = hexBytes(answer.fields[i]);
    if (!raw.empty()) json["raw_fields"] = std::move(raw);
    return json;
}
