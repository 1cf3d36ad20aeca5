#pragma once

// The administration server's side of the framework stand-in
// (platform/AdmFramework.h is the module's side): walking a registry, driving
// one request, and the texts an administrator reads for the ecodes of the
// module's forms. AdmModule loads a module; AdmJournal records its load and
// unload order.

#include <optional>
#include <string>
#include <vector>

#include "host/platform/AdmJournal.h"
#include "host/platform/AdmModule.h"
#include "platform/AdmFramework.h"

// The operations a request can ask of a form.
enum class AdmOp { get, chg, add, addv, rem, list, valid };

// "get", "chg", ... (exact, lower case); nothing for any other word.
std::optional<AdmOp> adm_op(const std::string& word);
const char* adm_op_name(AdmOp op);

// What a form answered.
struct AdmAnswer {
    int result = 0;
    int rval = 0;
    int ecode = 0;
    int field_no = -1;
};

// Runs one operation of a form on the buffer, as the server does: the
// outputs start at 0, 0, -1 and the operation sets them.
AdmAnswer adm_request(Form& form, AdmOp op, Buffer& buffer);

// The registry entry of a form number, or null.
const Adm_Forms* adm_find(const Adm_Forms* registry, int number);

// The text an administrator sees for an ecode of a form of the
// "Configuration" application (or of the framework itself); a generic text
// naming the number for an ecode nobody defined.
std::string adm_ecode_text(int form, int ecode);
// The meaning of a form result: "ok", "failed", "confirm", or "result N".
std::string adm_result_text(int result);
