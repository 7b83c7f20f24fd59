#include "session/session_loop.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "dial/dialing.h"
#include "dial/modem_sound.h"
#include "display/fonts.h"
#include "display/modes.h"
#include "display/renderer.h"
#include "display/statusbar.h"
#include "display/surface.h"
#include "display/ui_surface.h"
#include "link/connect.h"
#include "link/telnet.h"
#include "menu/popups.h"
#include "phonebook/phonebook.h"
#include "phonebook/prefs.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/dos.h"
#include "session/capture.h"
#include "session/clipboard_keys.h"
#include "session/input.h"
#include "session/phonebook_overlay.h"
#include "session/session.h"
#include "session/session_transfer.h"
#include "terminal/hooks.h"
#include "terminal/terminal.h"
#include "transfer/dialogs.h"
#include "util/text.h"

namespace {

constexpr int kInputEveryBytes = 16;
constexpr int kInputEveryBytesTransfer = 256;
constexpr int kIdlePauseMs = 20;  // one tick

bool time_reached(uint32_t now, uint32_t when) {
  return static_cast<int32_t>(now - when) >= 0;
}

void data_byte_sink(void* ctx, uint8_t byte) {
  session_data_byte(static_cast<Session*>(ctx), byte);
}

// The mode in front goes: it gives the terminal back (a failure to do so
// ends the session).
void close_mode(SessionLoop* st) {
  SessionMode mode = st->mode;
  st->mode = SessionMode{};
  if (mode.ops->close(mode.ctx, st) != 0) st->running = 0;
}

// The mode in front, if one is up: its turn, then its window's events, then
// whether it is done.
void serve_mode(SessionLoop* st) {
  const SessionModeOps* ops = st->mode.ops;
  if (!ops) return;
  void* ctx = st->mode.ctx;
  ops->turn(ctx);
  int done = 0;
  PlatEvent ev;
  for (PlatWindow* w = ops->window(ctx); !done && w && plat_get_event(w, &ev); w = ops->window(ctx))
    done = ops->event(ctx, ev);
  if (ops->settle(ctx) != 0 || done) close_mode(st);
}

// The terminal window's input, then the requests it left, in their fixed
// order.  Under a covering mode (the in-session phonebook) the terminal's top
// bar and phonebook requests are dropped and a mode change waits until the
// mode has gone.
void serve_terminal_input(SessionLoop* st) {
  Session* s = st->s;
  session_handle_window_messages(s, &st->running);
  if (s->request_top_bar) {
    s->request_top_bar = 0;
    if (st->running && !session_loop_covered(st)) session_toggle_top_bar(s);
  }
  if (s->request_phonebook) {
    s->request_phonebook = 0;
    if (st->running && !session_loop_covered(st) && session_open_phonebook_menu(st) != 0)
      st->running = 0;
  }
  if (s->request_fullscreen && !session_loop_covered(st)) {
    s->request_fullscreen = 0;
    if (session_toggle_fullscreen(s, st->ui, st->title) != 0) st->running = 0;
  }
}

// The terminal's own window (still read under a covering mode, for its
// hang-up and exit keys), then the mode in front, if one is up: a mode
// opened by the terminal's keys is drawn at once.  A mode change asked for
// under a mode that closes now is served by the next call.
void service_input(SessionLoop* st) {
  serve_terminal_input(st);
  if (st->running) serve_mode(st);
}

// The next line of a paste, when its time has come (a failed send ends the
// session, as a failed key does).
void run_paste(SessionLoop* st) {
  if (st->running && session_paste_pump(st->s) != 0) st->running = 0;
}

void check_break(SessionLoop* st) {
  if (dos_check_break()) st->running = 0;
}

// The transfer engines' timers and upload streaming.  A failed send means the
// connection is gone: the session ends as when the peer closes.
void run_transfer_pumps(SessionLoop* st) {
  if (!st->running) return;
  if (session_transfer_poll(st->s) != 0) {
    st->closed_by_peer = 1;
    st->running = 0;
  }
}

// A turn that read nothing waits at most a tick, and ends as soon as the
// socket has data or the window input: a transfer that answers block by
// block runs at the line's pace rather than one block per tick, and keys
// are acted on at once.  A streaming upload does not pause at all.  Under
// a transfer prompt the window is the prompt's, and under a mode its window
// is the one typed in.
void idle_pause(SessionLoop* st) {
  Session* s = st->s;
  if (session_transfer_streaming(s)) return;
  Link* link = &s->link;
  bool music = term_music_holding(s->terminal);
  // Bytes the link has already taken in (a TLS record, an SSH packet) are
  // read at once: the socket may never become readable for them.
  if (!music && link_is_open(link) && link->ops->pending(link)) return;
  PlatWindow* window = st->mode.ops ? st->mode.ops->window(st->mode.ctx) : nullptr;
  if (!window && s->terminal) window = s->terminal->window;
  int fd = link_is_open(link) ? link->fd : -1;
  if (fd < 0 && !window) {
    dos_delay(1);
    return;
  }
  // Foreground music holds the display: the link's data waits, so only
  // the window (Escape) ends the pause.
  short events = fd >= 0 ? link->ops->wait_events(link) : 0;
  plat_wait_event_or_fd(window, music ? -1 : fd, kIdlePauseMs, events);
}

void draw_elapsed(SessionLoop* st) {
  term_draw_session_elapsed_status(st->s->terminal);
  st->next_tick = clock_ms() + 1000;
}

// Data bytes of a running transfer, up to the next Telnet command, go to
// its protocol in one piece: the same bytes session_data_byte would give it
// one at a time.  0 when the next byte must take the byte-by-byte road.
int transfer_run(Session* s, const uint8_t* bytes, int len) {
  if (s->telnet.state != 0 || !s->terminal) return 0;
  const TransferProtocol* p = session_active_protocol(s);
  if (!p) return 0;
  const void* iac =
      s->telnet.enabled ? memchr(bytes, TELNET_IAC, static_cast<size_t>(len)) : nullptr;
  int run = iac ? static_cast<int>(static_cast<const uint8_t*>(iac) - bytes) : len;
  if (run == 0) return 0;
  return static_cast<int>(p->ops->consume(p->ctx, bytes, static_cast<size_t>(run)));
}

// Hands one read's bytes to the Telnet layer, serving the keyboard between
// chunks so that a long burst does not starve it.
void consume_read(SessionLoop* st, const uint8_t* buf, int n) {
  Session* s = st->s;
  // What the Telnet answers say of the terminal: the columns follow the
  // font (a board may change it).
  s->telnet.petscii = s->petscii;
  s->telnet.cols = s->petscii ? c64_visible_cols_for_font() : 80;
  int i = 0;
  while (i < n && st->running) {
    int every = session_transfer_active(s) ? kInputEveryBytesTransfer : kInputEveryBytes;
    int chunk_end = std::min(n, (i / every + 1) * every);
    int taken = transfer_run(s, buf + i, chunk_end - i);
    if (taken == 0) {
      session_receive_byte(s, buf[i]);
      taken = 1;
    }
    i += taken;
    if (i % every == 0 && i < n) {
      if (!session_loop_covered(st)) service_input(st);
      check_break(st);
    }
  }
}

void restore_font(const char* saved) {
  if (saved[0]) {
    set_active_font(saved);
  } else {
    active_font_restore(saved);
  }
}

// The link of the session in progress, for the one thing that must still
// happen when the display is lost for good: hanging up properly.
Link* g_live_link = nullptr;

void hang_up_on_display_loss() {
  if (g_live_link) link_close(g_live_link);
}

// The session whose terminal is bound: the terminal's answers go to it.
Session* g_replying_session = nullptr;

// The terminal's answers go out through the session's sender, so that a 255
// goes out doubled like any other data byte where Telnet runs.
void reply_to_bbs(Terminal* t, const char* bytes, size_t len) {
  Session* s = g_replying_session;
  if (!s || s->terminal != t) return;
  session_send(s, reinterpret_cast<const uint8_t*>(bytes), len);
}

// Where the window now stands, so that the next one opens there.
void remember_window_position(const UiContext* ui) {
  PlatWindowGeometry g = plat_window_geometry(ui->window);
  g_next_window_left = g.left;
  g_next_window_top = g.top;
  g_next_window_pos_valid = 1;
}

// A session called from the menu draws in the menu's display: in full screen
// it keeps the menu's own screen and switches it to the BBS font; in a
// window it replaces the menu window by one of the terminal's size, where
// the menu window stood.  The UiContext owns the window throughout and the
// terminal only borrows it.  0 on success; -1 after telling the user why.
int bind_menu_window(UiContext* ui, Terminal* t, const WindowRequest* req, const char* font_label) {
  char text[160];
  const char* title = req->title;
  if (ui->fullscreen && ui->window) {
    plat_set_window_title(ui->window, title);
    plat_activate_window(ui->window);
    int bar = g_runtime_top_bar_enabled ? 1 : 0;
    bool fits = ui_use_bbs_font(ui, bar, req) == 0;
    if (fits) {
      int cols = t->petscii == TERM_MODE_PETSCII ? c64_visible_cols_for_font() : kTermCols;
      if (cols < 1 || cols > kTermCols) cols = kTermCols;
      fits = cols * ui->cell_w <= plat_window_inner_width(ui->window) &&
             (bar ? 26 : 25) * ui->cell_h <= plat_window_inner_height(ui->window);
    }
    if (!fits) {
      ui_use_menu_font(ui);
      plat_set_window_title(ui->window, "Kavel");
      snprintf(text, sizeof text, "Could not use BBS font in fullscreen: %s", font_label);
      ui_message(ui, text);
      return -1;
    }
  } else {
    if (ui->window) remember_window_position(ui);
    ui_close(ui);
    if (ui_open(ui, req) != 0) {
      if (ui_open_menu(ui, "Kavel") == 0) {
        snprintf(text, sizeof text, "Could not open BBS font: %s", font_label);
        ui_message(ui, text);
      }
      return -1;
    }
    plat_set_window_title(ui->window, title);
    plat_activate_window(ui->window);
  }
  if (t->petscii == TERM_MODE_PETSCII)
    t->petscii_lower = font_name_looks_c64_lower_font_local(g_active_font) ? 1 : 0;
  if (term_attach_ui(t, ui) != 0) return -1;
  ui_invalidate_menu_caches();
  return 0;
}

// The session is over: the menu gets its display back, on the same screen in
// full screen, else as a menu window where the session window stood.
void give_back_menu_window(UiContext* ui) {
  set_active_font(kFontCP437);
  if (ui->fullscreen && ui->window) {
    plat_set_window_title(ui->window, "Kavel");
    if (ui_use_menu_font(ui) != 0) ui_close(ui);
  } else {
    if (ui->window) remember_window_position(ui);
    ui_close(ui);
    ui_open_menu(ui, "Kavel");
  }
  ui_invalidate_menu_caches();
}

// The connect step's cancel poll: the dialing box's keys, while the menu
// window is open.
// Escape in a secret's box ends the call as Escape on the dialing box does:
// the next poll cancels, and no further box (another log-in method's
// question) is shown meanwhile.
int g_secret_cancelled = 0;

int poll_dialing_cancel(void* ctx) {
  auto* ui = static_cast<UiContext*>(ctx);
  if (g_secret_cancelled) return 1;
  return ui && ui->window ? ui_poll_connect_cancel(ui) : 0;
}

// The link's questions as boxes in the menu window, over the dialing box,
// which is drawn again after each answer.
int window_confirm(void* ctx, const char* question, const char* details) {
  auto* ui = static_cast<UiContext*>(ctx);
  int r = ui_confirm_details(ui, question, details);
  ui_draw_dialing_status(ui, g_connect_popup_start_ms);
  return r;
}
int window_secret(void* ctx, const char* prompt, char* out, size_t cap) {
  auto* ui = static_cast<UiContext*>(ctx);
  if (g_secret_cancelled) return 0;
  int r = ui_ask_secret(ui, prompt, out, cap);
  g_secret_cancelled = r == 0;
  ui_draw_dialing_status(ui, g_connect_popup_start_ms);
  return r;
}
void window_warn(void* ctx, const char* text) {
  auto* ui = static_cast<UiContext*>(ctx);
  ui_warn(ui, text);
  ui_draw_dialing_status(ui, g_connect_popup_start_ms);
}

}  // namespace

