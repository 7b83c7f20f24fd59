// The XMODEM host adapter (see xmodem_kavel.h).
#include "transfer/xmodem_kavel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/dos.h"
#include "terminal/terminal.h"
#include "transfer/transfer_files.h"
#include "util/text.h"

namespace {

constexpr uint32_t kProgressRedrawMs = 199;
constexpr size_t kStemCap = 128;  // at most 127 characters
constexpr size_t kExtCap = 32;    // at most 31 characters

XmodemHostContext* ctx_of(void* c) {
  return static_cast<XmodemHostContext*>(c);
}

// --- the engine's callbacks -------------------------------------------------------

int xm_cb_write_bytes(void* c, const uint8_t* bytes, size_t count) {
  XmodemHostContext* ctx = ctx_of(c);
  if (!ctx || !ctx->send_fn) return -1;
  return ctx->send_fn(ctx->host, bytes, count);
}

int xm_cb_file_read(void* c, uint8_t* buf, size_t count) {
  XmodemHostContext* ctx = ctx_of(c);
  if (!ctx || !ctx->file || !buf || count == 0) return 0;
  size_t n = fread(buf, 1, count, ctx->file);
  if (n == 0 && ferror(ctx->file)) return -1;
  return static_cast<int>(n);
}

// The reason a file operation failed, for the failure the engine reports
// next (xm_cb_status shows it instead of the engine's general text).
void note_failure(XmodemHostContext* ctx, int err) {
  if (!ctx->failure[0])
    snprintf(ctx->failure, sizeof ctx->failure, "Write failed: %s", strerror(err ? err : EIO));
}

int xm_cb_file_write(void* c, const uint8_t* data, size_t count) {
  XmodemHostContext* ctx = ctx_of(c);
  if (!ctx || !ctx->file || !data) return -1;
  errno = 0;
  if (fwrite(data, 1, count, ctx->file) == count) return 0;
  note_failure(ctx, errno);
  return -1;
}

// The engine closes a received file before it acknowledges the end: the
// bytes still in the stream's buffer must reach the disk for that.
int xm_cb_file_close(void* c) {
  XmodemHostContext* ctx = ctx_of(c);
  if (!ctx || !ctx->file) return 0;
  bool writing = ctx->mode == 1;
  errno = 0;
  bool failed = writing && (fflush(ctx->file) != 0 || ferror(ctx->file));
  int err = errno;
  if (fclose(ctx->file) != 0 && writing && !failed) {
    failed = true;
    err = errno;
  }
  ctx->file = nullptr;
  if (!failed) return 0;
  note_failure(ctx, err);
  return -1;
}

uint32_t xm_cb_file_size(void* c) {
  XmodemHostContext* ctx = ctx_of(c);
  return ctx ? ctx->total : 0;
}

uint32_t xm_cb_now_ms(void* c) {
  XmodemHostContext* ctx = ctx_of(c);
  return ctx && ctx->now_fn ? ctx->now_fn(ctx->host) : 0;
}

void xm_cb_status(void* c, int kind, const char* text, uint32_t bytes, uint32_t total,
                  uint32_t block, uint32_t retries, uint32_t crc, const char* file_name) {
  XmodemHostContext* ctx = ctx_of(c);
  if (!ctx) return;
  // A failure of our own file says what went wrong with it.
  if (kind == XM_REPORT_FAILED && ctx->failure[0]) text = ctx->failure;
  safe_copy(ctx->status_text, sizeof ctx->status_text, text);
  if (file_name && file_name[0]) safe_copy(ctx->file_name, sizeof ctx->file_name, file_name);
  ctx->bytes = bytes;
  if (total != 0) ctx->total = total;
  ctx->block = block;
  ctx->retries = retries;
  ctx->crc = crc;
  ctx->last_kind = kind;
  if (bytes > 0 && ctx->start_ms == 0) {
    ctx->start_ms = ctx->now_fn ? ctx->now_fn(ctx->host) : 0;
  } else if (bytes == 0) {
    ctx->start_ms = 0;
  }
  if (ctx->draw_fn) ctx->draw_fn(ctx->host);
}

// --- names and paths ----------------------------------------------------------------

// The directory in use: the preference trimmed, the default when empty,
// "PROGDIR:" resolved.  The default directory and this one are created when
// missing (failures show when the file is opened).
std::string directory_in_use(const char* preferred, const char* fallback) {
  char dir[kXmPathCap];
  safe_copy(dir, sizeof dir, preferred);
  trim(dir);
  if (!dir[0]) safe_copy(dir, sizeof dir, fallback);
  if (fallback && fallback[0]) dos_create_dir(fallback);
  if (dir[0]) dos_create_dir(dir);
  return dos_expand_path(dir);
}

// file_path from the directory and file_name; -1 when it does not fit (a cut
// path could name another file).
int build_path(XmodemHostContext* ctx, const std::string& dir) {
  return transfer_join_path(ctx->file_path, sizeof ctx->file_path, dir.c_str(), ctx->file_name);
}

int open_for_writing(XmodemHostContext* ctx, int overwrite) {
  ctx->file =
      transfer_create_file(ctx->file_path, overwrite, ctx->file_buffer, sizeof ctx->file_buffer);
  if (!ctx->file) return -1;
  ctx->mode = 1;
  return 0;
}

// What the file-exists answer makes of a download whose name is taken:
// xmodem_kavel_open_receive's results.
int open_answered(XmodemHostContext* ctx, int answer) {
  std::string dir = directory_in_use(ctx->download_dir, ctx->default_download_dir);
  switch (answer) {
    case XM_EXISTS_OVERWRITE:
      return open_for_writing(ctx, 1);
    case XM_EXISTS_RENAME:
      if (xm_rename_free(ctx->file_name, sizeof ctx->file_name, dir.c_str()) != 0) return -2;
      if (build_path(ctx, dir) != 0) return -2;
      return open_for_writing(ctx, 0);
    default:
      return -2;
  }
}

}  // namespace

