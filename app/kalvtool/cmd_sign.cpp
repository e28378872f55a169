// kalvtool keygen KEYFILE | keygen --public KEYFILE | verify --key PUBLIC PACKAGE:
// a publisher's key pair, and the check of a package's signature as a launcher that
// trusts PUBLIC makes it (signing/package_signature.h).
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "core/errors.h"
#include "core/printable.h"
#include "platform/key_files.h"
#include "signing/package_signature.h"
#include "signing/publisher_key.h"
#include "signing_keys.h"

namespace kalvtool {
namespace {

namespace p256 = kalv::platform::p256;
namespace signing = kalv::signing;

int run_keygen(kalv::platform::Platform& os, const Args& args) {
    if (args.size() == 2 && args[0] == "--public") {
        const p256::PrivateKey key = keys::read_private_key(os, args[1]);
        std::printf("%s\n", signing::public_key_text(key.public_part()).c_str());
        return kExitOk;
    }
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-')
        return usage_error("keygen expects KEYFILE, or --public KEYFILE");
    const p256::PrivateKey key = p256::generate_key();
    std::string file_text = signing::private_key_file_text(key);
    try {
        kalv::platform::write_owner_only_file(args[0], file_text);
    } catch (...) {
        std::fill(file_text.begin(), file_text.end(), '\0');
        throw;
    }
    std::fill(file_text.begin(), file_text.end(), '\0');
    const std::string id = signing::key_id(key.public_part());
    std::printf("%s\n", signing::public_key_text(key.public_part()).c_str());
    std::fprintf(stderr,
                 "kalvtool keygen: the private key of key id %s is in %s, readable by you alone: keep it off "
                 "the share. Name the public key (the line above) in the shops' NET.INF under [DB] as "
                 "PublicKey=\n",
                 id.c_str(), kalv::printable(args[0]).c_str());
    return kExitOk;
}

int run_verify(kalv::platform::Platform& os, const Args& args) {
    std::vector<p256::PublicKey> trusted;
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--key") {
            if (i + 1 == args.size()) return usage_error("verify: --key needs PUBLIC");
            trusted.push_back(keys::read_public_key(os, args[++i]));
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            return usage_error("verify: unknown option " + args[i]);
        } else {
            files.push_back(args[i]);
        }
    }
    if (trusted.empty() || files.size() != 1) return usage_error("verify expects --key PUBLIC and PACKAGE");
    const signing::SignatureCheck check = signing::check_signature(os, files[0], trusted);
    const std::string name = kalv::printable(files[0]);
    switch (check.verdict) {
        case signing::Verdict::Valid:
            std::printf("%s: signed by key %s, valid\n", name.c_str(), check.key_id.c_str());
            return kExitOk;
        case signing::Verdict::Unsigned:
            std::printf("%s: unsigned (no signature at the end of its ZIP end record)\n", name.c_str());
            break;
        case signing::Verdict::OtherKey: {
            std::string given;
            for (const p256::PublicKey& key : trusted) given += (given.empty() ? "" : " or ") + signing::key_id(key);
            std::printf("%s: signed by another key: %s, not %s\n", name.c_str(), check.key_id.c_str(),
                        given.c_str());
            break;
        }
        case signing::Verdict::Altered:
            std::printf("%s: %s (its bytes do not match the signature)\n", name.c_str(), check.text().c_str());
            break;
    }
    return kExitPartial;
}

const Registration keygen_registration{
    {"keygen",
     "kalvtool keygen KEYFILE                  make a publisher's key pair: the private key into KEYFILE,\n"
     "                                         the public key printed\n"
     "kalvtool keygen --public KEYFILE         print KEYFILE's public key again",
     run_keygen,
     "KEYFILE is created new (an existing file is never overwritten), readable and writable by\n"
     "this user alone (mode 0600; on Windows an access list with this user alone). It holds a\n"
     "comment line and the key line kalv3-p256-private:<Base64 of X||Y||d> (ECDSA P-256).\n"
     "Keep it off the upgrade share: whoever holds it can sign packages that the shops install.\n"
     "The public key is printed as one line, kalv3-p256:<Base64 of X||Y>: name it in the shops'\n"
     "NET.INF under [DB] as PublicKey= (or PublicKey2=, while rolling to a new key).\n"
     "Sign with kalvtool pack --key KEYFILE or kalvtool publish --key KEYFILE.\n\n"
     "Exit codes: 0 done, 2 failed (message on stderr), 64 usage error."}};

const Registration verify_registration{
    {"verify", "kalvtool verify --key PUBLIC PACKAGE      check PACKAGE's signature by the key PUBLIC", run_verify,
     "PUBLIC is the public key line (kalv3-p256:...) or a file holding it; --key may be given\n"
     "twice (PublicKey and PublicKey2). The check is the launcher's: the signature at the end of\n"
     "the package's ZIP end record must be by that key and match every byte before it.\n\n"
     "Exit codes: 0 signed by that key and unaltered; 1 unsigned, signed by another key, or\n"
     "altered (the message says which); 2 the package or the key cannot be read; 64 usage error."}};

}  // namespace
}  // namespace kalvtool
