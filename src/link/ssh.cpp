// SSH through libssh, non-blocking on our own socket.  Every phase (key
// exchange, host key, authentication, channel, pseudo-terminal, shell) is
// stepped without blocking: each call that would wait returns, the open
// waits one turn on the socket (the user's cancel polled, the budget counted
// down) and calls again.
//
// Host keys live in the user's OpenSSH known_hosts.  libssh decides whether
// a key is known, unknown or changed; this file finds the line a changed
// key stands on (for the warning) and writes new entries itself, hashed as
// OpenSSH hashes them when the user's ssh_config says HashKnownHosts.
#include <fcntl.h>
#include <libssh/libssh.h>
#include <openssl/rand.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/internal.h"
#include "link/trust.h"

namespace {

// The algorithms Debian's libssh allows by default, in its order, then the
// older ones BBS software still uses (cryptlib-based boards among them),
// offered last so that a current server never negotiates them.
constexpr const char* kKeyExchanges =
    "curve25519-sha256,curve25519-sha256@libssh.org,ecdh-sha2-nistp256,ecdh-sha2-nistp384,"
    "ecdh-sha2-nistp521,diffie-hellman-group18-sha512,diffie-hellman-group16-sha512,"
    "diffie-hellman-group-exchange-sha256,diffie-hellman-group14-sha256,"
    "diffie-hellman-group14-sha1,diffie-hellman-group-exchange-sha1,diffie-hellman-group1-sha1";
constexpr const char* kHostKeys =
    "ssh-ed25519,ecdsa-sha2-nistp521,ecdsa-sha2-nistp384,ecdsa-sha2-nistp256,rsa-sha2-512,"
    "rsa-sha2-256,ssh-rsa,ssh-dss";
constexpr const char* kCiphers =
    "chacha20-poly1305@openssh.com,aes256-gcm@openssh.com,aes128-gcm@openssh.com,aes256-ctr,"
    "aes192-ctr,aes128-ctr,aes256-cbc,aes192-cbc,aes128-cbc,3des-cbc";
constexpr const char* kMacs =
    "hmac-sha2-256-etm@openssh.com,hmac-sha2-512-etm@openssh.com,hmac-sha2-256,hmac-sha2-512,"
    "hmac-sha1-etm@openssh.com,hmac-sha1";

constexpr uint32_t kWindowChunk = 32768;

struct SshImpl {
  ssh_session session = nullptr;
  ssh_channel channel = nullptr;
  ssh_event event = nullptr;  // waits for window room while sending
};

SshImpl* impl_of(Link* l) {
  return static_cast<SshImpl*>(l->impl);
}

// Frees everything; the socket is cut first (linger 0, shutdown) so that
// nothing more goes out, and libssh closes the descriptor it was given.
void free_impl(SshImpl* s, int fd) {
  if (!s) return;
  link_fd_abort(fd);
  if (s->event) {
    if (s->session) ssh_event_remove_session(s->event, s->session);
    ssh_event_free(s->event);
  }
  if (s->channel) ssh_channel_free(s->channel);
  if (s->session) ssh_free(s->session);
  delete s;
}

// ------------------------------------------------------------ the open

struct Open {
  Link* l;
  SshImpl* s;
  int fd;
  const LinkAddress* a;
  const LinkOpenOptions* o;
  int* budget;
  char shown[kLinkHostCap + 16];
  int outcome = LINK_OK;  // a cancel or time-out met while waiting
};

// One wait between two calls that returned "again"; false when the open
// must end (o->outcome says why).
bool wait_turn(Open* op) {
  int flags = ssh_get_poll_flags(op->s->session);
  short events = POLLIN;
  if (flags & SSH_WRITE_PENDING) events |= POLLOUT;
  int t = link_open_turn(op->o, op->fd, events, op->budget);
  if (t == LINK_OK) return true;
  op->outcome = t;
  return false;
}

template <typename Call>
int step(Open* op, int again, Call call) {
  for (;;) {
    int rc = call();
    if (rc != again) return rc;
    if (!wait_turn(op)) return SSH_ERROR;
  }
}

std::string home_dir() {
  const char* h = getenv("HOME");
  if (h && *h) return h;
  passwd* pw = getpwuid(getuid());
  return pw && pw->pw_dir ? pw->pw_dir : ".";
}

std::string read_text(const std::string& path) {
  std::string text;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return text;
  char buf[8192];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0 && text.size() < (8u << 20)) text.append(buf, n);
  fclose(f);
  return text;
}

