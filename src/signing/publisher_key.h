// A publisher's key pair in the text forms that administrators handle. The curve and
// the byte forms are those of platform/p256.h (ECDSA P-256, big-endian integers);
// Base64 is RFC 4648's standard alphabet with "=" padding.
//
//   public key, one line (NET.INF PublicKey=, kalvtool verify --key):
//       kalv3-p256:<Base64 of X || Y, 88 characters>
//   private key file (kalvtool keygen), a comment line and the key line:
//       # kalv3 P-256 private key, key id <id>: keep it off the share ...
//       kalv3-p256-private:<Base64 of X || Y || d, 128 characters>
//   key id: the first 8 bytes of SHA-256(X || Y), as 16 lower-case hex digits: short
//       enough for a log line, and what a signature names its key by.
#pragma once

#include <string>
#include <string_view>

#include "platform/p256.h"

namespace kalv::signing {

namespace p256 = platform::p256;

inline constexpr std::string_view kPublicKeyPrefix = "kalv3-p256:";
inline constexpr std::string_view kPrivateKeyPrefix = "kalv3-p256-private:";
inline constexpr size_t kKeyIdDigits = 16;

std::string key_id(const p256::PublicKey& key);

std::string public_key_text(const p256::PublicKey& key);

// The public key of a line as public_key_text writes it; blanks around it are
// ignored. Throws Error saying what is wrong (no "kalv3-p256:", not Base64 of 64
// bytes, not a point of the curve).
p256::PublicKey parse_public_key(std::string_view text);

// The whole private key file, its lines ended by "\n".
std::string private_key_file_text(const p256::PrivateKey& key);

// The key of a private key file's text: its one line that begins with
// "kalv3-p256-private:" (comment lines begin with "#"; CR LF line ends are read).
// Throws Error saying what is wrong, never quoting the key's bytes.
p256::PrivateKey parse_private_key_file(std::string_view text);

}  // namespace kalv::signing
