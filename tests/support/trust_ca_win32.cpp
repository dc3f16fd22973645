// trust_ca <file.pem>: adds the certificate in file.pem to the current user's
// ROOT store, where the chain engine finds it as a trusted root. Under Wine this
// asks nothing, so a test makes its own CA trusted inside its Wine prefix.
// Exits with 0 when the certificate is in the store afterwards.
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The DER bytes of the first certificate of a PEM text; empty when there is none.
std::vector<BYTE> DerOf(const std::string& pem) {
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              nullptr, &size, nullptr, nullptr))
        return {};
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              der.data(), &size, nullptr, nullptr))
        return {};
    der.resize(size);
    return der;
}

// Every test run trusts a CA of its own, under a name of its own, in the
// one ROOT store of the prefix: the CAs of runs that ended long ago are
// removed, so that the store does not grow with every run. Through the
// registry half of the store alone, and committed: Wine forgets deletions
// made through the whole system store.
void RemoveOldTestCas() {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT");
    if (!store) return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER cutoff{{now.dwLowDateTime, now.dwHighDateTime}};
    cutoff.QuadPart -= 10ull * 60 * 10'000'000;  // ten minutes, in 100 ns steps
    const FILETIME old{cutoff.LowPart, cutoff.HighPart};
    std::vector<PCCERT_CONTEXT> gone;
    for (PCCERT_CONTEXT cert = nullptr;
         (cert = CertEnumCertificatesInStore(store, cert)) != nullptr;) {
        wchar_t name[64] = L"";
        CertGetNameStringW(cert, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), name,
                           64);
        if (std::wcsncmp(name, L"Tavimor test ", 13) == 0 &&
            CompareFileTime(&cert->pCertInfo->NotBefore, &old) < 0)
            gone.push_back(CertDuplicateCertificateContext(cert));
    }
    // Each deletion frees its context.
    for (PCCERT_CONTEXT cert : gone)
        CertDeleteCertificateFromStore(cert);
    CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(store, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: trust_ca <file.pem>\n", stderr);
        return 2;
    }
    std::ifstream in(std::filesystem::path(argv[1]), std::ios::binary);
    std::vector<BYTE> der =
        DerOf(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    if (der.empty()) {
        std::fputs("trust_ca: no certificate in the file\n", stderr);
        return 1;
    }
    RemoveOldTestCas();
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT");
    bool added = store && CertAddEncodedCertificateToStore(
                              store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                              CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    if (store) CertCloseStore(store, 0);
    if (!added) std::fprintf(stderr, "trust_ca: not added: error %lu\n", GetLastError());
    return added ? 0 : 1;
}
