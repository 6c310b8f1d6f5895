// The record codec: encodings, readers at offsets, framing and the commands.
#include <gtest/gtest.h>

#include "host/protocol.h"
#include "tests/support/test_messenger.h"
#include "tests/support/records.h"

using namespace testing_records;

namespace {

TEST(Codec, FramingAnEmptyBodyGivesFourZeroBytes) {
    EXPECT_EQ(bytesOf(host::frameRecord("")), std::string(4, '\0'));
}

TEST(Codec, FramingPrefixesTheBodyLength) {
    EXPECT_EQ(bytesOf(host::frameRecord("\x02" "abc")), std::string("\x04\0\0\0\x02" "abc", 8));
    const std::string body(300, 'x');
    EXPECT_EQ(bytesOf(host::frameRecord(body)), int32(300) + body);
}

TEST(Codec, IntegersAreLittleEndianTwosComplement) {
    struct Case { std::int32_t value; const char* hex; } cases[] = {
        {0, "00000000"}, {1, "01000000"}, {-1, "FFFFFFFF"}, {0x12345678, "78563412"}, {INT32_MIN, "00000080"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hex(host::encodeInt32(c.value)), c.hex) << c.value;
        EXPECT_EQ(host::readInt32(unhex(c.hex).data(), 0), c.value) << c.hex;
    }
}

TEST(Codec, AddressesAreSignExtended) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(host::readAddress32(unhex("00000080").data(), 0)),
              static_cast<std::uintptr_t>(0xFFFFFFFF80000000ull));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(host::readAddress32(unhex("78563412").data(), 0)),
              static_cast<std::uintptr_t>(0x12345678u));
}

TEST(Codec, CountedStringsOfLengthZeroOrLessReadEmpty) {
    EXPECT_EQ(host::readCountedString(unhex("00000000").data(), 0), "");
    EXPECT_EQ(host::readCountedString(unhex("FBFFFFFF41").data(), 0), "");  // -5
    EXPECT_EQ(host::readCountedString(unhex("0300000041424344").data(), 0), "ABC");
}

TEST(Codec, DoubleIsLittleEndianIeee) {
    EXPECT_EQ(host::readDouble(unhex("000000000000F03F").data(), 0), 1.0);
    EXPECT_EQ(host::readDouble(unhex("0000000000000040AA").data(), 0), 2.0);
}

TEST(Codec, InitialiseEventWithNegativeFirstLengthPlacesSecondStringAt18) {
    std::string fields = int32(0x1234) + int32(9) + int32(-5) + counted("C:\\x") + int32(42);
    const std::string record = event(1, fields);
    const auto f = host::parseInitialiseEvent(record.data());
    EXPECT_EQ(f.integer10, 9);
    EXPECT_EQ(f.firstPath, "");
    EXPECT_EQ(f.secondPath, "C:\\x");
    EXPECT_EQ(f.lastInteger, 42);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(host::hostCallback()), 0x1234u);
}

TEST(Codec, InitialiseEventLastIntegerFollowsBothPaths) {
    const std::string record = event(1, int32(0) + int32(0) + counted("A") + counted("BC") + int32(77));
    ASSERT_EQ(host::readInt32(record.data(), 25), 77);
    EXPECT_EQ(host::parseInitialiseEvent(record.data()).lastInteger, 77);
}

TEST(Codec, MessageEventsParse) {
    const std::string received = event(6, int32(123456) + int32(-3) + unhex("000000000000F03F") + counted("hello"));
    const auto r = host::parseMessageReceivedEvent(received.data());
    EXPECT_EQ(r.uin, 123456);
    EXPECT_EQ(r.integer10, -3);
    EXPECT_EQ(r.double14, 1.0);
    EXPECT_EQ(r.text, "hello");

    const std::string toSend = messageToSend(-42, std::string("a\0b", 3));
    const auto s = host::parseMessageToSendEvent(toSend.data());
    EXPECT_EQ(s.uin, -42);
    EXPECT_EQ(s.text, std::string("a\0b", 3));
}

