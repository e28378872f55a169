#include "signing_keys.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <optional>

#include "core/errors.h"
#include "core/printable.h"
#include "platform/key_files.h"
#include "signing/package_signature.h"
#include "signing/publisher_key.h"

namespace kalvtool::keys {

namespace p256 = kalv::platform::p256;
namespace signing = kalv::signing;

namespace {

// A key file is a few hundred bytes. One much longer is no key file (a package given in
// its place, a device such as /dev/zero) and is not read to its end.
constexpr size_t kMaxKeyFile = 64 * 1024;

// The file's text. The room is made once, so no copy of a private key is left behind in
// memory that a growing string gave up; what is read is wiped when refused.
std::string read_key_file(kalv::platform::FileSystem& files, const std::string& path, const char* what) {
    auto opened = files.open(path, kalv::platform::OpenMode::ReadShared);
    if (!opened) throw kalv::Error("Cannot read the " + std::string(what) + " file " + path);
    std::string text;
    char block[4096];
    text.reserve(kMaxKeyFile + sizeof block);
    for (size_t n; text.size() <= kMaxKeyFile && (n = (*opened)->read(block, sizeof block)) > 0;)
        text.append(block, n);
    std::fill(std::begin(block), std::end(block), '\0');
    if (text.size() > kMaxKeyFile) {
        std::fill(text.begin(), text.end(), '\0');
        throw kalv::Error(path + " is no " + what + " file: it goes on past " + std::to_string(kMaxKeyFile / 1024) +
                          " KiB");
    }
    return text;
}

}  // namespace

p256::PrivateKey read_private_key(kalv::platform::FileSystem& files, const std::string& key_file) {
    std::string text = read_key_file(files, key_file, "private key");
    // Signing goes on (the key is the publisher's to judge), but not without a word.
    if (const std::optional<std::string> others = kalv::platform::who_else_may_open(key_file)) {
        std::fprintf(stderr,
                     "kalvtool: warning: the private key file %s is open to other users (%s): whoever read it "
                     "can sign packages that the shops install. Make it yours alone, and if someone else may "
                     "have read it, roll to a new key\n",
                     kalv::printable(key_file).c_str(), kalv::printable(*others).c_str());
    }
    try {
        p256::PrivateKey key = signing::parse_private_key_file(text);
        std::fill(text.begin(), text.end(), '\0');
        return key;
    } catch (const kalv::Error& failure) {
        std::fill(text.begin(), text.end(), '\0');
        throw kalv::Error(key_file + ": " + failure.what());
    }
}

p256::PublicKey read_public_key(kalv::platform::FileSystem& files, const std::string& given) {
    if (given.rfind(signing::kPublicKeyPrefix, 0) == 0) return signing::parse_public_key(given);
    const std::string text = read_key_file(files, given, "public key");
    if (text.find(signing::kPrivateKeyPrefix) != std::string::npos)
        throw kalv::Error(given + " is a private key file: give the public key (kalvtool keygen --public " + given +
                          " prints it)");
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.find_first_not_of(" \t\r") == std::string::npos || line[line.find_first_not_of(" \t")] == '#')
            continue;
        try {
            return signing::parse_public_key(line);
        } catch (const kalv::Error& failure) {
            throw kalv::Error(given + ": " + failure.what());
        }
    }
    throw kalv::Error(given + " holds no public key line");
}

std::function<void(const std::string&)> package_signer(kalv::platform::FileSystem& files, const std::string& key_file,
                                                        std::shared_ptr<std::string> signed_by) {
    auto key = std::make_shared<p256::PrivateKey>(read_private_key(files, key_file));
    return [&files, key, signed_by](const std::string& package) {
        *signed_by = signing::sign_package(files, package, *key);
        // Read back from the disk as a launcher will read it.
        const signing::SignatureCheck check = signing::check_signature(files, package, {key->public_part()});
        if (check.verdict != signing::Verdict::Valid)
            throw kalv::Error("The package signed as " + package + " does not verify when read back (" +
                              check.text() + ")");
    };
}

}  // namespace kalvtool::keys
