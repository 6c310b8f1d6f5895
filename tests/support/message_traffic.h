#pragma once
// Messages as the benchmarks and the instruction-count budgets send and
// receive them through pluginFun: Cyrillic and Latin text of any length, and
// the event records of each path, made by a plug-in initialised for them.
#include <cstdint>
#include <memory>
#include <string>

#include "crypto/ElAES.h"
#include "tests/support/test_messenger.h"

namespace message_traffic {

inline constexpr std::int32_t kUin = 12345;

// The key block of the password "secret" that the plug-in is given: its
// first 6 UTF-16LE bytes.
inline const ElAES::Key kKey = {0x73, 0x00, 0x65, 0x00, 0x63, 0x00};

// A message of n bytes in Windows-1251: Cyrillic and Latin words, digits and
// punctuation, from a pseudo-random sequence fixed by the seed.
std::string message(std::size_t n, std::uint32_t seed = 1);

// The envelope an earlier plug-in sealed of the text: its length prefix the
// text's own, with no zero bytes added.
std::string earlierEnvelope(const std::string& text, const ElAES::Key& key, unsigned codePage);

enum class Path {
    Send,            // a message to send to the listed contact
    Receive,         // the envelope that sending it gave
    ReceiveEarlier,  // the envelope an earlier plug-in sealed of it: no zero bytes added
    SendKeyFile,     // the message to send, with a key file of the same first line, not sealed
    ReceiveKeyFile,  // the envelope that sending it so gave
    SendSealed,      // the message to send, with a sealed key file
    ReceiveSealed,   // the sealed envelope that sending it so gave
};

struct Records {
    std::string send;
    std::string receive;
    std::string receiveEarlier;
    std::string receiveKeyFile;
    std::string receiveSealed;
    const std::string& of(Path path) const;
};

// A plug-in initialised with encryption on, the password "secret" and kUin
// listed, in a folder of its own, for as long as it lives. Its folder holds
// a key file and a sealed key file of the same first line too, which the
// paths that name them choose in the dialog.
class Plugin {
public:
    Plugin();  // raises std::runtime_error when the plug-in does not start cleanly
    // The records for one message, each checked to open to the message.
    Records recordsFor(std::size_t size, std::uint32_t seed = 1);
    // The dialog's key source as the path wants it.
    void choose(Path path);

private:
    test_messenger::TempFolder folder_;
    test_messenger::TestMessenger plugin_;
};

}  // namespace message_traffic
