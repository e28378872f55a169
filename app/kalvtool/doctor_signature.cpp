#include "doctor_signature.h"

#include <exception>
#include <vector>

#include "launcher/package_trust.h"
#include "signing/package_signature.h"

namespace kalvtool::doctor {

namespace launcher = kalv::launcher;
namespace signing = kalv::signing;

void report_trusted_keys(Report& report, const std::vector<launcher::NamedKey>& keys) {
    if (keys.empty()) {
        report.line(Level::Ok, "publisher keys", "none named in NET.INF: an upgrade copy is installed signed or not",
                    "To install only packages you signed, name your public key in NET.INF as [DB] PublicKey= "
                    "(kalvtool keygen)");
        return;
    }
    std::string trusted, broken;
    for (const launcher::NamedKey& named : keys) {
        if (named.key)
            trusted += (trusted.empty() ? "" : ", ") + named.name + " " + named.id;
        else
            broken += (broken.empty() ? "" : "; ") + named.name + " does not parse (" + named.problem + ")";
    }
    const std::string only = "only an upgrade copy signed by " +
                             std::string(keys.size() > 1 ? "one of them" : "it") + " is installed";
    if (broken.empty()) {
        report.line(Level::Ok, "publisher keys", "NET.INF trusts " + trusted + ": " + only);
    } else {
        report.line(Level::Warn, "publisher keys",
                    (trusted.empty() ? std::string("NET.INF trusts no key that parses") : "NET.INF trusts " + trusted) +
                        "; " + broken + ": it matches no package",
                    "Copy the whole line kalvtool keygen printed (kalvtool keygen --public KEYFILE prints it again)");
    }
}

SignatureFinding inspect_signature(kalv::platform::FileSystem& files,
                                   const std::vector<launcher::NamedKey>& trusted, const std::string& path,
                                   const std::string& installed) {
    SignatureFinding finding;
    finding.refusal = launcher::WhyNotTrusted(files, trusted, path);
    // The launcher's next refusal after the signature's: a validly signed older program.
    if (finding.refusal.empty()) {
        finding.refusal = launcher::WhyRollback(files, trusted, path, installed);
        finding.rollback = !finding.refusal.empty();
    }
    std::vector<kalv::platform::p256::PublicKey> keys;
    std::vector<std::string> names;
    for (const launcher::NamedKey& named : trusted) {
        if (!named.key) continue;
        keys.push_back(*named.key);
        names.push_back(named.name);
    }
    try {
        const signing::SignatureCheck check = signing::check_signature(files, path, keys);
        switch (check.verdict) {
            case signing::Verdict::Valid:
                finding.note = ", " + check.text() + " (" + names[size_t(check.key_index)] + ")";
                break;
            case signing::Verdict::OtherKey:
                // Without keys to check by, the key id is all there is to tell.
                finding.note = ", signed by key " + check.key_id + (keys.empty() ? "" : ", not one NET.INF names");
                break;
            case signing::Verdict::Unsigned:
                // Said where it matters: an installation that trusts no key takes it as ever.
                if (!trusted.empty()) finding.note = ", unsigned";
                break;
            case signing::Verdict::Altered: finding.note = ", " + check.text(); break;
        }
    } catch (const std::exception&) {
        // Unreadable: the soundness check that follows says so.
    }
    return finding;
}

bool report_untrusted(Report& report, const std::string& found, const SignatureFinding& finding) {
    if (finding.refusal.empty()) return false;
    report.line(Level::Warn, "upgrade copy", found + ", newer than the local package, but " + finding.refusal,
                finding.rollback
                    ? "Every start copies it, drops it and goes on with the local package: an old package put back "
                      "on the share? Publish the current program with kalvtool publish --key KEYFILE"
                    : "Every start copies it, drops it and goes on with the local package: publish it with kalvtool "
                      "publish --key KEYFILE, with the key whose public key NET.INF names");
    return true;
}

}  // namespace kalvtool::doctor