// Whether new known_hosts entries are hashed: the user's ssh_config first,
// then the system's, as OpenSSH reads them.
bool hash_known_hosts(const char* host) {
  for (std::string path : {home_dir() + "/.ssh/config", std::string("/etc/ssh/ssh_config")}) {
    int v = ssh_config_hash_known_hosts(read_text(path), host);
    if (v >= 0) return v == 1;
  }
  return false;
}

// Appends the server's key to the known_hosts file (owner-only, in an
// owner-only directory when that has to be made).  0, or -1 with errno.
int store_host_key(Open* op, const std::string& path) {
  char* entry = nullptr;
  if (ssh_session_export_known_hosts_entry(op->s->session, &entry) != SSH_OK || !entry) {
    errno = EINVAL;
    return -1;
  }
  std::string line = entry;
  ssh_string_free_char(entry);
  if (line.empty() || line.back() != '\n') line.push_back('\n');
  if (hash_known_hosts(op->a->host)) {
    char name[kLinkHostCap + 16];
    known_hosts_name(op->a->host, op->a->port, name, sizeof name);
    uint8_t salt[20];
    char hashed[128];
    size_t space = line.find(' ');
    if (RAND_bytes(salt, sizeof salt) == 1 &&
        known_hosts_hash_name(name, salt, hashed, sizeof hashed) == 0 && space != std::string::npos)
      line = hashed + line.substr(space);
  }
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) mkdir(path.substr(0, slash).c_str(), 0700);
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  bool ok = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  int saved = errno;
  if (close(fd) != 0) ok = false;
  errno = saved;
  return ok ? 0 : -1;
}

// Finds where a stored key for the host stands, in the user's file and then
// the system's: "FILE line N".
std::string where_stored(Open* op, const std::string& user_file, const char* type) {
  char name[kLinkHostCap + 16];
  known_hosts_name(op->a->host, op->a->port, name, sizeof name);
  for (const std::string& path : {user_file, std::string("/etc/ssh/ssh_known_hosts")}) {
    int line = known_hosts_find_line(read_text(path), name, type);
    if (line > 0) return path + " line " + std::to_string(line);
  }
  return user_file;
}

