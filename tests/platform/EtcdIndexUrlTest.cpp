#include <gtest/gtest.h>

#include "host/platform/EtcdIndexUrl.h"

namespace {

TEST(EtcdIndexUrlTest, ValidUrlsGiveTheirEndpointsAndParameters) {
    struct Case {
        const char* text;
        std::string endpoints, prefix;  // endpoints joined by spaces
        int timeoutMs;
        std::string tls;
    } cases[] = {
        {"etcd://127.0.0.1:2379", "127.0.0.1:2379", "/vm/idx", 2000, ""},
        {"etcd://a:1,b.example.com:65535,[::1]:2379", "a:1 b.example.com:65535 [::1]:2379",
         "/vm/idx", 2000, ""},
        {"etcd://h:2379?prefix=/x/y&timeout_ms=250&tls=/etc/vm/tls", "h:2379", "/x/y", 250,
         "/etc/vm/tls"},
        {"etcd://h:2379?timeout_ms=600000", "h:2379", "/vm/idx", 600000, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EtcdIndexUrl url;
        std::string error;
        ASSERT_TRUE(EtcdIndexUrl::parse(c.text, url, error)) << error;
        std::string endpoints;
        for (const auto& e : url.endpoints())
            endpoints += (endpoints.empty() ? "" : " ") + EtcdIndexUrl::authority(e);
        EXPECT_EQ(endpoints, c.endpoints);
        EXPECT_EQ(url.prefix(), c.prefix);
        EXPECT_EQ(url.timeoutMs(), c.timeoutMs);
        EXPECT_EQ(url.tlsDir(), c.tls);
    }
}

TEST(EtcdIndexUrlTest, BadUrlsAreRefusedSayingWhatIsWrong) {
    struct Case {
        const char* text;
        const char* says;
    } cases[] = {
        {"http://h:2379", "not an etcd URL"},
        {"lmdb", "not an etcd URL"},
        {"etcd://", "no endpoint"},
        {"etcd://?prefix=/a", "no endpoint"},
        {"etcd://h", "has no port"},
        {"etcd://h:", "bad port"},
        {"etcd://h:0", "bad port"},
        {"etcd://h:65536", "bad port"},
        {"etcd://h:23x", "bad port"},
        {"etcd://:2379", "bad host"},
        {"etcd://h h:2379", "bad host"},
        {"etcd://::1:2379", "bad host"},
        {"etcd://[::1]", "has no port"},
        {"etcd://[]:2379", "bad IPv6"},
        {"etcd://[zz]:1", "bad IPv6"},
        {"etcd://a:1,,b:2", "empty endpoint"},
        {"etcd://a:1,", "empty endpoint"},
        {"etcd://a:1,a:1", "given twice"},
        {"etcd://a:1?", "has no value"},
        {"etcd://a:1?prefix", "has no value"},
        {"etcd://a:1?prefix=", "has no value"},
        {"etcd://a:1?prefix=vm", "must start with"},
        {"etcd://a:1?prefix=/vm/", "must start with"},
        {"etcd://a:1?prefix=/", "must start with"},
        {"etcd://a:1?timeout_ms=0", "timeout_ms"},
        {"etcd://a:1?timeout_ms=600001", "timeout_ms"},
        {"etcd://a:1?timeout_ms=-5", "timeout_ms"},
        {"etcd://a:1?timeout_ms=2s", "timeout_ms"},
        {"etcd://a:1?tls=/a&tls=/b", "given twice"},
        {"etcd://a:1?prefix=/a&&tls=/b", "has no value"},
        {"etcd://a:1?user=x", "unknown parameter"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EtcdIndexUrl url;
        std::string error;
        EXPECT_FALSE(EtcdIndexUrl::parse(c.text, url, error));
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

}  // namespace
