// The framework stand-in's field buffer and the module's Yes_No table.

#include <gtest/gtest.h>

#include "admin/Group.h"
#include "host/platform/AdmServer.h"

namespace {

using Fields = std::vector<std::string>;

TEST(Framework, YesNoReadsAndWritesBothCases) {
    Buffer buffer;
    char code = 0;
    int rval = 0, ecode = 0;
    std::string read;
    for (const char* text : {"y", " n ", "Y"}) {
        buffer.set_field(0, text);
        code = '?';
        buffer.in_string(0, Yes_No, code, rval, ecode);
        read += code;
    }
    EXPECT_EQ(read, "yn?");
    EXPECT_EQ(ecode, ADM_NOT_IN_LIST);
    buffer.reply(4);
    for (char c : {'Y', 'N', 'n'}) buffer.out_string(c == 'Y' ? 0 : c == 'N' ? 1 : 2, Yes_No, c);
    EXPECT_NE(buffer.out_string(3, Yes_No, 'x'), 0);
    EXPECT_EQ(buffer.reply_fields(), (Fields{"y", "n", "n", ""}));
}

TEST(Framework, FieldsOutsideTheRequestOrTheReplyAreRefused) {
    Buffer buffer;
    char* text = nullptr;
    EXPECT_NE(buffer.out_field(0, "x"), 0);  // no reply opened yet
    buffer.reply(3);
    EXPECT_EQ(buffer.reply_fields(), (Fields{"", "", ""}));
    EXPECT_EQ(buffer.out_field(2, "x"), 0);
    EXPECT_EQ(buffer.out_field(3, "y"), 0) << "a form may write up to the number it gave";
    EXPECT_NE(buffer.out_field(4, "x"), 0);
    EXPECT_NE(buffer.out_long(-1, 5), 0);
    EXPECT_EQ(buffer.refused_writes(), 3);
    EXPECT_EQ(buffer.reply_fields(), (Fields{"", "", "x", "y"}));
    EXPECT_EQ(buffer.in_field(Com_Buffer::max_fields - 1, text), 0);
    EXPECT_NE(buffer.in_field(Com_Buffer::max_fields, text), 0);
    EXPECT_NE(buffer.in_field(-1, text), 0);
    buffer.set_unreadable(5);
    EXPECT_NE(buffer.in_field(5, text), 0);
}

// (in_long's bounds and refusals are exercised through form 2's version and
// type fields.)
TEST(Framework, BlankNumbersReadAndWriteAsMinusOne) {
    Buffer buffer;
    long value = 0;
    int rval = 0, ecode = 0;
    buffer.set_field(0, " ");
    EXPECT_EQ(buffer.in_blong(0, 0, 255, value, rval, ecode), 0);
    EXPECT_EQ(value, -1);
    buffer.reply(2);
    buffer.out_blong(0, -1);
    buffer.out_blong(1, 42);
    EXPECT_EQ(buffer.reply_fields(), (Fields{"", "42"}));
}

}  // namespace