int check_host_key(Open* op, const std::string& known_hosts) {
  ssh_session ses = op->s->session;
  ssh_key key = nullptr;
  if (ssh_get_server_publickey(ses, &key) != SSH_OK || !key) {
    link_set_error(op->l, "%s sent no host key", op->shown);
    return LINK_FAILED;
  }
  unsigned char* hash = nullptr;
  size_t hash_len = 0;
  char* fp = nullptr;
  if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &hash_len) == 0) {
    fp = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, hash_len);
    ssh_clean_pubkey_hash(&hash);
  }
  std::string fingerprint = fp ? fp : "?";
  if (fp) ssh_string_free_char(fp);
  std::string type = ssh_key_type_to_char(ssh_key_type(key));
  ssh_key_free(key);

  ssh_known_hosts_e state = ssh_session_is_known_server(ses);
  switch (state) {
    case SSH_KNOWN_HOSTS_OK:
      return LINK_OK;
    case SSH_KNOWN_HOSTS_CHANGED:
    case SSH_KNOWN_HOSTS_OTHER: {
      // OTHER: the host is known with keys of another type only.  Taking
      // the new type on trust would let anyone who can choose the type get
      // past the check, so it is refused like a changed key.
      std::string where =
          where_stored(op, known_hosts, state == SSH_KNOWN_HOSTS_CHANGED ? type.c_str() : nullptr);
      std::string warning = "The host key of " + std::string(op->shown) + " has changed.\n" +
                            "Stored key: " + where + "\nPresented now: " + type + " " +
                            fingerprint +
                            "\nSomeone may be listening in.  Nothing was sent; remove that line "
                            "only if the board really changed its key.";
      if (op->o->prompts.warn) op->o->prompts.warn(op->o->prompts.ctx, warning.c_str());
      link_set_error(op->l, "Host key of %s changed (stored in %s)", op->shown, where.c_str());
      return LINK_FAILED;
    }
    case SSH_KNOWN_HOSTS_UNKNOWN:
    case SSH_KNOWN_HOSTS_NOT_FOUND:
      break;
    default:
      link_set_error(op->l, "cannot check the host key of %s: %s", op->shown, ssh_get_error(ses));
      return LINK_FAILED;
  }
  if (!op->o->accept_new_host_key) {
    std::string details = std::string(op->shown) + "\n" + type + " key fingerprint:\n" +
                          fingerprint + "\nIt will be remembered in " + known_hosts;
    const LinkPrompts& p = op->o->prompts;
    if (!p.confirm || p.confirm(p.ctx, "Trust this host key?", details.c_str()) != 1) {
      link_set_error(op->l, "Host key of %s not trusted (%s)", op->shown, fingerprint.c_str());
      return LINK_FAILED;
    }
  }
  if (store_host_key(op, known_hosts) != 0 && op->o->prompts.warn) {
    std::string warning =
        "The host key could not be remembered in " + known_hosts + ": " + strerror(errno);
    op->o->prompts.warn(op->o->prompts.ctx, warning.c_str());
  }
  return LINK_OK;
}

// ------------------------------------------------------------ authentication

struct Auth {
  std::string tried;
  bool password_refused = false;
  bool entry_password_used = false;  // the entry's password went out once
};

void note_tried(Auth* au, const char* method) {
  if (au->tried.find(method) != std::string::npos) return;
  if (!au->tried.empty()) au->tried += ", ";
  au->tried += method;
}

std::string offered_text(int methods) {
  std::string s;
  auto add = [&s](const char* m) { s += s.empty() ? m : std::string(", ") + m; };
  if (methods & SSH_AUTH_METHOD_NONE) add("none");
  if (methods & SSH_AUTH_METHOD_PUBLICKEY) add("publickey");
  if (methods & SSH_AUTH_METHOD_PASSWORD) add("password");
  if (methods & SSH_AUTH_METHOD_INTERACTIVE) add("keyboard-interactive");
  if (methods & SSH_AUTH_METHOD_HOSTBASED) add("hostbased");
  if (methods & SSH_AUTH_METHOD_GSSAPI_MIC) add("gssapi-with-mic");
  return s.empty() ? "nothing" : s;
}

// A secret the user types (a passphrase, a password): 1 when entered.
bool ask_secret(const Open* op, const char* prompt, char* out, size_t cap) {
  const LinkPrompts& p = op->o->prompts;
  out[0] = '\0';
  if (!p.secret) return false;
  int r = p.secret(p.ctx, prompt, out, cap);
  out[cap - 1] = '\0';
  return r == 1;
}

struct PassphraseAsk {
  const Open* op;
  const char* file;
};

// libssh asks for an encrypted key's passphrase through this.
int passphrase_callback(const char*, char* buf, size_t len, int, int, void* userdata) {
  auto* ask = static_cast<PassphraseAsk*>(userdata);
  std::string prompt = std::string("Passphrase for ") + ask->file + ":";
  return ask_secret(ask->op, prompt.c_str(), buf, len) ? 0 : -1;
}

