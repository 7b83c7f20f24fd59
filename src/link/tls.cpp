// Telnet over TLS: OpenSSL on our own non-blocking socket.  TLS 1.2 or 1.3,
// the server's name sent (SNI) and checked against its certificate, the
// chain verified against the system's trust store (SSL_CERT_FILE and
// SSL_CERT_DIR honoured).  BBS certificates are often self-signed, so a
// certificate that cannot be verified is shown to the user, who may pin it;
// a pinned host that presents another certificate is refused.
//
// The handshake runs without verification callbacks and the decision is made
// after it, before a single byte of data goes out.
#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "link/internal.h"
#include "link/trust.h"

namespace {

struct TlsImpl {
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;
  bool want_write = false;  // the last operation waits to write
};

TlsImpl* impl_of(Link* l) {
  return static_cast<TlsImpl*>(l->impl);
}

void free_impl(TlsImpl* t) {
  if (!t) return;
  // No close_notify: a hard close sends nothing more.
  if (t->ssl) SSL_free(t->ssl);
  if (t->ctx) SSL_CTX_free(t->ctx);
  delete t;
}

// OpenSSL's reason for the last failure, or errno's.
std::string tls_reason() {
  unsigned long e = ERR_get_error();
  ERR_clear_error();
  if (e != 0) {
    const char* r = ERR_reason_error_string(e);
    if (r) return r;
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    return buf;
  }
  return errno ? strerror(errno) : "connection closed";
}

int tls_read(Link* l, uint8_t* buf, int cap) {
  TlsImpl* t = impl_of(l);
  if (cap <= 0) return 0;
  ERR_clear_error();
  int n = SSL_read(t->ssl, buf, cap);
  t->want_write = false;
  if (n > 0) return n;
  switch (SSL_get_error(t->ssl, n)) {
    case SSL_ERROR_WANT_READ:
      return 0;
    case SSL_ERROR_WANT_WRITE:
      t->want_write = true;
      return 0;
    case SSL_ERROR_ZERO_RETURN:
      link_set_error(l, "the host closed the connection");
      return -1;
    case SSL_ERROR_SYSCALL:
      if (errno == EINTR || errno == EAGAIN) return 0;
      if (errno == 0) {
        link_set_error(l, "the host closed the connection");
        return -1;
      }
      [[fallthrough]];
    default:
      link_set_error(l, "TLS connection lost: %s", tls_reason().c_str());
      return -1;
  }
}

int tls_send(Link* l, const uint8_t* bytes, size_t len, uint32_t stall_ms) {
  TlsImpl* t = impl_of(l);
  uint32_t last_progress = link_now_ms();
  while (len > 0) {
    ERR_clear_error();
    int chunk = len > 65536 ? 65536 : static_cast<int>(len);
    int n = SSL_write(t->ssl, bytes, chunk);
    if (n > 0) {
      bytes += n;
      len -= static_cast<size_t>(n);
      last_progress = link_now_ms();
      continue;
    }
    short events;
    switch (SSL_get_error(t->ssl, n)) {
      case SSL_ERROR_WANT_WRITE:
        events = POLLOUT;
        break;
      case SSL_ERROR_WANT_READ:
        events = POLLIN;
        break;
      case SSL_ERROR_SYSCALL:
        if (errno == EINTR) continue;
        [[fallthrough]];
      default:
        link_set_error(l, "TLS connection lost: %s", tls_reason().c_str());
        return -1;
    }
    uint32_t waited = link_now_ms() - last_progress;
    if (waited >= stall_ms) {
      link_set_error(l, "the host took nothing for %u ms", static_cast<unsigned>(stall_ms));
      return -1;
    }
    link_fd_wait(l->fd, events, static_cast<int>(stall_ms - waited));
  }
  return 0;
}

int tls_pending(Link* l) {
  return SSL_pending(impl_of(l)->ssl) > 0 ? 1 : 0;
}

short tls_wait_events(Link* l) {
  return static_cast<short>(POLLIN | (impl_of(l)->want_write ? POLLOUT : 0));
}

void tls_close(Link* l) {
  free_impl(impl_of(l));
  l->impl = nullptr;
  link_fd_close(&l->fd);
}

constexpr LinkOps kTlsOps = {tls_read, tls_send, tls_pending, tls_wait_events, nullptr, tls_close};

bool is_ip_literal(const char* host) {
  in6_addr a6;
  in_addr a4;
  return inet_pton(AF_INET6, host, &a6) == 1 || inet_pton(AF_INET, host, &a4) == 1;
}

std::string read_file(const char* path) {
  std::string text;
  FILE* f = path ? fopen(path, "rb") : nullptr;
  if (!f) return text;
  char buf[4096];
  size_t n;
  // A pin file is a few lines; a huge one is not read past 1 MB.
  while ((n = fread(buf, 1, sizeof buf, f)) > 0 && text.size() < (1u << 20)) text.append(buf, n);
  fclose(f);
  return text;
}

// Appends one pin line, creating the file owner-only.
int store_pin(const char* path, const char* host, int port, const char* fp) {
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return -1;
  char line[kLinkHostCap + kTlsFingerprintCap + 32];
  int len = snprintf(line, sizeof line, "%s %d %s\n", host, port, fp);
  bool ok = len > 0 && static_cast<size_t>(len) < sizeof line &&
            write(fd, line, static_cast<size_t>(len)) == len;
  if (close(fd) != 0) ok = false;
  return ok ? 0 : -1;
}

std::string subject_of(X509* cert) {
  char buf[512] = "";
  BIO* bio = BIO_new(BIO_s_mem());
  if (bio) {
    X509_NAME_print_ex(bio, X509_get_subject_name(cert), 0, XN_FLAG_RFC2253);
    int n = BIO_read(bio, buf, sizeof buf - 1);
    buf[n > 0 ? n : 0] = '\0';
    BIO_free(bio);
  }
  return buf;
}

void fingerprint_of(X509* cert, char* out, size_t cap) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned len = 0;
  out[0] = '\0';
  if (!X509_digest(cert, EVP_sha256(), md, &len)) return;
  size_t n = 0;
  for (unsigned i = 0; i < len && n + 4 <= cap; i++) {
    n += static_cast<size_t>(snprintf(out + n, cap - n, i ? ":%02X" : "%02X", md[i]));
  }
}

