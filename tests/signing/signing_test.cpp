// The key and signature forms through the system's crypto (OpenSSL natively, CNG under
// Wine): what a key line must be, and a package signed, signed anew and checked.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cipher/base64_codec.h"
#include "core/errors.h"
#include "files.h"
#include "signing/package_signature.h"
#include "platform/native_platform.h"
#include "signing/publisher_key.h"

namespace kalv::testing {
namespace {

using signing::Verdict;
namespace p256 = platform::p256;
platform::FileSystem& files = platform::native();

// An empty ZIP archive: an end record alone (APPNOTE 4.3.16), which every reader takes.
const std::string kEmptyZip = std::string("PK\x05\x06", 4) + std::string(18, '\0');

TEST(PublisherKey, ALineIsTakenOnlyInTheFormKeygenPrints) {
    const p256::PrivateKey key = p256::generate_key();
    const std::string line = signing::public_key_text(key.public_part());
    EXPECT_EQ(signing::parse_public_key("  " + line + "\r\n"), key.public_part());
    // The same bytes with an unused low bit set: the last byte's character carries 2
    // bits of it and 4 zero bits (A, Q, g or w), and the next letter sets the lowest.
    std::string other_spelling = line;
    ++other_spelling[other_spelling.size() - 3];
    const std::string off_curve = "kalv3-p256:" + EncodeBase64(std::string(64, '\0'));
    for (const std::string& bad : {line.substr(11), line.substr(0, line.size() - 4), "kalv3-p256:" + line.substr(12),
                                   other_spelling, off_curve})
        EXPECT_THROW(signing::parse_public_key(bad), Error) << bad;
}

TEST(PublisherKey, APrivateKeyFileReadsBackAndOneKeyLineIsRequired) {
    const p256::PrivateKey key = p256::generate_key();
    const std::string file = signing::private_key_file_text(key);
    EXPECT_EQ(signing::parse_private_key_file(file).bytes, key.bytes);
    EXPECT_NE(file.find(signing::key_id(key.public_part())), std::string::npos) << "the comment names the key id";
    const std::string key_line = file.substr(file.find(signing::kPrivateKeyPrefix));
    for (const std::string& bad : {std::string("# a comment alone\n"), file + key_line, signing::public_key_text(key.public_part())})
        EXPECT_THROW(signing::parse_private_key_file(bad), Error) << bad;
}

TEST(PackageSignature, SignedAnewInPlaceAndCheckedAgainstEachTrustedKey) {
    TempDir dir;
    const std::string zip = dir.file("empty.zip");
    write_file(zip, kEmptyZip);
    const p256::PrivateKey old_key = p256::generate_key(), new_key = p256::generate_key();
    const std::vector<p256::PublicKey> both{old_key.public_part(), new_key.public_part()};

    EXPECT_EQ(signing::check_signature(files, zip, both).verdict, Verdict::Unsigned);
    EXPECT_EQ(signing::sign_package(files, zip, old_key), signing::key_id(old_key.public_part()));
    EXPECT_EQ(read_file(zip).size(), kEmptyZip.size() + signing::kSignatureCommentSize);
    EXPECT_EQ(signing::check_signature(files, zip, both).key_index, 0);

    // The publisher's roll to a new key: the signature is replaced, not added to.
    signing::sign_package(files, zip, new_key);
    EXPECT_EQ(read_file(zip).size(), kEmptyZip.size() + signing::kSignatureCommentSize);
    const signing::SignatureCheck rolled = signing::check_signature(files, zip, both);
    EXPECT_EQ(rolled.verdict, Verdict::Valid);
    EXPECT_EQ(rolled.key_index, 1);
    EXPECT_EQ(signing::check_signature(files, zip, {old_key.public_part()}).verdict, Verdict::OtherKey);
    EXPECT_EQ(signing::check_signature(files, zip, {}).verdict, Verdict::OtherKey);
}

TEST(PackageSignature, OnlyAZipFileWithoutACommentOfItsOwnIsSigned) {
    TempDir dir;
    const p256::PrivateKey key = p256::generate_key();
    std::string commented = kEmptyZip;
    commented[20] = 2;
    for (const std::string& bytes : {std::string("not a zip file at all"), commented + "hi", kEmptyZip + "x"}) {
        const std::string path = dir.file("refused");
        write_file(path, bytes);
        EXPECT_THROW(signing::sign_package(files, path, key), Error);
        EXPECT_EQ(read_file(path), bytes) << "left as it was";
    }
}

}  // namespace
}  // namespace kalv::testing