LinkPrompts g_session_prompts_without_window{};

void session_receive_byte(Session* s, uint8_t byte) {
  telnet_consume(&s->telnet, byte, data_byte_sink, s);
}

void session_data_byte(Session* s, uint8_t byte) {
  if (!s->terminal) return;
  const TransferProtocol* p = session_active_protocol(s);
  if (p) {
    p->ops->consume(p->ctx, &byte, 1);
    return;
  }
  if (s->discard_until_ms != 0) {
    if (!time_reached(clock_ms(), s->discard_until_ms)) return;
    s->discard_until_ms = 0;
  }
  // Start detection, then the terminal.
  session_transfer_detect_or_show(s, byte);
}

void session_wait_disconnected_notice(Terminal* t) {
  term_hide_cursor(t);
  term_draw_disconnected_notice(t);
  for (;;) {
    plat_wait_event(t->window, 1000);
    PlatEvent ev;
    while (plat_get_event(t->window, &ev)) {
      switch (ev.cls) {
        case PLAT_EV_VANILLAKEY:
        case PLAT_EV_MOUSEBUTTON:
        case PLAT_EV_CLOSE:
          return;
        case PLAT_EV_RAWKEY:
          if (!(ev.code & PLAT_KEY_UP)) return;
          break;
        case PLAT_EV_REFRESH:
          plat_begin_refresh(t->window);
          term_redraw_all(t);
          term_draw_disconnected_notice(t);
          plat_end_refresh(t->window);
          break;
        default:
          break;
      }
    }
  }
}

