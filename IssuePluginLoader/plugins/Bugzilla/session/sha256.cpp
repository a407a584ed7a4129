// SHA-256 from the platform's own crypto library: libcrypto (OpenSSL) on Linux, CNG's BCrypt on
// Windows. The one platform seam of the digest.
#include "sha256.h"

#include <cstdio>
#include <new>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

namespace bugzilla {

namespace {

constexpr unsigned kDigestBytes = 32;

void digest(const std::string& data, unsigned char out[kDigestBytes]) {
#ifdef _WIN32
  // BCryptHash needs Windows 10; the algorithm provider is opened per call, which is cheap
  // beside the server call the digest guards.
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
    throw std::runtime_error("SHA-256 is not available");
  const NTSTATUS status = BCryptHash(
      algorithm, nullptr, 0,
      reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())), static_cast<ULONG>(data.size()),
      out, kDigestBytes);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  if (!BCRYPT_SUCCESS(status)) throw std::runtime_error("SHA-256 failed");
#else
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), out, &length, EVP_sha256(), nullptr) != 1 ||
      length != kDigestBytes)
    throw std::bad_alloc();  // libcrypto fails here only when it cannot allocate
#endif
}

}  // namespace

std::string sha256_hex(const std::string& data) {
  unsigned char bytes[kDigestBytes];
  digest(data, bytes);
  std::string hex(2 * kDigestBytes, '0');
  for (unsigned i = 0; i < kDigestBytes; ++i) std::snprintf(&hex[2 * i], 3, "%02x", bytes[i]);
  return hex;
}

std::string sha256_of_parts(std::initializer_list<const std::string*> parts) {
  std::string joined;
  for (const std::string* part : parts) joined += std::to_string(part->size()) + ':' + *part;
  return sha256_hex(joined);
}

}  // namespace bugzilla