// One identity file: the public half offered first (no passphrase is asked
// for a key the server would not take), then the signature.
int try_identity(Open* op, Auth* au, const std::string& file) {
  if (access(file.c_str(), R_OK) != 0) return SSH_AUTH_DENIED;
  note_tried(au, "publickey");
  ssh_session ses = op->s->session;
  ssh_key pub = nullptr;
  if (ssh_pki_import_pubkey_file((file + ".pub").c_str(), &pub) == SSH_OK) {
    int rc =
        step(op, SSH_AUTH_AGAIN, [&] { return ssh_userauth_try_publickey(ses, nullptr, pub); });
    ssh_key_free(pub);
    if (rc != SSH_AUTH_SUCCESS) return rc;
  }
  ssh_key priv = nullptr;
  PassphraseAsk ask{op, file.c_str()};
  if (ssh_pki_import_privkey_file(file.c_str(), nullptr, passphrase_callback, &ask, &priv) !=
      SSH_OK)
    return SSH_AUTH_DENIED;
  int rc = step(op, SSH_AUTH_AGAIN, [&] { return ssh_userauth_publickey(ses, nullptr, priv); });
  ssh_key_free(priv);
  return rc;
}

int auth_publickey(Open* op, Auth* au) {
  ssh_session ses = op->s->session;
  if (getenv("SSH_AUTH_SOCK")) {
    note_tried(au, "publickey");
    int rc = step(op, SSH_AUTH_AGAIN, [&] { return ssh_userauth_agent(ses, nullptr); });
    if (rc == SSH_AUTH_SUCCESS || rc == SSH_AUTH_PARTIAL || op->outcome != LINK_OK) return rc;
  }
  std::string ssh_dir = home_dir() + "/.ssh/";
  std::string files[4] = {op->o->identity ? op->o->identity : "", ssh_dir + "id_ed25519",
                          ssh_dir + "id_ecdsa", ssh_dir + "id_rsa"};
  for (const std::string& f : files) {
    if (f.empty()) continue;
    int rc = try_identity(op, au, f);
    if (rc == SSH_AUTH_SUCCESS || rc == SSH_AUTH_PARTIAL || rc == SSH_AUTH_ERROR) return rc;
  }
  return SSH_AUTH_DENIED;
}

// The password of the entry, once; then the user is asked.
bool password_for(Open* op, Auth* au, const char* prompt, char* out, size_t cap) {
  if (op->o->password && op->o->password[0] && !au->entry_password_used) {
    au->entry_password_used = true;
    snprintf(out, cap, "%s", op->o->password);
    return true;
  }
  return ask_secret(op, prompt, out, cap);
}

int auth_password(Open* op, Auth* au) {
  char user_prompt[kLinkUserCap + kLinkHostCap + 32];
  char* user = nullptr;
  ssh_options_get(op->s->session, SSH_OPTIONS_USER, &user);
  snprintf(user_prompt, sizeof user_prompt, "Password for %s@%s:", user ? user : "", op->a->host);
  if (user) ssh_string_free_char(user);
  char pw[256];
  if (!password_for(op, au, user_prompt, pw, sizeof pw)) return SSH_AUTH_DENIED;
  note_tried(au, "password");
  int rc =
      step(op, SSH_AUTH_AGAIN, [&] { return ssh_userauth_password(op->s->session, nullptr, pw); });
  explicit_bzero(pw, sizeof pw);
  if (rc == SSH_AUTH_DENIED) au->password_refused = true;
  return rc;
}

int auth_interactive(Open* op, Auth* au) {
  ssh_session ses = op->s->session;
  note_tried(au, "keyboard-interactive");
  bool answered_secret = false;
  int rc = step(op, SSH_AUTH_AGAIN, [&] { return ssh_userauth_kbdint(ses, nullptr, nullptr); });
  while (rc == SSH_AUTH_INFO) {
    int n = ssh_userauth_kbdint_getnprompts(ses);
    for (int i = 0; i < n; i++) {
      char echo = 0;
      const char* prompt = ssh_userauth_kbdint_getprompt(ses, static_cast<unsigned>(i), &echo);
      char answer[256];
      bool have = echo ? ask_secret(op, prompt ? prompt : "Answer:", answer, sizeof answer)
                       : password_for(op, au, prompt ? prompt : "Password:", answer, sizeof answer);
      if (!have) return SSH_AUTH_DENIED;
      if (!echo) answered_secret = true;
      ssh_userauth_kbdint_setanswer(ses, static_cast<unsigned>(i), answer);
      explicit_bzero(answer, sizeof answer);
    }
    rc = step(op, SSH_AUTH_AGAIN, [&] { return ssh_userauth_kbdint(ses, nullptr, nullptr); });
  }
  if (rc == SSH_AUTH_DENIED && answered_secret) au->password_refused = true;
  return rc;
}