void xm_sanitize_name(char* dest, size_t cap, const char* src) {
  if (!dest || cap == 0) return;
  if (!src || !src[0]) src = kXmDefaultName;
  size_t n = 0;
  for (const char* p = src; *p && n + 1 < cap; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == '/' || c == '\\' || c == ':') c = '_';
    dest[n++] = static_cast<char>(c);
  }
  dest[n] = '\0';
  if (strcmp(dest, ".") == 0 || strcmp(dest, "..") == 0) safe_copy(dest, cap, kXmDefaultName);
}

int xm_rename_free(char* name, size_t cap, const char* dir) {
  if (!name || cap == 0) return -1;
  char stem[kStemCap];
  char ext[kExtCap] = "";
  const char* dot = strrchr(name, '.');
  if (!dot || dot == name) {
    safe_copy(stem, sizeof stem, name[0] ? name : "xmodem");
  } else {
    size_t sl = static_cast<size_t>(dot - name);
    if (sl >= sizeof stem) sl = sizeof stem - 1;
    memcpy(stem, name, sl);
    stem[sl] = '\0';
    safe_copy(ext, sizeof ext, dot);
  }
  for (int number = 1; number <= 999; ++number) {
    char candidate[kStemCap + kExtCap + 8];
    snprintf(candidate, sizeof candidate, "%s-%03d%s", stem, number, ext);
    // A candidate cut to fit the name field would be another name than the
    // one tested: it counts as taken.
    if (strlen(candidate) + 1 > cap) continue;
    char path[kXmPathCap];
    if (transfer_join_path(path, sizeof path, dir, candidate) != 0) continue;
    if (!transfer_path_exists(path)) {
      safe_copy(name, cap, candidate);
      return 0;
    }
  }
  return -1;
}

