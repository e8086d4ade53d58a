// Requests that failed for a certificate reason: which reason, in words for the log, and what
// the player is told when it was the content server's. Numbers are WinINet's error codes.
#pragma once
#include "core/base.h"

struct CertificateProblem {
  const char* reason;    // for the log, e.g. "issued by an unknown authority"
  const char* headline;  // for the Offline status
  const char* detail;
};

// The problem behind a failed request's error code; nothing (null reason) when the failure
// was not about a certificate.
CertificateProblem CertificateProblemOf(uint32_t error);