// Records whose fields would run past the length field must never be parsed.
TEST(Codec, EventFitsRecordRejectsEveryTruncation) {
    const std::string whole[] = {
        event(1, int32(0) + int32(0) + counted("A") + counted("BC") + int32(0)),
        messageReceived("text"),
        messageToSend(5, "text"),
    };
    for (const std::string& record : whole) {
        ASSERT_TRUE(host::eventFitsRecord(record.data())) << hex(record);
        // Shorten the length field by one byte at a time: each shorter record
        // claims less than its fields need.
        for (std::int32_t cut = 1; cut < static_cast<std::int32_t>(record.size()) - 5; ++cut) {
            std::string shortened = record;
            const std::string length = int32(static_cast<std::int32_t>(record.size()) - 4 - cut);
            shortened.replace(0, 4, length);
            EXPECT_FALSE(host::eventFitsRecord(shortened.data())) << "cut " << cut << " of " << hex(record);
        }
    }
    // A counted string whose length points far beyond the record.
    std::string huge = messageToSend(5, "");
    huge.replace(14, 4, int32(0x7FFFFFFF));
    EXPECT_FALSE(host::eventFitsRecord(huge.data()));
}

TEST(Codec, EventFitsRecordChecksFraming) {
    EXPECT_FALSE(host::eventFitsRecord(nullptr));
    EXPECT_FALSE(host::eventFitsRecord(unhex("000000000301").data()));      // length 0
    EXPECT_FALSE(host::eventFitsRecord(unhex("FEFFFFFF0301").data()));      // negative length
    EXPECT_FALSE(host::eventFitsRecord(unhex("020000000203").data()));      // kind 2
    EXPECT_FALSE(host::eventFitsRecord(unhex("0100000003").data()));        // no event code
    EXPECT_TRUE(host::eventFitsRecord(unhex("020000000303").data()));       // about
}

class CommandTest : public ::testing::Test {
protected:
    test_messenger::TestMessenger messenger;
    void SetUp() override {
        // Only the callback of an initialise event: parse one that names the messenger.
        const std::string record = initialise(reinterpret_cast<const void*>(&test_messenger::TestMessenger::callback), "x");
        host::parseInitialiseEvent(record.data());
    }
};

TEST_F(CommandTest, AddButtonCarriesLow32BitsAndReturnsTheHostsId) {
    const auto procedure = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(0xAABBCCDD11223344ull));
    const std::int32_t id = host::addToolbarButton(procedure, static_cast<platform::IconHandle>(0x5566778899AABBCCull),
                                                   "Mistlock 0.45", "");
    EXPECT_EQ(id, 7);
    ASSERT_EQ(messenger.commands.size(), 1u);
    const std::string& c = messenger.commands[0];
    EXPECT_EQ(c.size(), 35u);
    EXPECT_EQ(readInt32(c.data(), 0), 31);
    EXPECT_EQ(hex(c.substr(4, 2)), "05C9");
    EXPECT_EQ(hex(c.substr(6, 4)), "44332211");
    EXPECT_EQ(hex(c.substr(10, 4)), "CCBBAA99");
    EXPECT_EQ(c.substr(14), counted("Mistlock 0.45") + int32(0));
}

TEST_F(CommandTest, AddButtonWithNullHostReplyGivesNoButton) {
    messenger.answerNull = true;
    EXPECT_EQ(host::addToolbarButton(nullptr, 0, "t", ""), 0);
}

TEST_F(CommandTest, UpdateAndRemove) {
    host::updateToolbarButton(9, 0x5A01, "Mistlock 0.45", "");
    std::int32_t id = 9;
    host::removeToolbarButton(id);
    EXPECT_EQ(id, 0);
    ASSERT_EQ(messenger.commands.size(), 2u);
    EXPECT_EQ(hex(messenger.commands[0].substr(0, 14)), "1F00000005CA09000000015A0000");
    EXPECT_EQ(hex(messenger.commands[1]), "0600000005CB09000000");
}

}  // namespace