void xmodem_kavel_init(XmodemHostContext* ctx, const char* download_dir, const char* upload_dir,
                       const char* default_download_dir, const char* default_upload_dir, void* host,
                       int (*send_fn)(void*, const uint8_t*, size_t),
                       int (*prompt_fn)(void*, const char*), void (*draw_fn)(void*),
                       uint32_t (*now_fn)(void*)) {
  if (!ctx) return;
  *ctx = XmodemHostContext{};
  ctx->download_dir = download_dir;
  ctx->upload_dir = upload_dir;
  ctx->default_download_dir = default_download_dir;
  ctx->default_upload_dir = default_upload_dir;
  ctx->host = host;
  ctx->send_fn = send_fn;
  ctx->prompt_fn = prompt_fn;
  ctx->draw_fn = draw_fn;
  ctx->now_fn = now_fn;
}

int xmodem_kavel_open_receive(XmodemHostContext* ctx, const char* name) {
  if (!ctx) return -1;
  xmodem_kavel_close(ctx);
  ctx->failure[0] = '\0';
  ctx->asking = 0;
  std::string dir = directory_in_use(ctx->download_dir, ctx->default_download_dir);
  xm_sanitize_name(ctx->file_name, sizeof ctx->file_name, name);
  if (build_path(ctx, dir) != 0) return -1;
  if (!transfer_path_exists(ctx->file_path)) return open_for_writing(ctx, 0);
  if (!ctx->prompt_fn) return -2;
  int answer = ctx->prompt_fn(ctx->host, ctx->file_name);
  if (answer == kTransferExistsAsked) {
    ctx->asking = 1;
    return kXmOpenAsked;
  }
  return open_answered(ctx, answer);
}

int xmodem_kavel_answer_exists(XmodemHostContext* ctx, int answer) {
  if (!ctx || !ctx->asking) return -2;
  ctx->asking = 0;
  return open_answered(ctx, answer);
}

