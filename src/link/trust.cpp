// The trust files' text: known_hosts, ssh_config and the certificate pins.
#include "link/trust.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <strings.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr std::string_view kSpace = " \t\r";

std::string_view trim(std::string_view s) {
  size_t b = s.find_first_not_of(kSpace);
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(kSpace);
  return s.substr(b, e - b + 1);
}

// The next whitespace-separated word of s, removed from it.
std::string_view next_word(std::string_view* s) {
  *s = trim(*s);
  size_t end = s->find_first_of(kSpace);
  std::string_view w = s->substr(0, end);
  s->remove_prefix(end == std::string_view::npos ? s->size() : end);
  return w;
}

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// OpenSSH's wildcards: "*" any run, "?" one character, nothing else special
// (so "[host]:port" is matched literally).  Greedy with one back-track
// point: linear in practice, never exponential.
bool wildcard_match(std::string_view pattern, std::string_view text) {
  size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(text[t]))) {
      p++;
      t++;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') p++;
  return p == pattern.size();
}

int b64_decode(std::string_view in, uint8_t* out, size_t cap) {
  // EVP_DecodeBlock writes 3 bytes for every 4 characters, padding included.
  if (in.empty() || in.size() % 4 != 0 || in.size() / 4 * 3 > cap) return -1;
  int n = EVP_DecodeBlock(out, reinterpret_cast<const unsigned char*>(in.data()),
                          static_cast<int>(in.size()));
  if (n < 0) return -1;
  for (size_t i = in.size(); i > 0 && in[i - 1] == '='; --i) n--;
  return n;
}

bool hashed_match(std::string_view pattern, const char* name) {
  // "|1|" salt "|" hash, both base64 of 20 bytes.
  pattern.remove_prefix(3);
  size_t bar = pattern.find('|');
  if (bar == std::string_view::npos) return false;
  uint8_t salt[24], want[24];
  if (b64_decode(pattern.substr(0, bar), salt, sizeof salt) != 20) return false;
  if (b64_decode(pattern.substr(bar + 1), want, sizeof want) != 20) return false;
  char lowered[300];
  size_t n = strnlen(name, sizeof lowered - 1);
  for (size_t i = 0; i < n; i++) lowered[i] = lower(name[i]);
  uint8_t got[EVP_MAX_MD_SIZE];
  unsigned got_len = 0;
  if (!HMAC(EVP_sha1(), salt, 20, reinterpret_cast<const unsigned char*>(lowered), n, got,
            &got_len) ||
      got_len != 20)
    return false;
  return CRYPTO_memcmp(got, want, 20) == 0;
}

}  // namespace

void known_hosts_name(const char* host, int port, char* out, size_t cap) {
  if (port == 22) {
    snprintf(out, cap, "%s", host);
  } else {
    snprintf(out, cap, "[%s]:%d", host, port);
  }
}

bool known_hosts_field_matches(std::string_view field, const char* name) {
  if (field.size() > 3 && field.substr(0, 3) == "|1|") return hashed_match(field, name);
  bool matched = false;
  while (!field.empty()) {
    size_t comma = field.find(',');
    std::string_view pattern = field.substr(0, comma);
    field.remove_prefix(comma == std::string_view::npos ? field.size() : comma + 1);
    bool negated = !pattern.empty() && pattern.front() == '!';
    if (negated) pattern.remove_prefix(1);
    if (pattern.empty() || !wildcard_match(pattern, name)) continue;
    // A negated pattern that matches rules the line out whatever else does.
    if (negated) return false;
    matched = true;
  }
  return matched;
}

int known_hosts_find_line(std::string_view text, const char* name, const char* key_type) {
  int line_no = 0;
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    line_no++;
    line = trim(line);
    if (line.empty() || line.front() == '#' || line.front() == '@') continue;
    std::string_view field = next_word(&line);
    std::string_view type = next_word(&line);
    if (type.empty() || !known_hosts_field_matches(field, name)) continue;
    if (key_type && type != key_type) continue;
    return line_no;
  }
  return 0;
}

int known_hosts_hash_name(const char* name, const uint8_t salt[20], char* out, size_t cap) {
  uint8_t mac[EVP_MAX_MD_SIZE];
  unsigned mac_len = 0;
  char lowered[300];
  size_t n = strnlen(name, sizeof lowered - 1);
  for (size_t i = 0; i < n; i++) lowered[i] = lower(name[i]);
  if (!HMAC(EVP_sha1(), salt, 20, reinterpret_cast<const unsigned char*>(lowered), n, mac,
            &mac_len) ||
      mac_len != 20)
    return -1;
  unsigned char salt64[32], mac64[32];
  EVP_EncodeBlock(salt64, salt, 20);
  EVP_EncodeBlock(mac64, mac, 20);
  int w = snprintf(out, cap, "|1|%s|%s", salt64, mac64);
  return w > 0 && static_cast<size_t>(w) < cap ? 0 : -1;
}

int ssh_config_hash_known_hosts(std::string_view text, const char* host) {
  bool applies = true;  // lines before the first block apply to every host
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = trim(text.substr(0, nl));
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    if (line.empty() || line.front() == '#') continue;
    // "Keyword value", "Keyword=value" or "Keyword = value".
    size_t end = line.find_first_of(" \t=");
    std::string_view key = line.substr(0, end);
    std::string_view rest = end == std::string_view::npos ? std::string_view{} : line.substr(end);
    rest = trim(rest);
    if (!rest.empty() && rest.front() == '=') rest = trim(rest.substr(1));
    auto is = [&key](const char* word) {
      return key.size() == strlen(word) && strncasecmp(key.data(), word, key.size()) == 0;
    };
    if (is("Host")) {
      bool any = false, negated_hit = false;
      while (!rest.empty()) {
        std::string_view p = next_word(&rest);
        if (p.size() >= 2 && p.front() == '"' && p.back() == '"') p = p.substr(1, p.size() - 2);
        bool neg = !p.empty() && p.front() == '!';
        if (neg) p.remove_prefix(1);
        if (p.empty() || !wildcard_match(p, host)) continue;
        if (neg) negated_hit = true;
        any = true;
      }
      applies = any && !negated_hit;
    } else if (is("Match")) {
      std::string_view what = next_word(&rest);
      applies = what.size() == 3 && strncasecmp(what.data(), "all", 3) == 0;
    } else if (is("HashKnownHosts") && applies) {
      std::string_view v = next_word(&rest);
      if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
      if (v.size() == 3 && strncasecmp(v.data(), "yes", 3) == 0) return 1;
      if (v.size() == 2 && strncasecmp(v.data(), "no", 2) == 0) return 0;
    }
  }
  return -1;
}

int tls_pin_find(std::string_view text, const char* host, int port, char* fp, size_t cap) {
  int line_no = 0;
  size_t host_len = strlen(host);
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    line_no++;
    line = trim(line);
    if (line.empty() || line.front() == '#') continue;
    std::string_view h = next_word(&line);
    std::string_view p = next_word(&line);
    std::string_view f = next_word(&line);
    if (f.empty() || h.size() != host_len || strncasecmp(h.data(), host, host_len) != 0) continue;
    if (p.size() > 5 || p.find_first_not_of("0123456789") != std::string_view::npos) continue;
    int value = 0;
    for (char c : p) value = value * 10 + (c - '0');
    if (value != port) continue;
    if (fp && cap > 0) snprintf(fp, cap, "%.*s", static_cast<int>(f.size()), f.data());
    return line_no;
  }
  return 0;
}
