// The YMODEM host adapter (see ymodem_kavel.h).
#include "transfer/ymodem_kavel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "terminal/terminal.h"
#include "util/text.h"

namespace {

constexpr uint32_t kProgressRedrawMs = 199;
// YMODEM's sizes are decimal text, but the engine's block reading counts
// in 32 bits: larger files are refused rather than sent with a wrong size.
constexpr uint64_t kLargestFile = 0xFFFFFFFFu;

YmodemHostContext* ym(void* c) {
  return static_cast<YmodemHostContext*>(c);
}

uint32_t host_now(const YmodemHostContext* ctx) {
  return ctx->fns.now ? ctx->fns.now(ctx->fns.host) : 0;
}

// Our side failed: the reason replaces the engine's general text.  The
// first reason stays (a close after a failed write says nothing new).
void fail_because(YmodemHostContext* ctx, const char* what, const char* detail) {
  if (!ctx->failure[0]) snprintf(ctx->failure, sizeof ctx->failure, "%.40s%.55s", what, detail);
}

void fail_errno(YmodemHostContext* ctx, int err) {
  char why[64];
  snprintf(why, sizeof why, ": %s", strerror(err ? err : EIO));
  fail_because(ctx, "Write failed", why);
}

// The current file is done with: its bytes join the batch's.
void next_file_begins(YmodemHostContext* ctx) {
  ctx->batch_before += ctx->file_bytes;
  ctx->file_bytes = ctx->file_total = 0;
  ctx->file_has_mtime = 0;
  ctx->file_number++;
}

// --- the engine's callbacks ------------------------------------------------------

int cb_write(void* c, const uint8_t* bytes, size_t count) {
  const YmodemHostContext* ctx = ym(c);
  return ctx->fns.send ? ctx->fns.send(ctx->fns.host, bytes, count) : -1;
}

int cb_read(void* c, uint8_t* buf, size_t count) {
  FILE* f = ym(c)->file;
  if (!f) return 0;
  size_t got = fread(buf, 1, count, f);
  return got == 0 && ferror(f) ? -1 : static_cast<int>(got);
}

int cb_store(void* c, const uint8_t* data, size_t count) {
  YmodemHostContext* ctx = ym(c);
  if (!ctx->file) return -1;
  errno = 0;
  if (fwrite(data, 1, count, ctx->file) == count) return 0;
  fail_errno(ctx, errno);
  return -1;
}

// A received file is whole on disk, with its date, before the engine
// acknowledges its end: everything buffered is written first, and a
// failure to write it fails the transfer.
int cb_close(void* c) {
  YmodemHostContext* ctx = ym(c);
  FILE* f = ctx->file;
  if (!f) return 0;
  ctx->file = nullptr;
  if (ctx->direction != 1) {
    fclose(f);
    return 0;
  }
  errno = 0;
  bool ok = fflush(f) == 0 && !ferror(f);
  int err = errno;
  if (ok && ctx->file_has_mtime) {
    struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(ctx->file_mtime), 0}};
    futimens(fileno(f), times);  // a date that cannot be set loses no data
  }
  if (fclose(f) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok) return 0;
  fail_errno(ctx, err);
  return -1;
}

uint32_t cb_size(void* c) {
  return static_cast<uint32_t>(std::min<uint64_t>(ym(c)->file_total, kLargestFile));
}

uint32_t cb_now(void* c) {
  return host_now(ym(c));
}

void cb_status(void* c, int kind, const char* text, uint32_t bytes, uint32_t, uint32_t,
               uint32_t retries, uint32_t crc, const char*) {
  YmodemHostContext* ctx = ym(c);
  if (kind == XM_REPORT_FAILED && ctx->failure[0]) text = ctx->failure;
  safe_copy(ctx->status_text, sizeof ctx->status_text, text);
  ctx->last_kind = kind;
  ctx->file_bytes = bytes;
  ctx->retries = retries;
  ctx->crc = crc;
  if (ctx->start_ms == 0 && ymodem_kavel_batch_bytes(ctx) > 0) ctx->start_ms = host_now(ctx);
  if (ctx->fns.draw) ctx->fns.draw(ctx->fns.host);
}

// --- receiving -------------------------------------------------------------------------

