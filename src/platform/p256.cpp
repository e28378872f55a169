// The parts of the P-256 key forms that need no system call.
#include "platform/p256.h"

#include <algorithm>

namespace kalv::platform::p256 {

PrivateKey::~PrivateKey() {
    // Through a volatile pointer, so that the stores to a dying object are kept.
    volatile uint8_t* p = bytes.data();
    for (size_t i = 0; i < bytes.size(); ++i) p[i] = 0;
}

PublicKey PrivateKey::public_part() const {
    PublicKey key;
    std::copy_n(bytes.begin(), key.size(), key.begin());
    return key;
}

}  // namespace kalv::platform::p256
