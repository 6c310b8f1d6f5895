// The records and hex helpers that tests, fuzz targets and benchmarks build
// their inputs and expectations with, against bytes written out by hand.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "tests/support/records.h"

namespace {

using namespace std::string_literals;
using namespace testing_records;

TEST(Records, IntegersAreFourLittleEndianBytes) {
    EXPECT_EQ(int32(0), "\0\0\0\0"s);
    EXPECT_EQ(int32(0x12345678), "\x78\x56\x34\x12"s);
    EXPECT_EQ(int32(-2), "\xFE\xFF\xFF\xFF"s);
    EXPECT_EQ(readInt32("\x78\x56\x34\x12"s.data(), 0), 0x12345678);
    EXPECT_EQ(readInt32("..\xFE\xFF\xFF\xFF"s.data(), 2), -2);
}

TEST(Records, CountedStringsAndRecordsCarryTheirLength) {
    EXPECT_EQ(counted(""), "\0\0\0\0"s);
    EXPECT_EQ(counted("AB"), "\x02\0\0\0AB"s);
    EXPECT_EQ(counted("a\0b"s), "\x03\0\0\0a\0b"s);
    EXPECT_EQ(framed("\x03\x03"), "\x02\0\0\0\x03\x03"s);
}

TEST(Records, EventsAsTheMessengerSendsThem) {
    EXPECT_EQ(eventBody(2), "\x03\x02"s);
    EXPECT_EQ(event(3), "\x02\0\0\0\x03\x03"s);
    // Length, kind and code, then the fields.
    EXPECT_EQ(hex(messageToSend(5, "x")), "0F000000" "0307" "05000000" "00000000" "01000000" "78");
    EXPECT_EQ(hex(messageReceived("x", 1)),
              "17000000" "0306" "01000000" "00000000" "0000000000000000" "01000000" "78");
    EXPECT_EQ(hex(initialise(0x1234, "C:", "P")),
              "19000000" "0301" "34120000" "00000000" "01000000" "50" "02000000" "433A" "00000000");
    EXPECT_EQ(initialise(reinterpret_cast<const void*>(std::uintptr_t{0x1234}), "C:", "P"),
              initialise(0x1234, "C:", "P"));
}

TEST(Records, RepliesAreReadWholeAndStringByString) {
    const std::string reply = "\x0E\0\0\0\x02\x02\0\0\0ab\x03\0\0\0xyz"s;
    EXPECT_EQ(bytesOf(reply.data()), reply);
    EXPECT_EQ(replyString(reply.data(), 0), "ab");
    EXPECT_EQ(replyString(reply.data(), 1), "xyz");
    EXPECT_THROW(replyString(reply.data(), 2), std::out_of_range);
    const std::string lying = "\x07\0\0\0\x02\x09\0\0\0ab"s;
    EXPECT_THROW(replyString(lying.data(), 0), std::out_of_range);
}

TEST(Records, HexAndBack) {
    EXPECT_EQ(hex(""), "");
    EXPECT_EQ(hex("\x00\x9F\xFF"s), "009FFF");
    EXPECT_EQ(unhex("009fFF"), "\x00\x9F\xFF"s);
    EXPECT_EQ(unhex("4142A"), "AB");  // an unpaired last digit is ignored
    EXPECT_THROW(unhex("4G"), std::invalid_argument);
}

}  // namespace
