// The trust files a link reads and writes itself: OpenSSH's known_hosts
// (finding the line that holds a host's key, hashing a new entry's name as
// OpenSSH does), its ssh_config (whether the user hashes known hosts), and
// Kavel's own file of pinned TLS certificates.  Pure functions over the text,
// so they can be tested and fuzzed without files.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

// The name a host's keys are stored under: "host" on port 22,
// "[host]:port" on any other.
void known_hosts_name(const char* host, int port, char* out, size_t cap);

// Whether the host field of a known_hosts line (comma-separated patterns:
// plain names, "*" and "?" wildcards, "!" negations, hashed "|1|salt|hash")
// names name.  Names compare without regard to case.
bool known_hosts_field_matches(std::string_view field, const char* name);

// The 1-based number of the first line of a known_hosts text that holds a
// key for name, of type key_type ("ssh-ed25519", ...; null: any type); 0
// when there is none.  Marked lines (@revoked, @cert-authority) hold no
// host key.
int known_hosts_find_line(std::string_view text, const char* name, const char* key_type);

// The hashed form of name as OpenSSH writes it ("|1|" base64 salt "|"
// base64 HMAC-SHA1 of the name keyed with the salt).  0, or -1 when out is
// too small.
int known_hosts_hash_name(const char* name, const uint8_t salt[20], char* out, size_t cap);

// Whether an ssh_config text turns HashKnownHosts on for host: 1 yes, 0 no,
// -1 when it says nothing.  As OpenSSH reads it, the first value that
// applies wins: lines before any block and in "Host" blocks whose patterns
// match host; "Match" blocks other than "Match all" are not evaluated and
// count as not applying.
int ssh_config_hash_known_hosts(std::string_view text, const char* host);

// Pinned certificates, one a line: "HOST PORT FINGERPRINT" (the SHA-256
// fingerprint as colon-separated upper-case hex, as `openssl x509
// -fingerprint -sha256` shows it); "#" starts a comment line.  Returns the
// 1-based line of host and port and copies its fingerprint into fp; 0 when
// the host has no pin.
int tls_pin_find(std::string_view text, const char* host, int port, char* fp, size_t cap);

// Buffer sizes for fingerprints and the lines that hold them.
inline constexpr size_t kTlsFingerprintCap = 32 * 3 + 1;
