// layers: link
// Arbitrary text as the trust files the links read themselves: a
// known_hosts file (matched against a host name and a hashed name made from
// the input), an ssh_config and a file of certificate pins.  Nothing may
// read past the text; a found pin must be terminated.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "link/trust.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  const char* names[] = {"bbs.example.org", "[127.0.0.1]:2222", "::1"};
  for (const char* name : names) {
    known_hosts_find_line(text, name, nullptr);
    known_hosts_find_line(text, name, "ssh-ed25519");
    ssh_config_hash_known_hosts(text, name);
    char fp[kTlsFingerprintCap];
    if (tls_pin_find(text, name, 992, fp, sizeof fp) > 0 && !memchr(fp, 0, sizeof fp))
      __builtin_trap();
  }
  // The input as a host field and as a name to hash.
  std::string_view first = text.substr(0, text.find('\n'));
  known_hosts_field_matches(first, "bbs.example.org");
  uint8_t salt[20] = {};
  memcpy(salt, data, size < sizeof salt ? size : sizeof salt);
  char name[64];
  size_t n = first.size() < sizeof name - 1 ? first.size() : sizeof name - 1;
  memcpy(name, first.data(), n);
  name[n] = '\0';
  char hashed[128];
  if (known_hosts_hash_name(name, salt, hashed, sizeof hashed) == 0 &&
      strnlen(name, sizeof name) == n && !known_hosts_field_matches(hashed, name))
    __builtin_trap();
  return 0;
}
