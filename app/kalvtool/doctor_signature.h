// What `kalvtool doctor` says of signatures: which publisher keys the installation
// trusts, and how the upgrade copy is signed, decided by the launcher's own code
// (ReadTrustedKeys, WhyNotTrusted).
#pragma once

#include <string>
#include <vector>

#include "doctor_report.h"
#include "launcher/package_trust.h"

namespace kalvtool::doctor {

// The "publisher keys" line for the keys NET.INF names.
void report_trusted_keys(Report& report, const std::vector<kalv::launcher::NamedKey>& keys);

struct SignatureFinding {
    std::string note;     // ", signed by key 0123456789abcdef (PublicKey)", ", unsigned", ...
    std::string refusal;  // why the launcher drops the copy; empty when it keeps it
    bool rollback = false;  // dropped as an older program than the installed one's
};

// Reads the package at `path` as a launcher trusting `trusted` checks its fetched copy
// before it would replace the package at `installed`.
SignatureFinding inspect_signature(kalv::platform::FileSystem& files,
                                   const std::vector<kalv::launcher::NamedKey>& trusted, const std::string& path,
                                   const std::string& installed);

// For an upgrade copy that is newer (`found` describes it): a WARN line
// when the launcher drops it for its signature or as an older program, and true then.
bool report_untrusted(Report& report, const std::string& found, const SignatureFinding& finding);

}  // namespace kalvtool::doctor
