#include "util/address.h"

#include <strings.h>

#include <cstring>
#include <string_view>

namespace {

int parse_port(std::string_view text) {
  if (text.empty() || text.size() > 5) return -1;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value >= 1 && value <= 65535 ? value : -1;
}

}  // namespace

int address_host_port(std::string_view t, std::string_view* host, int* port) {
  std::string_view name = t;
  int value = 0;
  if (!t.empty() && t.front() == '[') {
    size_t close = t.find(']');
    if (close == std::string_view::npos) return -1;
    name = t.substr(1, close - 1);
    std::string_view rest = t.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return -1;
      value = parse_port(rest.substr(1));
      if (value < 0) return -1;
    }
  } else {
    size_t colon = t.find(':');
    // One colon separates a port; more are an IPv6 address without one.
    if (colon != std::string_view::npos && t.find(':', colon + 1) == std::string_view::npos) {
      name = t.substr(0, colon);
      value = parse_port(t.substr(colon + 1));
      if (value < 0) return -1;
    }
  }
  if (name.empty()) return -1;
  *host = name;
  *port = value;
  return 0;
}

int address_split(const char* text, char* host, size_t cap, int* port) {
  if (!text || !host || cap == 0) return -1;
  host[0] = '\0';
  std::string_view t(text);
  constexpr std::string_view kScheme = "telnet://";
  if (t.size() >= kScheme.size() && strncasecmp(text, kScheme.data(), kScheme.size()) == 0) {
    t.remove_prefix(kScheme.size());
    // A path or a trailing slash after the address means nothing to Telnet.
    size_t slash = t.find('/');
    if (slash != std::string_view::npos) t = t.substr(0, slash);
  }
  std::string_view name;
  int own = 0;
  if (address_host_port(t, &name, &own) != 0) return -1;
  if (name.size() > kAddressMaxHostLength || name.size() >= cap) return -1;
  if (own && port) *port = own;
  memcpy(host, name.data(), name.size());
  host[name.size()] = '\0';
  return 0;
}

int address_port(const char* text, int port) {
  char host[kAddressMaxHostLength + 1];
  int own = port;
  return address_split(text, host, sizeof host, &own) == 0 ? own : port;
}
