#include "host/platform/AdmServer.h"

namespace {

// Each operation's name and the form's member that answers it.
struct OpName {
    AdmOp op;
    const char* name;
    int (Form::*call)(Buffer&, unsigned int, int&, int&, int&);
};

const OpName kOps[] = {{AdmOp::get, "get", &Form::get},      {AdmOp::chg, "chg", &Form::chg},
                       {AdmOp::add, "add", &Form::add},      {AdmOp::addv, "addv", &Form::addv},
                       {AdmOp::rem, "rem", &Form::rem},      {AdmOp::list, "list", &Form::list},
                       {AdmOp::valid, "valid", &Form::valid}};

// The texts of the "Configuration" application's forms: form 0 stands for
// the framework's own ecodes, which any form may answer.
struct EcodeText {
    int form;
    int ecode;
    const char* text;
};

const EcodeText kTexts[] = {
    {0, ADM_NOT_SUPPORTED, "this form does not support that operation"},
    {0, ADM_UNREADABLE, "a field of the request cannot be read"},
    {0, ADM_NOT_A_NUMBER, "the field does not hold a whole number"},
    {0, ADM_OUT_OF_RANGE, "the number is out of range"},
    {0, ADM_NOT_IN_LIST, "the field does not hold one of the allowed answers"},
    {1, 1,
     "invalid request: the property set is not MESSAGE, SYSTEM, COS or SUBSCRIBER, a field "
     "cannot be read, or the name to continue after is no longer a known property"},
    {1, 501, "more entries follow"},
    {2, 1,
     "invalid request: the property set is not MESSAGE, SYSTEM, COS or SUBSCRIBER, the name "
     "is empty, a field cannot be read, or the property set refused the write"},
    {2, 2, "no such property"},
    {2, 3, "a property of that name already exists"},
    {2, 4, "removal refused: the property is one of its kind's fixed known properties"},
    {3, 1,
     "the feature was not switched: its marker file could not be written or the feature "
     "command \"mkgf_act\" failed"},
    {3, 5, "only one feature can be changed at a time"},
    {3, 6, "confirm: switch the feature off?"},
    {3, 7, "confirm: switch the feature on?"},
    {3, 8, "incompatible features: Call Answer Disclaimer and Tandem Mailbox may not both be on"},
    {3, 9, "a setting must be y or n"},
    {3, 10, "no row may follow the blank row that ends the list"},
};

}  // namespace

std::optional<AdmOp> adm_op(const std::string& word) {
    for (const OpName& entry : kOps)
        if (word == entry.name) return entry.op;
    return std::nullopt;
}

const char* adm_op_name(AdmOp op) {
    for (const OpName& entry : kOps)
        if (entry.op == op) return entry.name;
    return "?";
}

AdmAnswer adm_request(Form& form, AdmOp op, Buffer& buffer) {
    AdmAnswer a;
    for (const OpName& entry : kOps)
        if (entry.op == op) a.result = (form.*entry.call)(buffer, 0, a.rval, a.ecode, a.field_no);
    return a;
}

const Adm_Forms* adm_find(const Adm_Forms* registry, int number) {
    for (const Adm_Forms* entry = registry; entry != nullptr; entry = entry->next)
        if (entry->number == number) return entry;
    return nullptr;
}

std::string adm_ecode_text(int form, int ecode) {
    if (ecode == 0) return "no message";
    for (const EcodeText& t : kTexts)
        if ((t.form == form || t.form == 0) && t.ecode == ecode) return t.text;
    return "message " + std::to_string(ecode) + " of form " + std::to_string(form);
}

std::string adm_result_text(int result) {
    switch (result) {
        case 0:
            return "ok";
        case 1023:
            return "failed";
        case 1037:
            return "confirm";
        default:
            return "result " + std::to_string(result);
    }
}
