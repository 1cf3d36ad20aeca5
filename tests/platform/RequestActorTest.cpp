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
        ASSERT_TRUE(RequestActor::take(type, body, actor)) << c.name;
        EXPECT_EQ(body, String("request\0bytes", 13)) << c.name;
        EXPECT_EQ(actor, c.travels ? c.actor : "") << c.name;
    }
}

// A trailer announced by the flag but not there, or holding no actor,
// makes the frame bad.
TEST(RequestActor, AnAnnouncedTrailerThatIsNotThereIsRefused) {
    const std::int32_t flagged = kType | RequestActor::typeFlag;
    const std::pair<const char*, String> cases[] = {
        {"an empty body", ""},
        {"a length past the body", String("abc") + '\x09'},
        {"a length of 0", String("abc") + '\0'},
        {"a control character", String("ab\x01") + '\x02'},
    };
    for (const auto& [name, sent] : cases) {
        String body = sent;
        std::string actor;
        EXPECT_FALSE(RequestActor::take(flagged, body, actor)) << name;
    }
}

}  // namespace
