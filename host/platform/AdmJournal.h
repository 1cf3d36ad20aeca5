#pragma once

#include <string>
#include <vector>

// What the framework saw happen, in order: forms registering and leaving,
// data objects built (with the number of forms registered then) and
// destroyed. For tests of a module's load and unload order.
class AdmJournal {
  public:
    static void note(const std::string& event);
    static std::vector<std::string> events();
    static void clear();
};
