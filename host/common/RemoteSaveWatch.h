#pragma once

#include <cstdint>
#include <optional>

#include "host/platform/HostTrace.h"
#include "platform/String.h"

// Listens to the platform trace while a set is saved, to learn what a failed
// hand-off to the owner box was. A set keeps only the error code a failed
// save leaves (a messaging failure reads as OS_SYSTEM_ERROR/EHOSTUNREACH); the
// result of the messaging call itself is reported only in the trace line
// "update by box B failed, result R", at level 1. Watching from construction
// to destruction; a trace level below 1 hides that line.
class RemoteSaveWatch : public TraceSink {
  public:
    RemoteSaveWatch();
    ~RemoteSaveWatch() override;
    RemoteSaveWatch(const RemoteSaveWatch&) = delete;
    RemoteSaveWatch& operator=(const RemoteSaveWatch&) = delete;

    void message(int level, const String& text) override;

    // The result of the last failed hand-off: a messaging status (1401-1408, 1410-1412,
    // 1114 when no message could be made) or the owner's refusal code.
    std::optional<int> result() const { return result_; }
    // The last level-1 trace text seen, if any.
    const String& lastProblem() const { return lastProblem_; }

    // Whether a hand-off result is a messaging status (the owner never
    // answered) rather than the owner's refusal.
    static bool isMessagingStatus(int result);
    // A messaging status in words for owner box `owner`, ending with
    // "(messaging status N)".
    static String describeStatus(int status, std::uint16_t owner);

  private:
    std::optional<int> result_;
    String lastProblem_;
};
