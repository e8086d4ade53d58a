// serve's own TLS: the certificate chain and private key, read from PEM files with GnuTLS and
// handed to each new handshake through a certificate callback. A reload (SIGHUP) reads the
// files again and swaps the credentials in for handshakes from then on; connections already
// established keep their session, so none is dropped. Credentials that were swapped out stay
// in memory until exit, since a handshake under way may still point at them (a few KiB per
// reload).
#pragma once
#include "core/base.h"
#include <gnutls/abstract.h>
#include <gnutls/gnutls.h>

// The only protocol versions offered: TLS 1.3 and 1.2, GnuTLS' normal cipher choices.
extern const char kTlsPriorities[];

// Reads certPath (a PEM chain, leaf first) and keyPath (a PEM private key) and makes them the
// current credentials. False with a message when a file is missing, unreadable or not PEM,
// or when the key does not belong to the certificate; the current credentials then stay.
bool LoadTlsCredentials(const std::string& certPath, const std::string& keyPath, std::string& error);

// For MHD_OPTION_HTTPS_CERT_CALLBACK: hands out the current credentials.
int CurrentTlsCredentials(gnutls_session_t session, const gnutls_datum_t* acceptedIssuers, int issuerCount,
                          const gnutls_pk_algorithm_t* algorithms, int algorithmCount, gnutls_pcert_st** chain,
                          unsigned int* chainLength, gnutls_privkey_t* key);
