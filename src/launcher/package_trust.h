// Which publishers an installation trusts, and whether a fetched copy may take the
// package's place on that account. NET.INF [DB] may name PublicKey= and PublicKey2=
// (the second lets a publisher roll to a new key while shops still hold the old
// one), in the text form of signing/publisher_key.h. Once it names one, an upgrade
// copy is installed only when its signature verifies under one of them; a value that
// does not parse is a key that nothing matches (fail closed), never a reason to take
// unsigned copies. Without either key the refresh is as it always was.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/p256.h"

namespace kalv::launcher {

inline constexpr const char* kPublicKeyNames[] = {"PublicKey", "PublicKey2"};

struct NamedKey {
    std::string name;                             // the NET.INF key: PublicKey, PublicKey2
    std::optional<platform::p256::PublicKey> key;  // empty when the value does not parse
    std::string id;                               // the key id; empty when it does not parse
    std::string problem;                          // why it does not parse
};

// The keys of NET.INF at `net_inf`, read with the profile API's rules (as Upgrade is
// read) in NET.INF's order, and noted in the run log when there are any; empty when
// none is named. Called by ReadNetInf.
std::vector<NamedKey> ReadTrustedKeys(platform::FileSystem& files, const std::string& net_inf);

// Empty when the package at `path` may be installed as far as signatures go (`trusted`
// is empty, or its signature verifies under one of them); otherwise why not, for the
// run log: unsigned, signed by a key not trusted, altered, or unreadable.
std::string WhyNotTrusted(platform::FileSystem& files, const std::vector<NamedKey>& trusted,
                          const std::string& path);

// Empty unless keys are `trusted` and the copy at `copy` holds an older program than the
// installed package at `installed` (the dates of their "Kalvo3main" entries, which the
// signature covers; a file's own date does not, and anyone who can write the share sets
// it): an old signed package, perhaps with a flaw since mended, planted under a new date
// must not roll the shops back. An equal date is the same program, signed anew after a
// roll to a new key. Without an installed package to compare with, nothing is refused.
std::string WhyRollback(platform::FileSystem& files, const std::vector<NamedKey>& trusted, const std::string& copy,
                        const std::string& installed);

}  // namespace kalv::launcher
