// TCP: name resolution, the non-blocking connect, sending and closing.
#pragma once
#include <cstddef>

// Sends every byte of buf; 0 when all went out, -1 on failure.  EINTR retries
// at once; EWOULDBLOCK pauses one tick and retries, at most 50 times per call.
int send_all(int sock, const void* buf, size_t len);
