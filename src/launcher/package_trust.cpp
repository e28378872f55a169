#include "launcher/package_trust.h"

#include <exception>

#include "launcher/run_log.h"
#include "signing/package_signature.h"
#include "signing/publisher_key.h"

namespace kalv::launcher {

namespace {

// GetPrivateProfileStringA's buffer, as for Upgrade; a key line is 99 characters.
constexpr size_t kProfileBufferSize = 2048;

}  // namespace

std::vector<NamedKey> ReadTrustedKeys(platform::FileSystem& files, const std::string& net_inf) {
    std::vector<NamedKey> trusted_keys;
    std::string noted;
    for (const char* name : kPublicKeyNames) {
        // Two defaults that no one-line value can be both tell a missing key from a value.
        const std::string value = files.profile_string(net_inf, "DB", name, "\x01", kProfileBufferSize);
        if (value == "\x01" && files.profile_string(net_inf, "DB", name, "\x02", kProfileBufferSize) == "\x02") continue;
        NamedKey named{name, std::nullopt, {}, {}};
        try {
            named.key = signing::parse_public_key(value);
            named.id = signing::key_id(*named.key);
            noted += std::string(noted.empty() ? "" : ", ") + name + " " + named.id;
        } catch (const std::exception& failure) {
            named.problem = value.empty() ? std::string("it is empty") : failure.what();
            noted += std::string(noted.empty() ? "" : ", ") + name + " does not parse (" + named.problem +
                     "): it matches no package";
        }
        trusted_keys.push_back(std::move(named));
    }
    if (!trusted_keys.empty()) runlog::Note("publisher keys: " + noted + "; only a copy signed by one is installed");
    return trusted_keys;
}

std::string WhyNotTrusted(platform::FileSystem& files, const std::vector<NamedKey>& trusted_keys,
                          const std::string& path) {
    if (trusted_keys.empty()) return {};
    std::vector<platform::p256::PublicKey> keys;
    for (const NamedKey& named : trusted_keys)
        if (named.key) keys.push_back(*named.key);
    signing::SignatureCheck check;
    try {
        check = signing::check_signature(files, path, keys);
    } catch (const std::exception& failure) {
        return std::string("its signature could not be checked (") + failure.what() + ")";
    }
    switch (check.verdict) {
        case signing::Verdict::Valid: return {};
        case signing::Verdict::Unsigned: return "the copy is unsigned, and NET.INF trusts only signed packages";
        case signing::Verdict::OtherKey:
            return "the copy is signed by key " + check.key_id + ", which NET.INF does not name";
        case signing::Verdict::Altered: return "the copy is " + check.text();
    }
    return "the copy's signature is of no known kind";
}

}  // namespace kalv::launcher
