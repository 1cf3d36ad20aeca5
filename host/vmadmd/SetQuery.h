#pragma once

#include <map>
#include <span>
#include <string>
#include <string_view>

#include "host/common/PropsTarget.h"
#include "platform/String.h"

// The property set a console request names in its query: exactly one of
// system, cos=N, subscriber=N, message=PATH, msgid=N (a stored message, whose
// property file the message store names) or file=PATH (platform paths),
// beside the parameters the call takes of its own. Shared by the views of a
// set's properties and of its history, so both take the same names.
class SetQuery {
  public:
    using Query = std::multimap<std::string, std::string>;

    // False with the reason in error for no set or more than one, a bad
    // number or path, or a parameter that is neither a set nor in `others`.
    bool parse(const Query& query, std::span<const std::string_view> others, String& error);

    const PropsTarget& target() const { return target_; }

  private:
    PropsTarget target_;
};
