// Adds a PEM certificate to the local machine's ROOT store of the Wine
// prefix the tests run in (never to the machine's own trust store), so that
// WinHTTP trusts servers whose chain ends in the test CA.
// Usage: trust_ca.exe <certificate.pem as a Windows path>
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

struct store_closer {
    void operator()(void* store) const { CertCloseStore(store, 0); }
};

int fail(const char* what)
{
    std::fprintf(stderr, "%s failed: %lu\n", what, GetLastError());
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: trust_ca CERTIFICATE.pem\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    const std::string pem{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (pem.empty())
        return fail("reading the certificate");
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.data(), DWORD(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                              nullptr))
        return fail("CryptStringToBinary");
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.data(), DWORD(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                              nullptr))
        return fail("CryptStringToBinary");
    std::unique_ptr<void, store_closer> store(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT"));
    if (!store)
        return fail("CertOpenStore");
    if (!CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), size,
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
        return fail("CertAddEncodedCertificateToStore");
    return 0;
}