void note_batch_figures(YmodemHostContext* ctx, const YmodemFileInfo* info) {
  // The sender's counts include this file.
  if (info->has_files_left) {
    int64_t n = static_cast<int64_t>(ctx->file_number) - 1 + info->files_left;
    ctx->files_total = static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX));
  }
  if (info->has_bytes_left) ctx->batch_total = ctx->batch_before + info->bytes_left;
  ctx->file_total = info->has_size ? info->size : 0;
  ctx->file_has_mtime = info->has_mtime;
  ctx->file_mtime = info->mtime;
}

// The received file, created (overwrite: over the one there): begin_file's
// 0, or -1 when it cannot be.
int create_file(YmodemHostContext* ctx, int overwrite) {
  ctx->file = transfer_create_file(ctx->file_path, overwrite, ctx->file_buffer,
                                   sizeof ctx->file_buffer);
  if (!ctx->file) {
    fail_because(ctx, "Could not open ", ctx->file_name);
    return -1;
  }
  return 0;
}

// What the file-exists answer makes of a file whose name is taken:
// begin_file's result.
int begin_answered(YmodemHostContext* ctx, int answer) {
  if (answer == YM_EXISTS_SKIP) {
    ctx->files_skipped++;
    return 1;
  }
  int overwrite = answer == YM_EXISTS_OVERWRITE;
  if (!overwrite && (transfer_rename_free(ctx->file_name, sizeof ctx->file_name, ctx->dir) != 0 ||
                     transfer_join_path(ctx->file_path, sizeof ctx->file_path, ctx->dir,
                                        ctx->file_name) != 0)) {
    fail_because(ctx, "Could not rename incoming file", "");
    return -1;
  }
  return create_file(ctx, overwrite);
}

int begin_file(void* c, const YmodemFileInfo* info) {
  YmodemHostContext* ctx = ym(c);
  next_file_begins(ctx);
  note_batch_figures(ctx, info);
  transfer_sanitize_name(ctx->file_name, sizeof ctx->file_name, info->name);
  if (transfer_join_path(ctx->file_path, sizeof ctx->file_path, ctx->dir, ctx->file_name) != 0) {
    fail_because(ctx, "Could not open ", ctx->file_name);
    return -1;
  }
  if (!transfer_path_exists(ctx->file_path)) return create_file(ctx, 0);
  int answer =
      ctx->fns.file_exists ? ctx->fns.file_exists(ctx->fns.host, ctx->file_name) : YM_EXISTS_RENAME;
  // Asked: the engine waits for ymodem_kavel_answer_exists.
  if (answer == kTransferExistsAsked) return 2;
  return begin_answered(ctx, answer);
}

// --- sending ---------------------------------------------------------------------------

// Opens a file to send: a regular file (a FIFO of that name must not stall
// the host, hence the non-blocking open) small enough for the engine.
// Null with *why set otherwise.
FILE* open_upload(const char* path, struct stat* st, const char** why) {
  *why = "Upload file not found: ";
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  if (fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
    close(fd);
    return nullptr;
  }
  if (static_cast<uint64_t>(st->st_size) > kLargestFile) {
    *why = "File too large for YMODEM: ";
    close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* f = fdopen(fd, "rb");
  if (!f) close(fd);
  return f;
}

// The name a file is announced under: its last path component, made safe
// as a received name would be.
void upload_name(char* out, size_t cap, const std::string& path) {
  size_t slash = path.find_last_of('/');
  transfer_sanitize_name(out, cap, path.c_str() + (slash == std::string::npos ? 0 : slash + 1));
}

int next_file(void* c, YmodemFileInfo* info) {
  YmodemHostContext* ctx = ym(c);
  if (ctx->next_path >= ctx->paths.size()) return 0;
  next_file_begins(ctx);
  const std::string& path = ctx->paths[ctx->next_path++];
  safe_copy(ctx->file_path, sizeof ctx->file_path, path.c_str());
  upload_name(ctx->file_name, sizeof ctx->file_name, path);
  struct stat st;
  const char* why = nullptr;
  ctx->file = open_upload(path.c_str(), &st, &why);
  if (!ctx->file) {
    fail_because(ctx, why, ctx->file_name);
    return -1;
  }
  setvbuf(ctx->file, ctx->file_buffer, _IOFBF, sizeof ctx->file_buffer);
  ctx->file_total = static_cast<uint64_t>(st.st_size);
  safe_copy(info->name, sizeof info->name, ctx->file_name);
  info->size = ctx->file_total;
  info->has_size = 1;
  info->mtime = st.st_mtime;
  info->has_mtime = st.st_mtime > 0;
  info->mode = st.st_mode;
  info->has_mode = 1;
  info->files_left = static_cast<uint32_t>(ctx->paths.size() - ctx->next_path + 1);
  info->has_files_left = 1;
  info->bytes_left = ctx->batch_total - ctx->batch_before;
  info->has_bytes_left = 1;
  return 1;
}

// The context for a new transfer: the host table stays, everything else
// starts again.
void reset_for_transfer(YmodemHostContext* ctx, XmodemState* engine, int direction) {
  ymodem_kavel_close(ctx);
  static_cast<YmodemTransfer&>(*ctx) = YmodemTransfer{};
  ctx->paths.clear();
  ctx->engine = engine;
  ctx->direction = direction;
  XmodemCallbacks cb{ctx, cb_write, cb_read, cb_store, cb_close, cb_size, cb_now, cb_status};
  xmodem_init(engine, &cb);
}

}  // namespace

