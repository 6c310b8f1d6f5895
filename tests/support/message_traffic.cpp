#include "tests/support/message_traffic.h"

#include <stdexcept>
#include <utility>

#include "crypto/memory_stream.h"
#include "envelope/envelope.h"
#include "envelope/text_steps.h"
#include "host/plugin.h"
#include "settings/setpassform.h"

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
    switch (path) {
        case Path::Send:
        case Path::SendKeyFile:
        case Path::SendSealed: return send;
        case Path::Receive: return receive;
        case Path::ReceiveEarlier: return receiveEarlier;
        case Path::ReceiveKeyFile: return receiveKeyFile;
        case Path::ReceiveSealed: break;
    }
    return receiveSealed;
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
    folder_.write("Mistlock.ini", "on\r\npass_check\r\nsecret\r\nsealed.key\r\n");
    folder_.write("MistlockWho.ini", std::to_string(kUin) + "\r\n");
    folder_.write("classic.key", "correct horse battery staple\r\n");
    folder_.write("sealed.key", "correct horse battery staple\r\nMistlock-Sealed: 2\r\n");
    if (!plugin_.initialise(folder_.hostPath()) || !plugin_.boxes.boxes().empty()) {
        throw std::runtime_error("the plug-in did not initialise cleanly");
    }
}

Records Plugin::recordsFor(std::size_t size, std::uint32_t seed) {
    const std::string text = message(size, seed);
    Records r;
    r.send = testing_records::messageToSend(kUin, text);
    choose(Path::Send);
    const void* reply = pluginFun(r.send.data());
    if (!reply) throw std::runtime_error("the plug-in did not seal the message");
    r.receive = testing_records::messageReceived(testing_records::replyString(reply, 0), kUin);
    r.receiveEarlier = testing_records::messageReceived(earlierEnvelope(text, kKey, 1251), kUin);
    for (const auto& [send, received] : {std::pair(Path::SendKeyFile, &r.receiveKeyFile),
                                         std::pair(Path::SendSealed, &r.receiveSealed)}) {
        choose(send);
        const void* sealed = pluginFun(r.send.data());
        if (!sealed) throw std::runtime_error("the plug-in did not seal the message with its key file");
        *received = testing_records::messageReceived(testing_records::replyString(sealed, 0), kUin);
    }
    for (const Path path : {Path::Receive, Path::ReceiveEarlier, Path::ReceiveKeyFile, Path::ReceiveSealed}) {
        choose(path);
        const void* opened = pluginFun(r.of(path).data());
        if (!opened || testing_records::replyString(opened, 0) != text) {
            throw std::runtime_error("an envelope did not open to the message");
        }
    }
    choose(Path::Send);
    return r;
}

void Plugin::choose(Path path) {
    const bool sealed = path == Path::SendSealed || path == Path::ReceiveSealed;
    const bool keyFile = sealed || path == Path::SendKeyFile || path == Path::ReceiveKeyFile;
    setpassform::setpass->pass_check.setChecked(!keyFile);
    setpassform::setpass->file_check.setChecked(keyFile);
    setpassform::setpass->Edit2.setText(sealed ? u"sealed.key" : u"classic.key");
}

}  // namespace message_traffic