int xmodem_kavel_open_send(XmodemHostContext* ctx, const char* name, uint32_t* size_out) {
  if (!ctx || !name || !name[0]) return -1;
  xmodem_kavel_close(ctx);
  ctx->failure[0] = '\0';
  std::string dir = directory_in_use(ctx->upload_dir, ctx->default_upload_dir);
  xm_sanitize_name(ctx->file_name, sizeof ctx->file_name, name);
  if (build_path(ctx, dir) != 0) return -1;
  // Non-blocking open: a FIFO of that name must not stall the session; it
  // is refused below with everything else that is not a regular file.
  int fd = open(ctx->file_path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  ctx->file = fdopen(fd, "rb");
  if (!ctx->file) {
    close(fd);
    return -1;
  }
  // XMODEM sends until the file ends; the size only shapes the last blocks
  // and the progress figures.  One beyond 32 bits counts as unknown.
  uint64_t size = static_cast<uint64_t>(st.st_size);
  ctx->total = size > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(size);
  if (size_out) *size_out = ctx->total;
  ctx->mode = 2;
  return 0;
}

void xmodem_kavel_close(XmodemHostContext* ctx) {
  if (!ctx || !ctx->file) return;
  fclose(ctx->file);
  ctx->file = nullptr;
}

void xmodem_kavel_callbacks(XmodemHostContext* ctx, XmodemCallbacks* out) {
  if (!out) return;
  *out = XmodemCallbacks{};
  out->context = ctx;
  out->write = xm_cb_write_bytes;
  out->read = xm_cb_file_read;
  out->store = xm_cb_file_write;
  out->close = xm_cb_file_close;
  out->size = xm_cb_file_size;
  out->now = xm_cb_now_ms;
  out->status = xm_cb_status;
}

void xmodem_kavel_reset_status(XmodemHostContext* ctx) {
  if (!ctx) return;
  ctx->status.drawn = 0;
  ctx->status.last_draw_ms = 0;
  ctx->status.bytes = 0;
  ctx->status.errors = 0;
  ctx->status.text[0] = '\0';
  ctx->start_ms = 0;
}

int xmodem_summary(const XmodemState* engine, const XmodemHostContext* ctx, char* out, size_t cap,
                   std::string* dir) {
  if (dir) dir->clear();
  if (!engine || !ctx || engine->active || ctx->last_kind != XM_REPORT_COMPLETE) return 0;
  char size[32];
  const char* name = ctx->file_name[0] ? ctx->file_name : kXmDefaultName;
  if (engine->mode == 2) {
    transfer_format_size(size, sizeof size, ctx->total ? ctx->total : ctx->bytes);
    snprintf(out, cap, "Sent %s (%s)", name, size);
    return 1;
  }
  transfer_format_size(size, sizeof size, ctx->bytes);
  snprintf(out, cap, "Saved %s (%s)", name, size);
  const char* slash = strrchr(ctx->file_path, '/');
  if (dir && slash)
    dir->assign(ctx->file_path, slash == ctx->file_path ? 1 : slash - ctx->file_path);
  return 1;
}

void xmodem_draw_status(Terminal* t, const XmodemState* engine, XmodemHostContext* ctx) {
  if (!engine || !ctx || !term_can_draw(t)) return;
  TransferBoxCache* cache = &ctx->status;
  uint32_t now = ctx->now_fn ? ctx->now_fn(ctx->host) : 0;
  // Every block brings two progress reports with new texts: drawn each
  // time, the box would cost more than the line on a fast connection.
  bool active = engine->active != 0;
  if (active && cache->drawn && ctx->last_kind == XM_REPORT_PROGRESS &&
      static_cast<int32_t>(ctx->retries) == cache->errors &&
      now - cache->last_draw_ms <= kProgressRedrawMs)
    return;
  bool full = !cache->drawn;

  bool sending = engine->mode == 2;
  uint32_t total = sending ? ctx->total : 0;
  char file_line[kXmNameCap + 8], bytes_line[48], crc_line[24], error_line[112], speed[40];
  snprintf(file_line, sizeof file_line, "File: %s",
           ctx->file_name[0] ? ctx->file_name : kXmDefaultName);
  if (total > 0) {
    snprintf(bytes_line, sizeof bytes_line, "Bytes: %lu/%lu",
             static_cast<unsigned long>(ctx->bytes), static_cast<unsigned long>(total));
  } else {
    snprintf(bytes_line, sizeof bytes_line, "Bytes: %lu", static_cast<unsigned long>(ctx->bytes));
  }
  snprintf(crc_line, sizeof crc_line, "CRC: %s", ctx->crc ? "CRC-16" : "Checksum");
  bool failed = !active && ctx->last_kind == XM_REPORT_FAILED;
  if (failed) {
    safe_copy(error_line, sizeof error_line, ctx->status_text);
  } else {
    snprintf(error_line, sizeof error_line, "CRC mismatch: %lu",
             static_cast<unsigned long>(ctx->retries));
  }
  transfer_format_speed(speed, sizeof speed, ctx->start_ms, ctx->bytes, now);

  TransferBoxContent content{};
  content.title = sending ? "XModem - Sending" : "XModem - Receiving";
  content.direction = engine->mode;
  content.lines[0] = file_line;
  content.lines[1] = bytes_line;
  content.lines[2] = crc_line;
  char summary[kXmNameCap + 48];
  std::string dir;
  if (xmodem_summary(engine, ctx, summary, sizeof summary, &dir)) {
    content.summary = summary;
    content.summary_dir = dir.empty() ? nullptr : dir.c_str();
  } else {
    content.lines[3] = error_line;
    content.warning_line = failed ? 3 : -1;
  }
  content.speed = speed;
  content.bytes = ctx->bytes;
  content.total = total;
  content.moving_segment = 1;
  content.no_total_percent = "----";
  transfer_box_draw(t, cache, &content, full);

  cache->last_draw_ms = now;
  cache->bytes = ctx->bytes;
  cache->errors = static_cast<int32_t>(ctx->retries);
  safe_copy(cache->text, sizeof cache->text, ctx->status_text);
}
