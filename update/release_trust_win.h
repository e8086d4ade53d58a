// The launcher's side of signed releases: with a release key built in (cmake
// -DKM_RELEASE_PUBLIC_KEY=...), only manifests signed by that key are used, every download
// must match its SHA-256, and no release older than one already installed is taken.
// Without a key nothing here changes what the launcher does.
#pragma once
#include "core/base.h"
#include "update/manifest.h"
#include "update/release_signature.h"
#include <windows.h>

// The release key line built into this launcher; empty without one. Set by start-up.
extern std::string g_releaseKey;

// The parse of a body a keyed launcher may use; false (logged with the reason, manifest
// empty) when the body is refused.
bool ParseVerifiedManifest(const std::string& body, Manifest& manifest);

// The same check without logging; againstInstalled false leaves out the installed release
// and the built-in floor (only key and bytes are checked).
bool CheckReleaseBody(const std::string& body, bool againstInstalled, Manifest& manifest, std::string& reason);

// Remembers a signed release (version, serial and tag) as installed in this folder, kept in
// the file-state cache; never one older than the version recorded.
void RecordInstalledRelease(const Manifest& manifest);

// What PLAY may start in a launcher with a release key: the client file as the signed release
// of this run's pass gives it (RecordInstalledRelease remembers its SHA-256).
enum class ClientCheck { Matches, Differs, NotKnown };
// Opens the client for reading, kept from being written, renamed or deleted while held open
// (held receives the handle, to close once the client is started), and compares it with the
// signed SHA-256. NotKnown (held empty) when no pass verified a release in this run or the
// release lists no client; Differs is logged.
ClientCheck CheckSignedClient(const std::string& path, HANDLE& held);

// True when the file at path has the SHA-256 the signed manifest gives for file (always
// true for a file without one). Logged when it does not.
bool FileMatchesSha256(const std::string& path, const RemoteFile& file);
// The same for a file open for reading, read from its start.
bool OpenFileMatchesSha256(void* openFile, const RemoteFile& file);

// ECDSA P-256 verification with the platform's CNG.
bool VerifyWithCng(const P256Point& key, const Sha256Digest& digest, const P256Signature& signature);
