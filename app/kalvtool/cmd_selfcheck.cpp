// kalvtool selfcheck: the AES known-answer self-test (AES-128, -192 and -256).
#include <cstdio>

#include "cipher/rijndael.h"
#include "commands.h"

namespace {

int run_selfcheck(kalv::platform::Platform&, const kalvtool::Args& args) {
    if (!args.empty()) return kalvtool::usage_error("selfcheck: takes no arguments");
    if (!kalv::Rijndael::PassesKnownAnswers()) {
        std::fprintf(stderr, "kalvtool selfcheck: %s self-check FAILED\n", kalv::Rijndael::kAlgorithm);
        return kalvtool::kExitFailure;
    }
    std::printf("%s self-check passed (AES-128, AES-192, AES-256)\n", kalv::Rijndael::kAlgorithm);
    return kalvtool::kExitOk;
}

const kalvtool::Registration registration{
    {"selfcheck", "kalvtool selfcheck              run the AES known-answer self-check (exit 0 when it passes)",
     run_selfcheck,
     "Encrypts and decrypts three known-answer vectors (AES-128, AES-192, AES-256) with the\n"
     "launcher's own cipher, each by a fresh cipher object.\n\n"
     "Exit codes: 0 passed, 2 failed, 64 usage error."}};

}  // namespace
