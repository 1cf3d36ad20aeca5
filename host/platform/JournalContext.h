#pragma once

#include <cstdint>
#include <string>

// Who the journal names for this process's saves, and what went wrong with
// the journal in it. The actor is the console user of the request a thread
// serves when one is set, else $SUDO_USER, else the user name of the
// process's uid. The sending box is set by a thread applying another box's
// save. Failures are counted for the whole process so that a tool can warn
// after its work that a change went unrecorded.
class JournalContext {
  public:
    // Sets the calling thread's actor and sending box until destroyed.
    class Scope {
      public:
        Scope(std::string actor, std::uint16_t senderBox);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        std::string actor_;
        std::uint16_t senderBox_;
    };

    static std::string actor();
    static std::uint16_t senderBox();
    // The short name of the running program.
    static std::string program();
    // The host name, as journal records carry it.
    static const std::string& host();

    static void noteFailure(const std::string& why);
    static unsigned failures();
    static std::string lastFailure();
};
