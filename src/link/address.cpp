// Addresses as users write them, split into the kind of link, host, port and
// user.  The phonebook's address field and the command line take the same
// forms; the stored file keeps the text as written.
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string_view>

#include "link/link.h"
#include "util/address.h"

namespace {

struct Scheme {
  std::string_view prefix;
  LinkKind kind;
};

constexpr Scheme kSchemes[] = {
    {"telnet://", LINK_TELNET},
    {"ssh://", LINK_SSH},
    {"telnets://", LINK_TELNETS},
    {"rlogin://", LINK_RLOGIN},
};

// Host names, IPv4 and IPv6 literals (with a zone after "%") use only these.
// Refusing everything else keeps spaces, line ends and separators out of the
// trust files, where the host is written as one field of a line.
bool host_char_ok(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_' || c == ':' || c == '%';
}

// A user name travels in the SSH user field or the RLogin handshake: any
// visible character but a slash (the host follows the last "@").
bool user_char_ok(unsigned char c) {
  return c > 0x20 && c != 0x7f && c != '/';
}

}  // namespace

int link_default_port(LinkKind kind) {
  switch (kind) {
    case LINK_SSH:
      return 22;
    case LINK_TELNETS:
      return 992;
    case LINK_RLOGIN:
      return 513;
    default:
      return 23;
  }
}

const char* link_kind_label(LinkKind kind) {
  switch (kind) {
    case LINK_SSH:
      return "SSH";
    case LINK_TELNETS:
      return "TLS";
    case LINK_RLOGIN:
      return "RLogin";
    default:
      return "";
  }
}

int link_parse_address(const char* text, int port, LinkAddress* out) {
  if (!text || !out) return -1;
  *out = LinkAddress{};
  std::string_view t(text);
  LinkKind kind = LINK_TELNET;
  bool has_scheme = false;
  if (t.find("://") != std::string_view::npos) {
    for (const Scheme& s : kSchemes) {
      if (t.size() >= s.prefix.size() && strncasecmp(text, s.prefix.data(), s.prefix.size()) == 0) {
        kind = s.kind;
        has_scheme = true;
        t.remove_prefix(s.prefix.size());
        break;
      }
    }
    if (!has_scheme) return -1;
    // A path or a trailing slash after the address means nothing here.
    size_t slash = t.find('/');
    if (slash != std::string_view::npos) t = t.substr(0, slash);
  }

  std::string_view user;
  size_t at = t.rfind('@');
  if (at != std::string_view::npos) {
    if (kind != LINK_SSH && kind != LINK_RLOGIN) return -1;
    user = t.substr(0, at);
    t.remove_prefix(at + 1);
    if (user.empty() || user.size() >= sizeof out->user) return -1;
    for (char c : user) {
      if (!user_char_ok(static_cast<unsigned char>(c))) return -1;
    }
  }

  // Host and port read as for a plain Telnet address.
  std::string_view name;
  int own = 0;
  if (address_host_port(t, &name, &own) != 0 || name.size() >= sizeof out->host) return -1;
  for (char c : name) {
    if (!host_char_ok(c)) return -1;
  }
  int chosen;
  if (own > 0) {
    chosen = own;
  } else if (kind != LINK_TELNET && port == link_default_port(LINK_TELNET)) {
    // A phonebook entry's Port field and the command line's port both
    // default to Telnet's 23: for another kind that is no choice of the
    // user's, so "ssh://host" in an entry goes to 22 (ssh://host:23 still
    // reaches 23).
    chosen = link_default_port(kind);
  } else {
    chosen = port >= 1 && port <= 65535 ? port : link_default_port(kind);
  }
  out->kind = kind;
  memcpy(out->host, name.data(), name.size());
  out->host[name.size()] = '\0';
  // An address without a user has no user bytes to copy (the view's data
  // may then be null).
  if (!user.empty()) memcpy(out->user, user.data(), user.size());
  out->user[user.size()] = '\0';
  out->port = chosen;
  return 0;
}
