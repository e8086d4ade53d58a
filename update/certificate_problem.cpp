// Certificate failures of WinINet by error code; see certificate_problem.h.
#include "update/certificate_problem.h"

namespace {
constexpr uint32_t kInvalidCa = 12045;      // ERROR_INTERNET_INVALID_CA
constexpr uint32_t kNameInvalid = 12038;    // ERROR_INTERNET_SEC_CERT_CN_INVALID
constexpr uint32_t kDateInvalid = 12037;    // ERROR_INTERNET_SEC_CERT_DATE_INVALID
constexpr uint32_t kRevoked = 12170;        // ERROR_INTERNET_SEC_CERT_REVOKED
constexpr uint32_t kRevocationUnknown = 12057;  // ERROR_INTERNET_SEC_CERT_REV_FAILED
constexpr uint32_t kSeveral = 12055;        // ERROR_INTERNET_SEC_CERT_ERRORS
constexpr uint32_t kNoRevocation = 12056;   // ERROR_INTERNET_SEC_CERT_NO_REV
constexpr uint32_t kInvalidCert = 12169;    // ERROR_INTERNET_SEC_INVALID_CERT
constexpr uint32_t kSecureFailure = 12175;  // ERROR_INTERNET_SECURE_FAILURE

constexpr const char* kUntrusted = "The update server's certificate is not trusted.";
constexpr const char* kUntrustedDetail =
    "Your PC does not trust who signed it. Ask the server's operators, or PLAY without updating.";
}  // namespace

CertificateProblem CertificateProblemOf(uint32_t error) {
  switch (error) {
    case kInvalidCa:
      return {"issued by an authority this PC does not trust", kUntrusted, kUntrustedDetail};
    case kRevocationUnknown:
    case kNoRevocation:
      // Wine reports this too for a chain that ends in an authority it does not trust.
      return {"its issuer is not trusted or its revocation could not be checked", kUntrusted, kUntrustedDetail};
    case kNameInvalid:
      return {"issued for another host name", "The update server's certificate is for another server.",
              "Check Server= in KMLauncher.cfg, or ask the server's operators. PLAY works without updating."};
    case kDateInvalid:
      return {"expired or not valid yet", "The update server's certificate has expired or is not valid yet.",
              "Check your PC's date and time, then press RETRY. PLAY works without updating."};
    case kRevoked:
      return {"revoked by its issuer", "The update server's certificate was revoked.",
              "Ask the server's operators, or PLAY without updating."};
    case kSeveral:
    case kInvalidCert:
      return {"not valid", kUntrusted, kUntrustedDetail};
    case kSecureFailure:
      return {"refused in the secure handshake", "The secure connection to the update server failed.",
              "Press RETRY later, or PLAY without updating."};
    default:
      return {nullptr, nullptr, nullptr};
  }
}