int authenticate(Open* op) {
  ssh_session ses = op->s->session;
  Auth au;
  note_tried(&au, "none");
  // Many boards let everyone in and ask for the login on the screen.
  int rc = step(op, SSH_AUTH_AGAIN, [&] { return ssh_userauth_none(ses, nullptr); });
  int offered = 0;
  using Method = int (*)(Open*, Auth*);
  struct {
    int bit;
    Method run;
  } const kOrder[] = {{SSH_AUTH_METHOD_PUBLICKEY, auth_publickey},
                      {SSH_AUTH_METHOD_PASSWORD, auth_password},
                      {SSH_AUTH_METHOD_INTERACTIVE, auth_interactive}};
  for (const auto& m : kOrder) {
    if (rc == SSH_AUTH_SUCCESS || op->outcome != LINK_OK || rc == SSH_AUTH_ERROR) break;
    // What the server offers may change after a partial success.
    offered = ssh_userauth_list(ses, nullptr);
    if (offered & m.bit) rc = m.run(op, &au);
  }
  if (rc == SSH_AUTH_SUCCESS) return LINK_OK;
  if (op->outcome != LINK_OK) {
    link_set_error(op->l,
                   op->outcome == LINK_CANCELLED ? "SSH log-in to %s cancelled"
                                                 : "no SSH log-in to %s in time",
                   op->shown);
    return op->outcome;
  }
  if (rc == SSH_AUTH_ERROR) {
    link_set_error(op->l, "SSH log-in to %s failed: %s", op->shown, ssh_get_error(ses));
    return LINK_FAILED;
  }
  offered = ssh_userauth_list(ses, nullptr);
  link_set_error(op->l, "%s (tried: %s; offered: %s)",
                 au.password_refused ? "Permission denied: wrong password" : "Permission denied",
                 au.tried.c_str(), offered_text(offered).c_str());
  return LINK_FAILED;
}

// ------------------------------------------------------------ the link

int ssh_read(Link* l, uint8_t* buf, int cap) {
  SshImpl* s = impl_of(l);
  if (cap <= 0) return 0;
  for (int is_stderr = 0; is_stderr <= 1; is_stderr++) {
    int n = ssh_channel_read_nonblocking(s->channel, buf, static_cast<uint32_t>(cap), is_stderr);
    if (n > 0) return n;
    if (n == SSH_ERROR) {
      link_set_error(l, "SSH connection lost: %s", ssh_get_error(s->session));
      return -1;
    }
  }
  if (ssh_channel_is_eof(s->channel) || ssh_channel_is_closed(s->channel) ||
      !ssh_is_connected(s->session)) {
    link_set_error(l, "the host closed the connection");
    return -1;
  }
  return 0;
}

int ssh_send(Link* l, const uint8_t* bytes, size_t len, uint32_t stall_ms) {
  SshImpl* s = impl_of(l);
  uint32_t last_progress = link_now_ms();
  for (;;) {
    if (len > 0) {
      uint32_t chunk = len > kWindowChunk ? kWindowChunk : static_cast<uint32_t>(len);
      int n = ssh_channel_write(s->channel, bytes, chunk);
      if (n == SSH_ERROR) {
        link_set_error(l, "SSH connection lost: %s", ssh_get_error(s->session));
        return -1;
      }
      if (n > 0) {
        bytes += n;
        len -= static_cast<size_t>(n);
        last_progress = link_now_ms();
        continue;
      }
    } else if (!(ssh_get_poll_flags(s->session) & SSH_WRITE_PENDING)) {
      return 0;
    }
    // The channel's window is full or libssh still holds bytes the socket
    // did not take: let it read window adjustments and write, within the
    // stall limit counted from the last bytes the channel took (a peer that
    // reads nothing more fails the send instead of holding the thread).
    uint32_t waited = link_now_ms() - last_progress;
    if (waited >= stall_ms) {
      link_set_error(l, "the host took nothing for %u ms", static_cast<unsigned>(stall_ms));
      return -1;
    }
    uint32_t left = stall_ms - waited;
    if (ssh_event_dopoll(s->event, static_cast<int>(left < 20 ? left : 20)) == SSH_ERROR &&
        !ssh_is_connected(s->session)) {
      link_set_error(l, "SSH connection lost: %s", ssh_get_error(s->session));
      return -1;
    }
    if (ssh_channel_is_closed(s->channel)) {
      link_set_error(l, "the host closed the connection");
      return -1;
    }
  }
}