// The certificate decision: LINK_OK to go on, else a failure with the
// error set.
int check_certificate(Link* l, SSL* ssl, const LinkAddress* a, const LinkOpenOptions* o,
                      const char* shown) {
  X509* cert = SSL_get1_peer_certificate(ssl);
  if (!cert) {
    link_set_error(l, "%s sent no certificate", shown);
    return LINK_FAILED;
  }
  char fp[kTlsFingerprintCap];
  fingerprint_of(cert, fp, sizeof fp);
  std::string subject = subject_of(cert);
  X509_free(cert);
  long verdict = SSL_get_verify_result(ssl);

  if (o->certificate_pins) {
    std::string pins = read_file(o->certificate_pins);
    char pinned[kTlsFingerprintCap + 8];
    int line = tls_pin_find(pins, a->host, a->port, pinned, sizeof pinned);
    if (line > 0) {
      if (strcasecmp(pinned, fp) == 0) return LINK_OK;
      char warning[1024];
      snprintf(warning, sizeof warning,
               "The certificate of %s has changed.\n"
               "Trusted before: %s (%s, line %d)\n"
               "Presented now: %s\n"
               "Subject: %s\n"
               "Someone may be listening in.  Nothing was sent; remove that line only if the "
               "board really changed its certificate.",
               shown, pinned, o->certificate_pins, line, fp, subject.c_str());
      if (o->prompts.warn) o->prompts.warn(o->prompts.ctx, warning);
      link_set_error(l, "Certificate of %s changed (pinned in %s line %d)", shown,
                     o->certificate_pins, line);
      return LINK_FAILED;
    }
  }
  if (verdict == X509_V_OK) return LINK_OK;

  const char* reason = X509_verify_cert_error_string(verdict);
  char details[1024];
  snprintf(details, sizeof details, "%s\nSHA-256 fingerprint: %s\nSubject: %s\nReason: %s", shown,
           fp, subject.c_str(), reason);
  bool yes = o->prompts.confirm &&
             o->prompts.confirm(o->prompts.ctx, "Trust this certificate?", details) == 1;
  if (!yes) {
    link_set_error(l, "Certificate of %s not trusted: %s", shown, reason);
    return LINK_FAILED;
  }
  if (o->certificate_pins && store_pin(o->certificate_pins, a->host, a->port, fp) != 0) {
    char warning[512];
    snprintf(warning, sizeof warning, "The certificate could not be remembered in %s: %s",
             o->certificate_pins, strerror(errno));
    if (o->prompts.warn) o->prompts.warn(o->prompts.ctx, warning);
  }
  return LINK_OK;
}

}  // namespace

