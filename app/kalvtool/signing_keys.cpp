#include "signing_keys.h"

#include <algorithm>
#include <optional>

#include "core/errors.h"
#include "doctor_report.h"
#include "signing/package_signature.h"
#include "signing/publisher_key.h"

namespace kalvtool::keys {

namespace p256 = kalv::platform::p256;
namespace signing = kalv::signing;

namespace {

std::string read_key_file(kalv::platform::FileSystem& files, const std::string& path, const char* what) {
    const std::optional<std::string> text = doctor::read_whole_file(files, path);
    if (!text) throw kalv::Error("Cannot read the " + std::string(what) + " file " + path);
    return *text;
}

}  // namespace

p256::PrivateKey read_private_key(kalv::platform::FileSystem& files, const std::string& key_file) {
    std::string text = read_key_file(files, key_file, "private key");
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
