#include "tests/support/message_traffic.h"

#include <stdexcept>

#include "crypto/memory_stream.h"
#include "envelope/envelope.h"
#include "envelope/text_steps.h"
#include "host/plugin.h"

namespace message_traffic {

std::string message(std::size_t n, std::uint32_t seed) {
    static const char* const words[] = {"\xcf\xf0\xe8\xe2\xe5\xf2", "hello", "\xec\xe8\xf0", "2024", "\xe4\xe0",
                                        "world", "\xea\xeb\xfe\xf7", "OK", "\xf1\xee\xee\xe1\xf9\xe5\xed\xe8\xe5"};
    static const char* const gaps[] = {" ", ", ", ". ", "! ", "\r\n"};
    std::string text;
    std::uint32_t x = 12345 + 7919 * seed;
    while (text.size() < n) {
        x = x * 1103515245u + 12345u;
        text += words[(x >> 16) % 9];
        text += gaps[(x >> 8) % 5];
    }
    text.resize(n);
    return text;
}

const std::string& Records::of(Path path) const {
    return path == Path::Send ? send : path == Path::Receive ? receive : receiveEarlier;
}

std::string earlierEnvelope(const std::string& text, const ElAES::Key& key, unsigned codePage) {
    std::string payload;
    for (int i = 0; i < 4; ++i) payload += static_cast<char>((text.size() >> (8 * i)) & 0xFF);
    ElAES::MemoryStream source(text);
    ElAES::MemoryStream sealed;
    ElAES::encryptStream(source, 0, key, sealed);
    payload += sealed.bytes();
    std::string out(envelope::marker);
    envelope::appendSealedDigits(out, payload, codePage);
    return out;
}

Plugin::Plugin() {
    folder_.write("Mistlock.ini", "on\r\npass_check\r\nsecret\r\n\r\n");
    folder_.write("MistlockWho.ini", std::to_string(kUin) + "\r\n");
    if (!plugin_.initialise(folder_.hostPath()) || !plugin_.boxes.boxes().empty()) {
        throw std::runtime_error("the plug-in did not initialise cleanly");
    }
}

Records Plugin::recordsFor(std::size_t size, std::uint32_t seed) {
    const std::string text = message(size, seed);
    Records r;
    r.send = testing_records::messageToSend(kUin, text);
    const void* reply = pluginFun(r.send.data());
    if (!reply) throw std::runtime_error("the plug-in did not seal the message");
    r.receive = testing_records::messageReceived(testing_records::replyString(reply, 0), kUin);
    r.receiveEarlier = testing_records::messageReceived(earlierEnvelope(text, kKey, 1251), kUin);
    for (const std::string* received : {&r.receive, &r.receiveEarlier}) {
        const void* opened = pluginFun(received->data());
        if (!opened || testing_records::replyString(opened, 0) != text) {
            throw std::runtime_error("an envelope did not open to the message");
        }
    }
    return r;
}

}  // namespace message_traffic
