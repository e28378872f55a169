// trust_ca add|remove CA.pem: puts a test CA into the local machine's Root store, or
// takes it out again, so that the HTTPS tests under Wine can trust their own server
// for one run. Wine's chain engine reads its roots from that store (the registry).
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3 || (std::string(argv[1]) != "add" && std::string(argv[1]) != "remove")) {
        std::fprintf(stderr, "usage: trust_ca add|remove CA.pem\n");
        return 2;
    }
    const bool add = std::string(argv[1]) == "add";
    std::ifstream file(argv[2], std::ios::binary);
    const std::string pem((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    DWORD size = 0;
    if (pem.empty() || !CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                             nullptr, &size, nullptr, nullptr)) {
        std::fprintf(stderr, "trust_ca: %s holds no PEM certificate\n", argv[2]);
        return 1;
    }
    std::vector<BYTE> der(size);
    CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                         nullptr, nullptr);
    HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!root) {
        std::fprintf(stderr, "trust_ca: the Root store does not open (error %lu)\n", GetLastError());
        return 1;
    }
    bool done = false;
    if (add) {
        done = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(), size,
                                                CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    } else if (PCCERT_CONTEXT ours = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size)) {
        // Wine 8 reports a delete from the Root system store as done and leaves the
        // certificate's registry key in place; the key, named by the SHA-1 thumbprint,
        // is what both Windows and Wine read the store from, so it goes as well.
        if (PCCERT_CONTEXT found = CertFindCertificateInStore(root, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, ours,
                                                              nullptr))
            CertDeleteCertificateFromStore(found);  // frees `found`
        BYTE thumbprint[20];
        DWORD thumbprint_size = sizeof thumbprint;
        if (CertGetCertificateContextProperty(ours, CERT_SHA1_HASH_PROP_ID, thumbprint, &thumbprint_size)) {
            std::string key = "Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\";
            for (DWORD i = 0; i < thumbprint_size; ++i) {
                char hex[3];
                std::snprintf(hex, sizeof hex, "%02X", thumbprint[i]);
                key += hex;
            }
            const LSTATUS status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
            done = status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
        }
        CertFreeCertificateContext(ours);
    }
    if (!done) std::fprintf(stderr, "trust_ca: %s failed (error %lu)\n", argv[1], GetLastError());
    CertCloseStore(root, 0);
    return done ? 0 : 1;
}
