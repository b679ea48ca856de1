// The enciphered form of ".dat" profile files.
//
// Layout: magic "ZOLTCFG" (7 bytes), format version (1 byte, now 1), a random
// 12-byte nonce, the AES-256-GCM ciphertext of the profile text, and the 16-byte
// GCM tag. Magic and version are authenticated as associated data. The key is
// SHA-256 of a built-in secret, a zero byte and the second text given to
// CCryptConfigFile. The secret only keeps casual readers and editors out; any
// change to the bytes makes the file fail to decipher.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace configcipher {

std::string Encipher(std::string_view plain, std::string_view secondText);

// The plain text, or nothing when the bytes are not a whole, unaltered file
// enciphered with this secret and second text.
std::optional<std::string> Decipher(std::string_view sealed, std::string_view secondText);

}  // namespace configcipher
