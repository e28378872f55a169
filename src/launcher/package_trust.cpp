#include "launcher/package_trust.h"

#include <cstdint>
#include <exception>
#include <optional>

#include "launcher/run_log.h"
#include "launcher/texts.h"
#include "signing/package_signature.h"
#include "signing/publisher_key.h"
#include "unzip/archive.h"
#include "unzip/extract.h"

namespace kalv::launcher {

namespace {

// GetPrivateProfileStringA's buffer, as for Upgrade; a key line is 99 characters.
constexpr size_t kProfileBufferSize = 2048;

// The MS-DOS date and time of the package's program entry; none when the package cannot
// be read or holds no such entry.
std::optional<uint32_t> ProgramEntryDate(platform::FileSystem& files, const std::string& path) {
    try {
        unzip::Observer unattended;
        unzip::Archive archive(files, path, {}, unattended);
        for (int i = 0; i < archive.count(); ++i)
            if (archive.entry(i).StoredPath() == kProgramEntryName) return archive.entry(i).FileDateTime;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

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

std::string WhyRollback(platform::FileSystem& files, const std::vector<NamedKey>& trusted, const std::string& copy,
                        const std::string& installed) {
    if (trusted.empty()) return {};
    const std::optional<uint32_t> installed_date = ProgramEntryDate(files, installed);
    if (!installed_date) return {};
    const std::optional<uint32_t> copy_date = ProgramEntryDate(files, copy);
    if (!copy_date) return "the copy holds no readable " + std::string(kProgramEntryName);
    // MS-DOS date-times sort as unsigned numbers (the top bit is set from 2044 on).
    if (*copy_date >= *installed_date) return {};
    return "the copy's " + std::string(kProgramEntryName) + " is dated " + runlog::DosTimeText(int32_t(*copy_date)) +
           ", before the installed one's " + runlog::DosTimeText(int32_t(*installed_date)) +
           ": an older package does not replace a newer one";
}

}  // namespace kalv::launcher