int ssh_pending(Link* l) {
  SshImpl* s = impl_of(l);
  // A closed channel must be read too, although the socket may stay quiet.
  if (ssh_channel_is_eof(s->channel) || ssh_channel_is_closed(s->channel)) return 1;
  for (int is_stderr = 0; is_stderr <= 1; is_stderr++) {
    int n = ssh_channel_poll(s->channel, is_stderr);
    if (n > 0 || n == SSH_ERROR || n == SSH_EOF) return 1;
  }
  return 0;
}

short ssh_wait_events(Link* l) {
  int flags = ssh_get_poll_flags(impl_of(l)->session);
  return static_cast<short>(POLLIN | ((flags & SSH_WRITE_PENDING) ? POLLOUT : 0));
}

void ssh_resize(Link* l, int cols, int rows) {
  ssh_channel_change_pty_size(impl_of(l)->channel, cols, rows);
}

void ssh_close(Link* l) {
  free_impl(impl_of(l), l->fd);
  l->impl = nullptr;
  l->fd = -1;
}

constexpr LinkOps kSshOps = {ssh_read,        ssh_send,   ssh_pending,
                             ssh_wait_events, ssh_resize, ssh_close};

bool set_options(ssh_session ses, int* fd, const LinkAddress* a, const LinkOpenOptions* o,
                 const std::string& known_hosts) {
  int verbosity = SSH_LOG_NOLOG;
  int no = 0;
  unsigned port = static_cast<unsigned>(a->port);
  const char* user = a->user[0] ? a->user : (o->user && o->user[0] ? o->user : nullptr);
  bool ok = ssh_options_set(ses, SSH_OPTIONS_LOG_VERBOSITY, &verbosity) == 0 &&
            // The user's ~/.ssh/config is not applied: the address and the
            // entry say where to go and as whom.
            ssh_options_set(ses, SSH_OPTIONS_PROCESS_CONFIG, &no) == 0 &&
            ssh_options_set(ses, SSH_OPTIONS_HOST, a->host) == 0 &&
            ssh_options_set(ses, SSH_OPTIONS_PORT, &port) == 0 &&
            ssh_options_set(ses, SSH_OPTIONS_KNOWNHOSTS, known_hosts.c_str()) == 0 &&
            ssh_options_set(ses, SSH_OPTIONS_KEY_EXCHANGE, kKeyExchanges) == 0 &&
            ssh_options_set(ses, SSH_OPTIONS_HOSTKEYS, kHostKeys) == 0 &&
            ssh_options_set(ses, SSH_OPTIONS_CIPHERS_C_S, kCiphers) == 0 &&
            ssh_options_set(ses, SSH_OPTIONS_CIPHERS_S_C, kCiphers) == 0 &&
            ssh_options_set(ses, SSH_OPTIONS_HMAC_C_S, kMacs) == 0 &&
            ssh_options_set(ses, SSH_OPTIONS_HMAC_S_C, kMacs) == 0;
  if (ok && user) ok = ssh_options_set(ses, SSH_OPTIONS_USER, user) == 0;
  // Last, so that a failure before leaves the descriptor ours to close.
  if (ok) ok = ssh_options_set(ses, SSH_OPTIONS_FD, fd) == 0;
  return ok;
}

}  // namespace

