// kalvtool token encrypt TEXT | token decrypt TOKEN: the start-token cipher, as the
// launcher applies it and the application undoes it.
#include <cstdio>
#include <string>

#include "cipher/base64_codec.h"
#include "cipher/text_cipher.h"
#include "commands.h"
#include "core/errors.h"

namespace {

constexpr size_t kCipherBlockBytes = 16;

void print_line(const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fputc('\n', stdout);
}

// The decoder never refuses anything (a foreign character silently reuses an earlier
// value), so a token typed or pasted wrongly would decrypt to noise. Only what the
// encryption can have written is accepted: canonical Base64 of whole cipher blocks.
void require_start_token(const std::string& token) {
    if (token.empty()) throw kalv::Error("the token is empty");
    if (!kalv::IsCanonicalBase64(token)) {
        throw kalv::Error("the token is not Base64 (RFC 4648 alphabet A-Z a-z 0-9 + /, "
                          "length a multiple of 4, \"=\" only at the end)");
    }
    const size_t bytes = kalv::DecodeBase64(token).size();
    if (bytes % kCipherBlockBytes != 0) {
        throw kalv::Error("the token is not a start token: its " + std::to_string(bytes) +
                          " bytes are not whole 16-byte cipher blocks");
    }
}

int run_token(kalv::platform::Platform&, const kalvtool::Args& args) {
    if (args.empty()) return kalvtool::usage_error("token: missing 'encrypt' or 'decrypt'");
    const std::string& action = args[0];
    if (action != "encrypt" && action != "decrypt") {
        return kalvtool::usage_error("token: unknown action '" + action + "'");
    }
    if (args.size() != 2) {
        return kalvtool::usage_error("token " + action + ": expects exactly one " +
                                     (action == "encrypt" ? "TEXT" : "TOKEN"));
    }
    if (action == "encrypt") {
        print_line(kalv::EncryptText(args[1]));
        return kalvtool::kExitOk;
    }
    require_start_token(args[1]);
    std::string plain = kalv::DecryptText(args[1]);
    // The encryption filled the text up with zero bytes to whole blocks.
    while (!plain.empty() && plain.back() == '\0') plain.pop_back();
    print_line(plain);
    return kalvtool::kExitOk;
}

const kalvtool::Registration registration{
    {"token",
     "kalvtool token encrypt TEXT     print the start token (Base64 cipher text) of TEXT\n"
     "kalvtool token decrypt TOKEN    print the plain text of TOKEN, without its zero fill",
     run_token,
     "A start token is TEXT filled up with zero bytes to whole 16-byte blocks, encrypted with\n"
     "AES-128-CBC under the key and IV built into the launcher, written as Base64 (RFC 4648).\n"
     "decrypt accepts only what encrypt can have written: canonical Base64 of whole blocks.\n\n"
     "Exit codes: 0 done, 2 a refused token, 64 usage error."}};

}  // namespace