int ymodem_kavel_answer_exists(YmodemHostContext* ctx, int answer) {
  if (!ctx || !ctx->engine || !ctx->engine->asking) return 0;
  return ymodem_file_begun(ctx->engine, begin_answered(ctx, answer));
}

void ymodem_kavel_init(YmodemHostContext* ctx, const YmodemHostTable* table) {
  if (!ctx) return;
  static_cast<YmodemTransfer&>(*ctx) = YmodemTransfer{};
  ctx->fns = table ? *table : YmodemHostTable{};
  ctx->paths.clear();
}

int ymodem_kavel_start_receive(YmodemHostContext* ctx, XmodemState* engine, const char* dir,
                               int streaming) {
  if (!ctx || !engine) return -1;
  reset_for_transfer(ctx, engine, 1);
  safe_copy(ctx->dir, sizeof ctx->dir, dir);
  transfer_make_dir(ctx->dir);
  YmodemBatch batch{begin_file, nullptr};
  return ymodem_start_receive(engine, &batch, streaming);
}

int ymodem_kavel_start_send(YmodemHostContext* ctx, XmodemState* engine, const char* const* paths,
                            int count) {
  if (!ctx || !engine) return -1;
  reset_for_transfer(ctx, engine, 2);
  for (int i = 0; paths && i < count; i++) {
    struct stat st;
    const char* why = nullptr;
    FILE* f = open_upload(paths[i], &st, &why);
    if (!f) {
      char name[kTransferNameCap];
      upload_name(name, sizeof name, paths[i]);
      snprintf(ctx->status_text, sizeof ctx->status_text, "%.40s%.55s", why, name);
      ctx->paths.clear();
      return -1;
    }
    fclose(f);
    ctx->paths.emplace_back(paths[i]);
    ctx->batch_total += static_cast<uint64_t>(st.st_size);
  }
  ctx->files_total = static_cast<int32_t>(ctx->paths.size());
  YmodemBatch batch{nullptr, next_file};
  return ymodem_start_send(engine, &batch);
}

void ymodem_kavel_close(YmodemHostContext* ctx) {
  if (!ctx || !ctx->file) return;
  fclose(ctx->file);
  ctx->file = nullptr;
}

uint64_t ymodem_kavel_batch_bytes(const YmodemHostContext* ctx) {
  return ctx ? ctx->batch_before + ctx->file_bytes : 0;
}

int ymodem_summary(const YmodemHostContext* ctx, char* out, size_t cap, std::string* dir) {
  if (dir) dir->clear();
  const XmodemState* e = ctx ? ctx->engine : nullptr;
  if (!e || e->active || ctx->last_kind != XM_REPORT_COMPLETE) return 0;
  int files = e->files_done - (ctx->direction == 1 ? ctx->files_skipped : 0);
  if (files <= 0) return 0;
  const char* verb = ctx->direction == 1 ? "Saved" : "Sent";
  if (files == 1 && e->files_done == 1) {
    char size[32];
    transfer_format_size(size, sizeof size, ctx->file_bytes);
    snprintf(out, cap, "%s %s (%s)", verb, ctx->file_name, size);
  } else {
    snprintf(out, cap, "%s %d file%s", verb, files, files == 1 ? "" : "s");
  }
  if (dir && ctx->direction == 1) dir->assign(ctx->dir);
  return 1;
}

