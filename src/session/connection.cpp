#include "session/connection.h"

#include <sys/socket.h>

#include <cerrno>

#include "platform/dos.h"

int send_all(int sock, const void* buf, size_t len) {
  if (len == 0) return 0;
  const char* p = static_cast<const char*>(buf);
  int wouldblock_retries = 0;
  while (len > 0) {
    ssize_t n = send(sock, p, len, MSG_NOSIGNAL);
    if (n > 0) {
      p += n;
      len -= static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return -1;
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK || errno == EAGAIN) {
      // A peer that stops reading must not hold the single thread for long:
      // the budget is per call and is not reset by partial progress.
      if (wouldblock_retries >= 50) return -1;
      wouldblock_retries++;
      dos_delay(1);
      continue;
    }
    return -1;
  }
  return 0;
}
