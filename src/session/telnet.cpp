#include "session/telnet.h"

#include <array>
#include <cstring>

#include "session/connection.h"
#include "session/session.h"
#include "terminal/active_font.h"

namespace {

// Input bytes per write of send_key_string.
constexpr int kKeyStringPiece = 4096;

constexpr std::array<const char*, 3> kAnsiNames = {"ANSI", "ANSI-BBS", "VT100"};
constexpr std::array<const char*, 3> kPetsciiNames = {"PETSCII", "C64", "COMMODORE"};

void send_reply(int sock, const void* bytes, size_t len) {
  // A reply that cannot be sent is not worth ending the session for: the
  // next key send notices a dead connection anyway.
  (void)send_all(sock, bytes, len);
}

void send_command(int sock, uint8_t cmd, uint8_t option) {
  const uint8_t reply[3] = {TELNET_IAC, cmd, option};
  send_reply(sock, reply, sizeof reply);
}

void send_window_size(const Session* s) {
  int cols = telnet_window_columns(s);
  const uint8_t naws[9] = {TELNET_IAC,
                           TELNET_SB,
                           TELOPT_NAWS,
                           static_cast<uint8_t>((cols >> 8) & 0xFF),
                           static_cast<uint8_t>(cols & 0xFF),
                           0,
                           25,
                           TELNET_IAC,
                           TELNET_SE};
  send_reply(s->sock, naws, sizeof naws);
}

void answer_option(Session* s, uint8_t option) {
  switch (static_cast<uint8_t>(s->telnet_cmd & 0xFF)) {
    case TELNET_WILL:
      if (option == TELOPT_BINARY || option == TELOPT_ECHO || option == TELOPT_SGA) {
        send_command(s->sock, TELNET_DO, option);
      } else {
        send_command(s->sock, TELNET_DONT, option);
      }
      break;
    case TELNET_DO:
      if (option == TELOPT_BINARY || option == TELOPT_SGA || option == TELOPT_TTYPE) {
        send_command(s->sock, TELNET_WILL, option);
      } else if (option == TELOPT_NAWS) {
        send_command(s->sock, TELNET_WILL, option);
        send_window_size(s);
      } else {
        send_command(s->sock, TELNET_WONT, option);
      }
      break;
    default:  // WONT and DONT need no answer
      break;
  }
}

void answer_terminal_type(Session* s) {
  if (s->ttype_counter < 0) s->ttype_counter = 0;
  const char* name = telnet_terminal_type_name(s);
  s->ttype_counter++;
  const uint8_t head[4] = {TELNET_IAC, TELNET_SB, TELOPT_TTYPE, TTYPE_IS};
  const uint8_t tail[2] = {TELNET_IAC, TELNET_SE};
  send_reply(s->sock, head, sizeof head);
  send_reply(s->sock, name, strlen(name));
  send_reply(s->sock, tail, sizeof tail);
}

void end_subnegotiation(Session* s) {
  if (s->sb_len == 0) return;
  s->sb_len -= 1;  // now the number of data bytes
  if (s->sb_option == TELOPT_TTYPE && s->sb_len > 0 && s->sb_data[0] == TTYPE_SEND)
    answer_terminal_type(s);
}

void store_subneg_byte(Session* s, uint8_t byte) {
  int index = s->sb_len - 1;
  if (index >= 0 && index < kTelnetSubnegMax) {
    s->sb_data[index] = byte;
    s->sb_len++;
  }
}

}  // namespace

const char* telnet_terminal_type_name(const Session* s) {
  int counter = s->ttype_counter < 0 ? 0 : s->ttype_counter;
  const auto& names = s->petscii ? kPetsciiNames : kAnsiNames;
  return names[static_cast<size_t>(counter % 3)];
}

int telnet_window_columns(const Session* s) {
  return s->petscii ? c64_visible_cols_for_font() : 80;
}

void telnet_consume_byte_to(Session* s, uint8_t byte, TelnetDataSink sink) {
  switch (s->telnet_state) {
    case 0:
      if (byte == TELNET_IAC) {
        s->telnet_state = 1;
      } else if (byte != 0 || session_transfer_active(s)) {
        // A NUL is padding (CR NUL) outside transfers; inside it is data.
        sink(s, byte);
      }
      break;
    case 1:
      if (byte == TELNET_IAC) {
        s->telnet_state = 0;
        sink(s, byte);
      } else if (byte >= TELNET_WILL) {
        s->telnet_cmd = byte;
        s->telnet_state = 2;
      } else if (byte == TELNET_SB) {
        s->sb_len = 0;
        s->sb_option = 0;
        s->telnet_state = 3;
      } else {
        s->telnet_state = 0;
      }
      break;
    case 2:
      s->telnet_state = 0;
      answer_option(s, byte);
      break;
    case 3:
      if (s->sb_len == 0) {
        s->sb_option = byte;
        s->sb_len = 1;
      } else if (byte == TELNET_IAC) {
        s->telnet_state = 4;
      } else {
        store_subneg_byte(s, byte);
      }
      break;
    case 4:
      if (byte == TELNET_SE) {
        s->telnet_state = 0;
        end_subnegotiation(s);
      } else {
        s->telnet_state = 3;
        if (byte == TELNET_IAC) store_subneg_byte(s, byte);
      }
      break;
    default:
      // A corrupted state swallows everything rather than guessing.
      break;
  }
}

void telnet_send_opening_offers(int sock) {
  send_command(sock, TELNET_WILL, TELOPT_SGA);
  send_command(sock, TELNET_DO, TELOPT_SGA);
  send_command(sock, TELNET_WILL, TELOPT_BINARY);
  send_command(sock, TELNET_DO, TELOPT_BINARY);
}

int send_key_byte(int sock, uint8_t byte) {
  const uint8_t doubled[2] = {TELNET_IAC, TELNET_IAC};
  if (byte == TELNET_IAC) return send_all(sock, doubled, 2);
  return send_all(sock, &byte, 1);
}

int send_key_string(int sock, const uint8_t* bytes, int len) {
  if (!bytes || len < 1) return 0;
  // One write per 4 KiB of input (a whole XMODEM block goes out in one),
  // with room for every byte doubled.
  uint8_t buf[2 * kKeyStringPiece];
  int i = 0;
  while (i < len) {
    int end = len - i > kKeyStringPiece ? i + kKeyStringPiece : len;
    size_t n = 0;
    for (; i < end; i++) {
      buf[n++] = bytes[i];
      if (bytes[i] == TELNET_IAC) buf[n++] = TELNET_IAC;
    }
    if (send_all(sock, buf, n) != 0) return -1;
  }
  return 0;
}
