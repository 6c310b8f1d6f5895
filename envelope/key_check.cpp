#include "envelope/key_check.h"

#include "crypto/sha256.h"
#include "crypto/wipe.h"

namespace envelope {

std::string keyCheckCode(const ElAES::Key& key) {
    std::uint8_t derived[8];
    ElAES::pbkdf2HmacSha256(std::string_view(reinterpret_cast<const char*>(key.data()), key.size()), keyCheckSalt,
                            keyCheckIterations, derived, sizeof derived);
    std::uint64_t number = 0;
    for (const std::uint8_t byte : derived) number = number << 8 | byte;
    ElAES::wipe(derived, sizeof derived);
    // 2^64 / 10^12 is about 1.8e7: the remainder's bias is below one in ten million.
    number %= 1000000000000ull;
    std::string digits(12, '0');
    for (int i = 11; i >= 0; --i, number /= 10) digits[i] = static_cast<char>('0' + number % 10);
    return digits.substr(0, 4) + ' ' + digits.substr(4, 4) + ' ' + digits.substr(8, 4);
}

}  // namespace envelope
