#include <gtest/gtest.h>

#include "host/platform/MsgRoutes.h"

namespace {

struct ParseCase {
    const char* name;
    const char* text;
    bool ok;
    // Good files: "box=address" of each route in box order; bad ones: the error.
    const char* expected;
};

const ParseCase kCases[] = {
    {"Empty", "", true, ""},
    {"CommentsAndBlanks", "# routes\n\n   \t\n333 10.0.0.2:7000  # owner\n", true,
     "333=10.0.0.2:7000"},
    {"SeveralBoxesAndNames", "1 host-a.example:1\r\n333\t[::1]:65535\n7 box_7:80", true,
     "1=host-a.example:1 7=box_7:80 333=[::1]:65535"},
    {"NoAddress", "333\n", false, "routes:1: expected 'BOX HOST:PORT', got '333'"},
    {"ExtraWord", "\n333 a:1 b:2\n", false,
     "routes:2: expected 'BOX HOST:PORT', got '333 a:1 b:2'"},
    {"BoxNotANumber", "box333 a:1\n", false, "routes:1: 'box333' is not a box number (1-65535)"},
    {"BoxZero", "0 a:1\n", false, "routes:1: '0' is not a box number (1-65535)"},
    {"BoxTooLarge", "65536 a:1\n", false, "routes:1: '65536' is not a box number (1-65535)"},
    {"NoPort", "333 host\n", false, "routes:1: 'host' is not HOST:PORT"},
    {"PortZero", "333 host:0\n", false, "routes:1: 'host:0' has no valid port (1-65535)"},
    {"PortTooLarge", "333 host:70000\n", false,
     "routes:1: 'host:70000' has no valid port (1-65535)"},
    {"BareIpv6", "333 ::1:7000\n", false,
     "routes:1: '::1:7000' has no valid host (an IPv6 address goes in brackets)"},
    {"BadHostCharacter", "333 a/b:1\n", false,
     "routes:1: 'a/b:1' has no valid host (an IPv6 address goes in brackets)"},
    {"SecondRouteForABox", "333 a:1\n333 b:2\n", false, "routes:2: box 333 has a route already"},
};

class MsgRoutesParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(MsgRoutesParse, ReadsGoodLinesAndNamesTheFirstBadOne) {
    const ParseCase& c = GetParam();
    MsgRoutes::Table table;
    String error;
    ASSERT_EQ(MsgRoutes::parse(c.text, "routes", table, error), c.ok) << error;
    if (!c.ok) {
        EXPECT_EQ(error, c.expected);
        return;
    }
    String routes;
    for (const auto& [box, route] : table)
        routes += (routes.empty() ? "" : " ") + std::to_string(box) + "=" + route.text();
    EXPECT_EQ(routes, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Lines, MsgRoutesParse, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return String(info.param.name); });

TEST(MsgRoutesAddress, ListenAddressMayAskForAnyPort) {
    MsgRoutes::Route route;
    String error;
    EXPECT_FALSE(MsgRoutes::parseAddress("127.0.0.1:0", route, error));
    ASSERT_TRUE(MsgRoutes::parseAddress("127.0.0.1:0", route, error, true)) << error;
    EXPECT_EQ(route.text(), "127.0.0.1:0");
}

}  // namespace
