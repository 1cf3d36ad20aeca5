#include <gtest/gtest.h>

#include <string>

#include "host/platform/RequestActor.h"

namespace {

constexpr std::int32_t kType = 1 | (7 << 16);  // a request from box 7

// What travels, and what a server makes of it: the body and type word sent
// for an actor, then the body, actor and verdict taken back.
TEST(RequestActor, TravelsBehindTheBodyOnlyWhenItCan) {
    const struct {
        const char* name;
        std::string actor;
        bool travels;
    } cases[] = {
        {"a user name", "alice", true},
        {"a name with blanks and UTF-8", "Zoë O'Neil", true},
        {"the longest", std::string(255, 'x'), true},
        {"none", "", false},
        {"too long", std::string(256, 'x'), false},
        {"a line end in it", "alice\nmallory", false},
        {"a NUL in it", std::string("al\0ce", 5), false},
    };
    for (const auto& c : cases) {
        String body("request\0bytes", 13);
        std::int32_t type = RequestActor::append(kType, body, c.actor);
        EXPECT_EQ(type == (kType | RequestActor::typeFlag), c.travels) << c.name;
        EXPECT_EQ(body.size(), c.travels ? 13 + c.actor.size() + 1 : 13) << c.name;
        EXPECT_EQ(RequestActor::messageType(type), 1) << c.name;
        std::string actor = "left over";
        ASSERT_TRUE(RequestActor::take(type, body, actor, 13)) << c.name;
        EXPECT_EQ(body, String("request\0bytes", 13)) << c.name;
        EXPECT_EQ(actor, c.travels ? c.actor : "") << c.name;
    }
}

// A trailer announced by the flag but not there, or holding no actor, makes
// the frame bad; so does a body longer than the limit once the trailer is
// off, flagged or not (the trailer's room is for the trailer only).
TEST(RequestActor, AnAnnouncedTrailerThatIsNotThereOrABodyPastTheLimitIsRefused) {
    const std::int32_t flagged = kType | RequestActor::typeFlag;
    const struct {
        const char* name;
        std::int32_t type;
        String body;
    } cases[] = {
        {"an empty body", flagged, ""},
        {"a length past the body", flagged, String("abc") + '\x09'},
        {"a length of 0", flagged, String("abc") + '\0'},
        {"a control character", flagged, String("ab\x01") + '\x02'},
        {"a body past the limit behind a good actor", flagged, String("abcdx") + '\x01'},
        {"a body past the limit without an actor", kType, "abcd"},
    };
    for (const auto& c : cases) {
        String body = c.body;
        std::string actor;
        EXPECT_FALSE(RequestActor::take(c.type, body, actor, 3)) << c.name;
    }
    String fits = String("abcx") + '\x01';
    std::string actor;
    EXPECT_TRUE(RequestActor::take(flagged, fits, actor, 3));
    EXPECT_EQ(actor, "x");
}

}  // namespace
