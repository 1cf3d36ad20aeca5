#pragma once

#include <nlohmann/json.hpp>
#include <vector>

#include "host/common/FormSession.h"
#include "platform/String.h"

// Form 1's listing of a kind's known properties, paged to its end (the form
// answers four a request and names the fourth for the next page), shared by
// "vmcfg known list" and the console's one-call listing. The caller holds
// the run token and lets no other request use the session meanwhile.
class KnownListing {
  public:
    // One known property as the forms lay it out.
    struct Known {
        String name;
        bool read[6] = {};   // chain order: server, privileged, trusted, standard,
        bool write[6] = {};  // restricted, minimal
        bool forwardable = false;
        String version = "1";
        String type = "0";
    };

    enum class Outcome {
        Listed,   // rows holds the whole listing
        NoForm,   // the module has no form 1
        Refused,  // form 1 refused: refusal holds its answer
        Stuck,    // a page named the same next name twice: stuckAt holds it
    };

    static Outcome list(FormSession& session, const String& kind, std::vector<Known>& rows,
                        FormSession::Answer& refusal, String& stuckAt);

    // The property in reply fields base+1 to base+17 of form 1 or 2.
    static Known fromReply(const std::vector<String>& fields, int base);
    // {"name" (+"name_hex"),"read":[classes],"write":[classes],"forwardable",
    // "version","type"}, classes by lower-case name from the widest.
    static nlohmann::json toJson(const Known& known);

    // The classes' lower-case names from the widest to the narrowest.
    static const char* const kClasses[6];
};