void session_bind_terminal(Session* s, Terminal* t, const PhoneEntry* entry, const char* host) {
  g_term_hooks.reply = reply_to_bbs;
  g_replying_session = s;
  // The terminal asks only whether it has a peer to answer (a link without
  // a descriptor of its own is one too); its replies go through the hook.
  t->reply_socket = !link_is_open(&s->link) ? -1 : s->link.fd >= 0 ? s->link.fd : 0;
  const char* name = entry && entry->name[0] ? entry->name : host;
  safe_copy(t->status_text, 80, name);  // at most 79 characters
  term_status_set_link_kind(link_is_open(&s->link) ? link_kind_label(s->link.kind) : "");
  t->connect_start = clock_epoch_seconds();

  term_clear_screen(t);
  s->scrollback = ScrollbackRing{};
  s->scrollback.lines = new (std::nothrow) ScrollbackLine[kScrollbackLines]();
  t->scrollback = s->scrollback.lines ? &s->scrollback : nullptr;
  s->terminal = t;
  // A fresh terminal starts with its cursor off; a session shows it.
  t->cursor_enabled = 1;
  term_show_cursor(t);
  term_draw_session_status(t);
}

void session_release_terminal(Session* s) {
  capture_end();
  if (Terminal* t = s->terminal) {
    term_music_end(t);
    term_hide_cursor(t);
    term_clear_drawable_area_raw(t);
    term_close(t);
    t->scrollback = nullptr;
  }
  delete[] s->scrollback.lines;
  s->scrollback = ScrollbackRing{};
  s->terminal = nullptr;
  if (g_replying_session == s) g_replying_session = nullptr;
  g_key_filter.shift_down = 0;
}

