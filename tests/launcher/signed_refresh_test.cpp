// The refresh of an installation whose NET.INF names publisher keys: the copy is
// installed only when signed by one of them, and dropped as an unsound copy is
// otherwise (the same transcript: copied, deleted, no box).
#include <string>
#include <utility>

#include "files.h"
#include "launcher/package_trust.h"
#include "launcher_fixture.h"
#include "signing/package_signature.h"
#include "signing/publisher_key.h"

namespace kalv::testing {
namespace {

#ifdef _WIN32
const std::string kUpgrade = "\\\\server\\share\\Kalvo3pack";
#else
const std::string kUpgrade = "/mnt/server/Kalvo3pack";
#endif
constexpr uint32_t kOlder = 0x5A8B6000, kNewer = 0x5A8B6001;

// The package with its program entry dated 1990-01-01 in the local and the central header
// (APPNOTE 4.3.7, 4.3.12): the date half only, so the time half, which may give the
// password's check byte, stays.
std::string dated_1990(std::string zip) {
    const std::string date{'\x21', '\x14'};  // (10 << 9) | (1 << 5) | 1, little-endian
    zip.replace(zip.find(std::string("PK\x03\x04", 4)) + 12, 2, date);
    zip.replace(zip.rfind(std::string("PK\x01\x02", 4)) + 14, 2, date);
    return zip;
}

// `zip` signed by `key`, as bytes.
std::string signed_by(const platform::p256::PrivateKey& key, const std::string& zip) {
    TempDir dir;
    const std::string path = dir.file("signed.zip");
    write_file(path, zip);
    signing::sign_package(platform::native(), path, key);
    return read_file(path);
}

struct SignedCase {
    const char* why;
    const char* keys;     // NET.INF lines; $A and $B stand for the two public keys
    const char* upgrade;  // "A", "B": signed by that key; "unsigned"; "A, changed": a byte of
                          // the central directory that no CRC covers changed after signing;
                          // "A, older", "unsigned, older": its program dated before the local one
    bool fetched;
};

class SignedRefresh : public LauncherFixture, public ::testing::WithParamInterface<SignedCase> {
protected:
    // Signed once, on real files, before a test puts the recording platform in place.
    static void SetUpTestSuite() {
        const platform::p256::PrivateKey a = platform::p256::generate_key(), b = platform::p256::generate_key();
        key_lines = new std::pair<std::string, std::string>(signing::public_key_text(a.public_part()),
                                                            signing::public_key_text(b.public_part()));
        const std::string v2 = read_file(package("program_v2.zip"));
        by_a = new std::string(signed_by(a, v2));
        by_b = new std::string(signed_by(b, v2));
        older_by_a = new std::string(signed_by(a, dated_1990(v2)));
    }
    static void TearDownTestSuite() {
        delete key_lines;
        delete by_a;
        delete by_b;
        delete older_by_a;
    }
    static std::string with_keys(std::string lines) {
        for (const auto& [mark, key] : {std::pair{"$A", key_lines->first}, std::pair{"$B", key_lines->second}})
            for (size_t at; (at = lines.find(mark)) != std::string::npos;) lines.replace(at, 2, key);
        return lines;
    }
    static std::pair<std::string, std::string>* key_lines;
    static std::string *by_a, *by_b, *older_by_a;
};
std::pair<std::string, std::string>* SignedRefresh::key_lines;
std::string *SignedRefresh::by_a, *SignedRefresh::by_b, *SignedRefresh::older_by_a;

TEST_P(SignedRefresh, OnlyACopySignedByANamedKeyIsInstalled) {
    const SignedCase& c = GetParam();
    const std::string target = kInstallDir + "Kalvo3pack", local = read_file(package("program.zip"));
    const std::string kind = c.upgrade;
    std::string upgrade = kind == "unsigned"         ? read_file(package("program_v2.zip"))
                          : kind == "unsigned, older" ? dated_1990(read_file(package("program_v2.zip")))
                          : kind == "A, older"        ? *older_by_a
                          : kind[0] == 'A'            ? *by_a
                                                      : *by_b;
    if (std::string(c.upgrade).find("changed") != std::string::npos) {
        // The central header's "version made by" (APPNOTE 4.4.2): read by no check of the
        // entry, so the copy stays sound and only its signature tells.
        const size_t central = upgrade.rfind(std::string("PK\x01\x02", 4));
        upgrade[central + 4] ^= 1;
    }
    os.put_file(kInstallDir + "NET.INF", "[DB]\nUpgrade=" + kUpgrade + "\n" + with_keys(c.keys));
    os.put_file(target, local, kOlder);
    os.put_file(kUpgrade, upgrade, kNewer);
    launcher::ReadNetInf(os, installation);
    launcher::HaveNewVersion(os, os, target, kUpgrade, launcher::kCopyStallTimeout, installation.TrustedKeys);
    const Transcript copied{"copy " + kUpgrade + " -> <D>Kalvo3pack.tmp.incoming"};
    const Transcript fetched{copied[0], "pump", "replace <D>Kalvo3pack by <D>Kalvo3pack.tmp.incoming"};
    const Transcript dropped{copied[0], "delete <D>Kalvo3pack.tmp.incoming"};
    EXPECT_EQ(os.transcript, c.fetched ? fetched : dropped) << c.why;
    EXPECT_EQ(os.content(target), c.fetched ? upgrade : local) << c.why;
}

INSTANTIATE_TEST_SUITE_P(
    Keys, SignedRefresh,
    ::testing::Values(SignedCase{"signed by the key named", "PublicKey=$A\n", "A", true},
                      SignedCase{"unsigned", "PublicKey=$A\n", "unsigned", false},
                      SignedCase{"signed by a key not named", "PublicKey=$A\n", "B", false},
                      SignedCase{"a byte changed after signing", "PublicKey=$A\n", "A, changed", false},
                      SignedCase{"the second key after a roll-over", "PublicKey=$A\nPublicKey2=$B\n", "B", true},
                      SignedCase{"a value that does not parse fails closed", "PublicKey=kalv3-p256:AAAA\n", "A", false},
                      SignedCase{"an empty value fails closed", "PublicKey=\n", "A", false},
                      SignedCase{"a broken first key leaves the second", "PublicKey=x\nPublicKey2=$B\n", "B", true},
                      SignedCase{"an older program, validly signed, under a newer file date", "PublicKey=$A\n",
                                 "A, older", false},
                      SignedCase{"no key named: an older program as ever", "", "unsigned, older", true},
                      SignedCase{"no key named: as ever", "", "unsigned", true},
                      SignedCase{"no key named: a changed signed copy as ever", "", "A, changed", true}));

}  // namespace
}  // namespace kalv::testing
