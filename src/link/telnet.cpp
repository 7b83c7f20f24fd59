#include "link/telnet.h"

#include <array>
#include <cstring>

namespace {

// Input bytes per write of telnet_send_data.
constexpr size_t kSendPiece = 4096;

constexpr std::array<const char*, 3> kAnsiNames = {"ANSI", "ANSI-BBS", "VT100"};
constexpr std::array<const char*, 3> kPetsciiNames = {"PETSCII", "C64", "COMMODORE"};

int send_raw(Telnet* t, const void* bytes, size_t len, uint32_t stall_ms) {
  if (!link_is_open(t->link)) return -1;
  if (len == 0) return 0;
  return t->link->ops->send(t->link, static_cast<const uint8_t*>(bytes), len, stall_ms);
}

void send_reply(Telnet* t, const void* bytes, size_t len) {
  // A reply that cannot be sent is not worth ending the session for: the
  // next key send notices a dead connection anyway.
  (void)send_raw(t, bytes, len, kTelnetSendStallMs);
}

void send_command(Telnet* t, uint8_t cmd, uint8_t option) {
  const uint8_t reply[3] = {TELNET_IAC, cmd, option};
  send_reply(t, reply, sizeof reply);
}

void send_window_size(Telnet* t) {
  int cols = t->cols;
  const uint8_t naws[9] = {TELNET_IAC,
                           TELNET_SB,
                           TELOPT_NAWS,
                           static_cast<uint8_t>((cols >> 8) & 0xFF),
                           static_cast<uint8_t>(cols & 0xFF),
                           0,
                           25,
                           TELNET_IAC,
                           TELNET_SE};
  send_reply(t, naws, sizeof naws);
}

void answer_option(Telnet* t, uint8_t option) {
  switch (static_cast<uint8_t>(t->cmd & 0xFF)) {
    case TELNET_WILL:
      if (option == TELOPT_BINARY || option == TELOPT_ECHO || option == TELOPT_SGA) {
        send_command(t, TELNET_DO, option);
      } else {
        send_command(t, TELNET_DONT, option);
      }
      break;
    case TELNET_DO:
      if (option == TELOPT_BINARY || option == TELOPT_SGA || option == TELOPT_TTYPE) {
        send_command(t, TELNET_WILL, option);
      } else if (option == TELOPT_NAWS) {
        send_command(t, TELNET_WILL, option);
        send_window_size(t);
      } else {
        send_command(t, TELNET_WONT, option);
      }
      break;
    default:  // WONT and DONT need no answer
      break;
  }
}

void answer_terminal_type(Telnet* t) {
  if (t->ttype_counter < 0) t->ttype_counter = 0;
  const char* name = telnet_terminal_type_name(t);
  t->ttype_counter++;
  const uint8_t head[4] = {TELNET_IAC, TELNET_SB, TELOPT_TTYPE, TTYPE_IS};
  const uint8_t tail[2] = {TELNET_IAC, TELNET_SE};
  send_reply(t, head, sizeof head);
  send_reply(t, name, strlen(name));
  send_reply(t, tail, sizeof tail);
}

void end_subnegotiation(Telnet* t) {
  if (t->sb_len == 0) return;
  t->sb_len -= 1;  // now the number of data bytes
  if (t->sb_option == TELOPT_TTYPE && t->sb_len > 0 && t->sb_data[0] == TTYPE_SEND)
    answer_terminal_type(t);
}

void store_subneg_byte(Telnet* t, uint8_t byte) {
  int index = t->sb_len - 1;
  if (index >= 0 && index < kTelnetSubnegMax) {
    t->sb_data[index] = byte;
    t->sb_len++;
  }
}

}  // namespace

void telnet_init(Telnet* t, Link* link) {
  *t = Telnet{};
  t->link = link;
  t->enabled = link && !link_kind_speaks_telnet(link->kind) ? 0 : 1;
}

const char* telnet_terminal_type_name(const Telnet* t) {
  int counter = t->ttype_counter < 0 ? 0 : t->ttype_counter;
  const auto& names = t->petscii ? kPetsciiNames : kAnsiNames;
  return names[static_cast<size_t>(counter % 3)];
}

void telnet_consume(Telnet* t, uint8_t byte, TelnetSink sink, void* ctx) {
  if (!t->enabled) {
    sink(ctx, byte);
    return;
  }
  switch (t->state) {
    case 0:
      if (byte == TELNET_IAC) {
        t->state = 1;
      } else if (byte != 0 || (t->nul_is_data && t->nul_is_data(t->nul_ctx))) {
        sink(ctx, byte);
      }
      break;
    case 1:
      if (byte == TELNET_IAC) {
        t->state = 0;
        sink(ctx, byte);
      } else if (byte >= TELNET_WILL) {
        t->cmd = byte;
        t->state = 2;
      } else if (byte == TELNET_SB) {
        t->sb_len = 0;
        t->sb_option = 0;
        t->state = 3;
      } else {
        t->state = 0;
      }
      break;
    case 2:
      t->state = 0;
      answer_option(t, byte);
      break;
    case 3:
      if (t->sb_len == 0) {
        t->sb_option = byte;
        t->sb_len = 1;
      } else if (byte == TELNET_IAC) {
        t->state = 4;
      } else {
        store_subneg_byte(t, byte);
      }
      break;
    case 4:
      if (byte == TELNET_SE) {
        t->state = 0;
        end_subnegotiation(t);
      } else {
        t->state = 3;
        if (byte == TELNET_IAC) store_subneg_byte(t, byte);
      }
      break;
    default:
      // A corrupted state swallows everything rather than guessing.
      break;
  }
}

void telnet_send_opening_offers(Telnet* t) {
  if (!t->enabled) return;
  send_command(t, TELNET_WILL, TELOPT_SGA);
  send_command(t, TELNET_DO, TELOPT_SGA);
  send_command(t, TELNET_WILL, TELOPT_BINARY);
  send_command(t, TELNET_DO, TELOPT_BINARY);
}

int telnet_send_prepared(Telnet* t, const uint8_t* bytes, size_t len, uint32_t stall_ms) {
  if (!bytes || len == 0) return 0;
  return send_raw(t, bytes, len, stall_ms);
}

int telnet_send_byte(Telnet* t, uint8_t byte) {
  return telnet_send_data(t, &byte, 1);
}

int telnet_send_data(Telnet* t, const uint8_t* bytes, size_t len, uint32_t stall_ms) {
  if (!bytes || len == 0) return 0;
  if (!t->enabled || !memchr(bytes, TELNET_IAC, len)) return send_raw(t, bytes, len, stall_ms);
  // One write per 4 KiB of input (a whole XMODEM block goes out in one),
  // with room for every byte doubled.
  uint8_t buf[2 * kSendPiece];
  size_t i = 0;
  while (i < len) {
    size_t end = len - i > kSendPiece ? i + kSendPiece : len;
    size_t n = 0;
    for (; i < end; i++) {
      buf[n++] = bytes[i];
      if (bytes[i] == TELNET_IAC) buf[n++] = TELNET_IAC;
    }
    if (send_raw(t, buf, n, stall_ms) != 0) return -1;
  }
  return 0;
}
