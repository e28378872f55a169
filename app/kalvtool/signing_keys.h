// What kalvtool's signing commands share: reading key files and key arguments, and
// the step that signs a written package (pack --key, publish --key).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/file_system.h"
#include "platform/p256.h"

namespace kalvtool::keys {

// The private key in KEYFILE (kalvtool keygen's file). Throws kalv::Error naming the
// file and what is wrong.
kalv::platform::p256::PrivateKey read_private_key(kalv::platform::FileSystem& files,
                                                   const std::string& key_file);

// A public key given on the command line: the key line itself ("kalv3-p256:...") or a
// file whose first line that is not a comment holds it. Throws kalv::Error.
kalv::platform::p256::PublicKey read_public_key(kalv::platform::FileSystem& files, const std::string& given);

// The signing step of pack and publish, with the key read now (so a bad KEYFILE is
// refused before anything is written): signs the package at the path it is given,
// reads it back and verifies it. `signed_by` receives the key id.
std::function<void(const std::string&)> package_signer(kalv::platform::FileSystem& files, const std::string& key_file,
                                                        std::shared_ptr<std::string> signed_by);

}  // namespace kalvtool::keys
