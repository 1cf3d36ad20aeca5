#include <gtest/gtest.h>

#include "host/platform/HostPlatform.h"

namespace {

// No platform path may name a host file outside the root.
TEST(PlatformRoot, PathsAreNormalisedInsideTheRoot) {
    struct Case {
        const char* path;
        const char* host;
    } cases[] = {
        {"/VM/config/x", "/r/VM/config/x"},
        {"/../x", "/r/x"},
        {"/VM/../../../etc", "/r/etc"},
        {"relative/x", "/r/relative/x"},
        {"../x", "/r/x"},
        {"//VM/./config//x/", "/r/VM/config/x"},
        {"/", "/r"},
        {"/..", "/r"},
        {"/a/b/..", "/r/a"},
        {"/a/..b", "/r/a/..b"},
    };
    HostPlatform::setRoot("/r/");
    for (const Case& c : cases) EXPECT_EQ(HostPlatform::hostPath(c.path), c.host) << c.path;
    HostPlatform::setRoot("/");
    EXPECT_EQ(HostPlatform::hostPath("/../etc/x"), "/etc/x");
    EXPECT_EQ(HostPlatform::hostPath(""), "");
}

}  // namespace