void ymodem_draw_status(Terminal* t, YmodemHostContext* ctx) {
  if (!ctx || !ctx->engine || !term_can_draw(t)) return;
  const XmodemState* e = ctx->engine;
  TransferBoxCache* cache = &ctx->status;
  uint32_t now = host_now(ctx);
  uint64_t batch = ymodem_kavel_batch_bytes(ctx);
  uint32_t shown = static_cast<uint32_t>(std::min<uint64_t>(batch, UINT32_MAX));
  bool active = e->active != 0;
  if (active && cache->drawn && ctx->last_kind == XM_REPORT_PROGRESS &&
      static_cast<int32_t>(ctx->retries) == cache->errors &&
      now - cache->last_draw_ms <= kProgressRedrawMs)
    return;

  bool sending = ctx->direction == 2;
  bool streaming = e->protocol == XM_PROTO_YMODEM_G;
  char file_line[kTransferNameCap + 8], bytes_line[64], count_line[80], crc_line[40];
  char error_line[112], speed[40], summary[kTransferNameCap + 48];
  snprintf(file_line, sizeof file_line, "File: %s", ctx->file_name[0] ? ctx->file_name : "(pending)");
  unsigned long long done = ctx->file_bytes, total = ctx->file_total;
  if (total > 0) {
    snprintf(bytes_line, sizeof bytes_line, "Bytes: %llu/%llu", done, total);
  } else {
    snprintf(bytes_line, sizeof bytes_line, "Bytes: %llu", done);
  }
  int n = ctx->file_number > 0 ? ctx->file_number : 1;
  int len = ctx->files_total > 0
                ? snprintf(count_line, sizeof count_line, "File %d of %d", n, ctx->files_total)
                : snprintf(count_line, sizeof count_line, "File %d", n);
  if (ctx->batch_total > 0) {
    snprintf(count_line + len, sizeof count_line - static_cast<size_t>(len), ", batch %llu/%llu",
             static_cast<unsigned long long>(batch),
             static_cast<unsigned long long>(ctx->batch_total));
  } else {
    snprintf(count_line + len, sizeof count_line - static_cast<size_t>(len), ", batch %llu",
             static_cast<unsigned long long>(batch));
  }
  snprintf(crc_line, sizeof crc_line, "CRC: %s%s", ctx->crc ? "CRC-16" : "Checksum",
           streaming ? ", streaming" : "");
  bool failed = !active && (ctx->last_kind == XM_REPORT_FAILED ||
                            ctx->last_kind == XM_REPORT_CANCELLED);
  if (failed) {
    safe_copy(error_line, sizeof error_line, ctx->status_text);
  } else {
    snprintf(error_line, sizeof error_line, "CRC mismatch: %lu",
             static_cast<unsigned long>(ctx->retries));
  }
  transfer_format_speed(speed, sizeof speed, ctx->start_ms, shown, now);

  TransferBoxContent content{};
  if (sending) {
    content.title = streaming ? "YModem-G - Sending" : "YModem - Sending";
  } else {
    content.title = streaming ? "YModem-G - Receiving" : "YModem - Receiving";
  }
  content.direction = ctx->direction;
  content.lines[0] = file_line;
  content.lines[1] = bytes_line;
  content.lines[2] = count_line;
  content.lines[3] = crc_line;
  std::string dir;
  if (ymodem_summary(ctx, summary, sizeof summary, &dir)) {
    content.summary = summary;
    content.summary_dir = dir.empty() ? nullptr : dir.c_str();
  } else {
    content.lines[4] = error_line;
    content.warning_line = failed ? 4 : -1;
  }
  content.speed = speed;
  // The bar follows the batch when its size is known, else the file.
  if (ctx->batch_total > 0) {
    content.bytes = shown;
    content.total = static_cast<uint32_t>(std::min<uint64_t>(ctx->batch_total, UINT32_MAX));
  } else {
    content.bytes = static_cast<uint32_t>(std::min<uint64_t>(done, UINT32_MAX));
    content.total = static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX));
  }
  content.moving_segment = 1;
  content.no_total_percent = "----";
  transfer_box_draw(t, cache, &content, !cache->drawn);

  cache->last_draw_ms = now;
  cache->bytes = shown;
  cache->errors = static_cast<int32_t>(ctx->retries);
  safe_copy(cache->text, sizeof cache->text, ctx->status_text);
}