int link_ssh_open(Link* l, int fd, const LinkAddress* a, const LinkOpenOptions* o,
                  int* budget_turns) {
  if (!l || fd < 0 || !a || !budget_turns) {
    link_fd_close(&fd);
    return LINK_FAILED;
  }
  *l = Link{};
  LinkOpenOptions defaults;
  if (!o) o = &defaults;
  Open op{l, new SshImpl, fd, a, o, budget_turns, {}};
  link_show_address(op.shown, sizeof op.shown, a->host, a->port);
  std::string known_hosts =
      o->known_hosts && o->known_hosts[0] ? o->known_hosts : home_dir() + "/.ssh/known_hosts";

  // Until libssh holds the descriptor, a failure closes it here.
  bool fd_given = false;
  auto fail = [&](int code) {
    if (fd_given) {
      free_impl(op.s, fd);
    } else {
      free_impl(op.s, -1);
      link_fd_close(&fd);
    }
    l->ops = nullptr;
    return code;
  };
  op.s->session = ssh_new();
  if (!op.s->session) {
    link_set_error(l, "SSH unavailable (out of memory)");
    return fail(LINK_FAILED);
  }
  ssh_session ses = op.s->session;
  if (!set_options(ses, &fd, a, o, known_hosts)) {
    link_set_error(l, "SSH options refused: %s", ssh_get_error(ses));
    return fail(LINK_FAILED);
  }
  fd_given = true;
  ssh_set_blocking(ses, 0);

  // Key exchange.
  int rc = step(&op, SSH_AGAIN, [&] { return ssh_connect(ses); });
  if (op.outcome != LINK_OK) {
    link_set_error(l,
                   op.outcome == LINK_CANCELLED ? "SSH connection to %s cancelled"
                                                : "no SSH key exchange with %s in time",
                   op.shown);
    return fail(op.outcome);
  }
  if (rc != SSH_OK) {
    link_set_error(l, "SSH connection to %s failed: %s", op.shown, ssh_get_error(ses));
    return fail(LINK_FAILED);
  }
  // The host key decides before anything of ours is sent.
  int verdict = check_host_key(&op, known_hosts);
  if (verdict != LINK_OK) return fail(verdict);
  verdict = authenticate(&op);
  if (verdict != LINK_OK) return fail(verdict);

  // A session channel with a pseudo-terminal of the grid's size, and a shell.
  op.s->channel = ssh_channel_new(ses);
  ssh_channel ch = op.s->channel;
  const char* term = o->terminal_type && o->terminal_type[0] ? o->terminal_type : "ANSI";
  const char* phase = "channel";
  rc = ch ? step(&op, SSH_AGAIN, [&] { return ssh_channel_open_session(ch); }) : SSH_ERROR;
  if (rc == SSH_OK) {
    phase = "terminal";
    rc = step(&op, SSH_AGAIN,
              [&] { return ssh_channel_request_pty_size(ch, term, o->cols, o->rows); });
  }
  if (rc == SSH_OK) {
    phase = "shell";
    rc = step(&op, SSH_AGAIN, [&] { return ssh_channel_request_shell(ch); });
  }
  if (op.outcome != LINK_OK) {
    link_set_error(l,
                   op.outcome == LINK_CANCELLED ? "SSH session with %s cancelled"
                                                : "no SSH session with %s in time",
                   op.shown);
    return fail(op.outcome);
  }
  if (rc != SSH_OK) {
    link_set_error(l, "%s refused the SSH %s: %s", op.shown, phase, ssh_get_error(ses));
    return fail(LINK_FAILED);
  }
  op.s->event = ssh_event_new();
  if (!op.s->event || ssh_event_add_session(op.s->event, ses) != SSH_OK) {
    link_set_error(l, "SSH unavailable (out of memory)");
    return fail(LINK_FAILED);
  }
  l->ops = &kSshOps;
  l->kind = LINK_SSH;
  l->fd = fd;
  l->impl = op.s;
  return LINK_OK;
}