void session_loop_init(SessionLoop* loop, Session* s, UiContext* ui, const char* title,
                       uint8_t* buf) {
  *loop = SessionLoop{};
  loop->s = s;
  loop->ui = ui;
  loop->title = title;
  loop->buf = buf;
  loop->running = 1;
  loop->next_tick = clock_ms() + 1000;
  s->loop = loop;
}

int session_pump_turn(SessionLoop* st) {
  Session* s = st->s;
  service_input(st);
  run_transfer_pumps(st);
  run_paste(st);
  check_break(st);
  int bytes_read = 0;
  // Once the session is ending (hang-up, exit, a key that could not be
  // sent, Ctrl-C) the socket is left alone: a key send fails because the
  // peer is gone, and reading that close now would put up the
  // "Disconnected" notice for a session the user or a failed send ended.
  if (st->running && !term_music_holding(s->terminal)) {
    int cap = session_transfer_active(s) ? kRecvChunkTransfer : kRecvChunk;
    int n = session_read(s, st->buf, cap);
    if (n > 0) {
      bytes_read = n;
      st->bytes_received += static_cast<uint64_t>(n);
      consume_read(st, st->buf, n);
      session_transfer_flush_detect(s, 0);
      if (!session_loop_covered(st)) service_input(st);
      run_transfer_pumps(st);
      run_paste(st);
      draw_elapsed(st);
    } else if (n < 0) {
      st->closed_by_peer = 1;
      st->running = 0;
    }
  }
  session_transfer_flush_detect(s, 0);
  // A transfer's question up in front of the terminal: nothing of the
  // terminal's own draws over it until it is answered.
  if (!session_transfer_in_front(s)) {
    term_music_pump(s->terminal);
    term_update_cursor_blink(s->terminal);
  }
  if (time_reached(clock_ms(), st->next_tick)) draw_elapsed(st);
  if (bytes_read == 0) idle_pause(st);
  // The session is ending: the terminal gets its window back from the mode
  // in front, for the "Disconnected" notice.
  if (!st->running && st->mode.ops) close_mode(st);
  return st->running;
}