int link_tls_open(Link* l, int fd, const LinkAddress* a, const LinkOpenOptions* o,
                  int* budget_turns) {
  if (!l || fd < 0 || !a || !budget_turns) {
    link_fd_close(&fd);
    return LINK_FAILED;
  }
  *l = Link{};
  LinkOpenOptions defaults;
  if (!o) o = &defaults;
  char shown[kLinkHostCap + 16];
  link_show_address(shown, sizeof shown, a->host, a->port);

  auto* t = new TlsImpl;
  auto fail = [&](int code) {
    free_impl(t);
    link_fd_close(&fd);
    return code;
  };
  ERR_clear_error();
  t->ctx = SSL_CTX_new(TLS_client_method());
  if (!t->ctx) {
    link_set_error(l, "TLS unavailable: %s", tls_reason().c_str());
    return fail(LINK_FAILED);
  }
  SSL_CTX_set_min_proto_version(t->ctx, TLS1_2_VERSION);
#ifdef SSL_OP_IGNORE_UNEXPECTED_EOF
  // Boards often hang up without a TLS close; for a terminal that is the
  // end of the call like any other, not an error.
  SSL_CTX_set_options(t->ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
#endif
  // The system's trust store; OpenSSL reads SSL_CERT_FILE and SSL_CERT_DIR
  // here, so a test CA can stand in for it.
  SSL_CTX_set_default_verify_paths(t->ctx);
  t->ssl = SSL_new(t->ctx);
  if (!t->ssl || SSL_set_fd(t->ssl, fd) != 1) {
    link_set_error(l, "TLS unavailable: %s", tls_reason().c_str());
    return fail(LINK_FAILED);
  }
  SSL_set_mode(t->ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  SSL_set_verify(t->ssl, SSL_VERIFY_NONE, nullptr);
  if (is_ip_literal(a->host)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(t->ssl), a->host);
  } else {
    SSL_set_tlsext_host_name(t->ssl, a->host);
    SSL_set1_host(t->ssl, a->host);
  }

  for (;;) {
    ERR_clear_error();
    errno = 0;
    int r = SSL_connect(t->ssl);
    if (r == 1) break;
    short events;
    int e = SSL_get_error(t->ssl, r);
    if (e == SSL_ERROR_WANT_READ) {
      events = POLLIN;
    } else if (e == SSL_ERROR_WANT_WRITE) {
      events = POLLOUT;
    } else {
      link_set_error(l, "TLS handshake with %s failed: %s", shown, tls_reason().c_str());
      return fail(LINK_FAILED);
    }
    int turn = link_open_turn(o, fd, events, budget_turns);
    if (turn != LINK_OK) {
      link_set_error(l,
                     turn == LINK_CANCELLED ? "TLS handshake with %s cancelled"
                                            : "no TLS handshake with %s in time",
                     shown);
      return fail(turn);
    }
  }
  int verdict = check_certificate(l, t->ssl, a, o, shown);
  if (verdict != LINK_OK) return fail(verdict);
  l->ops = &kTlsOps;
  l->kind = LINK_TELNETS;
  l->fd = fd;
  l->impl = t;
  return LINK_OK;
}