int session_main_loop(Session* s, UiContext* ui, const char* title, uint8_t* buf) {
  SessionLoop loop;
  session_loop_init(&loop, s, ui, title, buf);
  while (session_pump_turn(&loop)) {
  }
  session_paste_cancel(s);
  session_transfer_end(s, loop.closed_by_peer);
  s->loop = nullptr;
  return loop.closed_by_peer;
}

int run_session_common(const SessionRequest* req) {
  const char* host = req->host ? req->host : "";
  const int port = req->port;
  UiContext* ui = req->ui;
  char saved_font[80];
  safe_copy(saved_font, sizeof saved_font, g_active_font);
  const char* font = req->font && req->font[0] ? req->font : kFontCP437;
  set_active_font(font);
  bool c64 = font_name_looks_c64(g_active_font);

  int entry_mode = display_window_mode();

  std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[kRecvChunkTransfer]);
  auto fail = [&](int code) {
    ui_end_dialing_status();
    display_set_window_mode(entry_mode);
    restore_font(saved_font);
    return code;
  };
  if (!buf) return fail(-1);

  // The repeat filters and held-key flags are process-wide and are not reset
  // here: an Alt-Enter still held from the dialing display must not switch
  // the new session's window on its first key repeat.
  auto session = std::make_unique<Session>();
  Session* s = session.get();
  session_init(s);
  s->petscii = (req->emulation == kEmulationPetscii || c64) ? 1 : 0;
  safe_copy(s->login_user, sizeof s->login_user, req->login_user);
  safe_copy(s->login_password, sizeof s->login_password, req->login_password);

  // The dialing display and the modem sound belong to calls from the menu.
  // The link's questions (host keys, passphrases) are boxes in the menu
  // window, else what the app chose for a session without one.  SSH host
  // keys stay in OpenSSH's ~/.ssh/known_hosts (the link's default), so that
  // ssh and Kavel trust the same keys; certificate pins live in the
  // configuration folder, which must exist before the link appends to it.
  LinkOpenOptions opts;
  opts.user = s->login_user;
  opts.password = s->login_password;
  opts.terminal_type = s->petscii ? "PETSCII" : "ANSI";
  opts.cols = s->petscii ? c64_visible_cols_for_font() : kTermCols;
  opts.rows = kTermRows;
  const DosTrustFiles trust = dos_trust_files();
  if (dos_config_dir_create() == 0) opts.certificate_pins = trust.certificate_pins.c_str();
  opts.prompts = ui ? LinkPrompts{ui, window_confirm, window_secret, window_warn}
                    : g_session_prompts_without_window;
  // Alt+Enter on the dialing box reopens the menu window in the next mode,
  // with the menu's font: the session starts in that mode (and a failure
  // leaves the flags as that window is), with its own font.
  auto follow_dialing_mode = [&]() {
    set_active_font(font);
    entry_mode = display_window_mode();
  };
  if (ui) {
    ui_begin_dialing_status(ui, req->entry);
    int cancelled = g_modem_sound_enabled && ui->window && modem_sound_step(ui) != 0;
    follow_dialing_mode();
    if (cancelled) return fail(CONNECT_CANCELLED);
    opts.poll_cancel = poll_dialing_cancel;
    opts.cancel_ctx = ui;
    g_secret_cancelled = 0;
  }
  Link link;
  int r = link_open(host, port, &opts, &link);
  follow_dialing_mode();
  if (r != LINK_OK) return fail(r);
  ui_end_dialing_status();
  session_attach_link(s, &link);

  telnet_send_opening_offers(&s->telnet);

  // The title names the address as it was split ("host:port" in the host
  // text gives the port).
  char shown_host[kMaxHostNameLength + 1];
  int shown_port = port;
  LinkAddress named;
  if (link_parse_address(host, port, &named) == 0 && named.kind != LINK_TELNET) {
    safe_copy(shown_host, sizeof shown_host, named.host);
    shown_port = named.port;
  } else if (connection_parse_address(host, shown_host, sizeof shown_host, &shown_port) != 0) {
    safe_copy(shown_host, sizeof shown_host, host);
  }
  char title[320];
  snprintf(title, sizeof title, strchr(shown_host, ':') ? "%s - [%s]:%d" : "%s - %s:%d", "Kavel",
           shown_host, shown_port);
  WindowRequest wreq = window_request(title);
  wreq.petscii = s->petscii;
  wreq.c64_scale = display_c64_scale_for_mode(wreq.mode, s->petscii, g_active_font);
  wreq.bbs_font = 1;

  auto terminal = std::make_unique<Terminal>();
  Terminal* t = terminal.get();
  term_init_record(t);
  if (!ui) {
    if (term_open(t, &wreq) != 0) {
      session_close_link(s);
      return fail(-1);
    }
  } else {
    s->menu_quit = &ui->close_requested;
    t->petscii = s->petscii ? TERM_MODE_PETSCII : TERM_MODE_ANSI;
    if (bind_menu_window(ui, t, &wreq, font) != 0) {
      session_close_link(s);
      return fail(-1);
    }
  }
  session_bind_terminal(s, t, req->entry, host);
  g_live_link = &s->link;
  plat_set_display_lost_handler(hang_up_on_display_loss);

  SessionLoop loop;
  session_loop_init(&loop, s, ui, title, buf.get());
  loop.request = req;
  while (session_pump_turn(&loop)) {
  }
  int closed_by_peer = loop.closed_by_peer;
  session_paste_cancel(s);

  session_transfer_end(s, closed_by_peer);
  s->loop = nullptr;

  t = s->terminal;
  if (closed_by_peer && t->window && !(s->menu_quit && *s->menu_quit))
    session_wait_disconnected_notice(t);
  plat_set_display_lost_handler(nullptr);
  g_live_link = nullptr;
  session_close_link(s);
  session_release_terminal(s);
  if (ui && !ui->close_requested) give_back_menu_window(ui);

  restore_font(saved_font);
  return 0;
}
