#include "link/telnet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/session_test_util.h"

namespace {

std::string g_data;  // data bytes handed on by the layer

void collect(void*, uint8_t byte) {
  g_data.push_back(static_cast<char>(byte));
}

struct Fed {
  std::string data;
  std::string replies;
};

// A Telnet layer on the program's end of a pair (the pair closes it).
struct Rig {
  Link link;
  Telnet t;
  explicit Rig(int fd) {
    link_tcp_adopt(&link, fd);
    telnet_init(&t, &link);
  }
};

Fed feed(Telnet* s, SocketPair& pair, const std::string& in) {
  g_data.clear();
  for (unsigned char c : in) telnet_consume(s, c, collect, nullptr);
  return {g_data, pair.drain_peer()};
}

struct ReceiveCase {
  const char* name;
  std::string in;
  std::string data;
  std::string replies;
};

const std::string kIS = bytes({255, 250, 24, 0});
const std::string kSE = bytes({255, 240});
const std::string kTtypeSend = bytes({255, 250, 24, 1, 255, 240});

}  // namespace

TEST(TelnetReceive, StreamTable) {
  const std::vector<ReceiveCase> cases = {
      {"plain text passes", "Hello\r\n", "Hello\r\n", ""},
      {"IAC IAC is one 255", bytes({'a', 255, 255, 'b'}), bytes({'a', 255, 'b'}), ""},
      {"IAC NOP and other commands vanish", bytes({'a', 255, 241, 255, 249, 255, 240, 'b'}), "ab",
       ""},
      {"NUL outside transfers is dropped", bytes({'\r', 0, 'x'}), "\rx", ""},
      {"WILL ECHO answered DO", bytes({255, 251, 1}), "", bytes({255, 253, 1})},
      {"WILL BINARY answered DO", bytes({255, 251, 0}), "", bytes({255, 253, 0})},
      {"WILL SGA answered DO", bytes({255, 251, 3}), "", bytes({255, 253, 3})},
      {"WILL other answered DONT", bytes({255, 251, 5}), "", bytes({255, 254, 5})},
      {"DO TTYPE answered WILL", bytes({255, 253, 24}), "", bytes({255, 251, 24})},
      {"DO SGA answered WILL", bytes({255, 253, 3}), "", bytes({255, 251, 3})},
      {"DO ECHO refused", bytes({255, 253, 1}), "", bytes({255, 252, 1})},
      {"DO NAWS answered with the size", bytes({255, 253, 31}), "",
       bytes({255, 251, 31, 255, 250, 31, 0, 80, 0, 25, 255, 240})},
      {"WONT and DONT get no answer", bytes({255, 252, 1, 255, 254, 3, 'z'}), "z", ""},
      {"TTYPE SEND answered ANSI", kTtypeSend, "", kIS + "ANSI" + kSE},
      {"TTYPE IS from the server is ignored", bytes({255, 250, 24, 0, 'X', 255, 240}), "", ""},
      {"other subnegotiation ignored, text after it passes",
       bytes({255, 250, 31, 1, 2, 255, 240, 'k'}), "k", ""},
      {"TTYPE without a sub-command gets no answer", bytes({255, 250, 24, 255, 240, 'k'}), "k", ""},
      {"garbage after IAC inside a subnegotiation stays inside",
       bytes({255, 250, 24, 1, 255, 7, 255, 240, 'q'}), "q", kIS + "ANSI" + kSE},
      {"option byte 255 in a negotiation", bytes({255, 251, 255, 'x'}), "x",
       bytes({255, 254, 255})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SocketPair pair;
    Rig rig(pair.ours);
    Telnet& s = rig.t;
    Fed out = feed(&s, pair, c.in);
    EXPECT_EQ(out.data, c.data);
    EXPECT_EQ(out.replies, c.replies);
    EXPECT_EQ(s.state, 0);
  }
}

TEST(TelnetReceive, NulPassesDuringTransfers) {
  for (int which = 0; which < 2; which++) {
    SocketPair pair;
    Rig rig(pair.ours);
    Telnet& s = rig.t;
    // The owner says NUL is data (a transfer runs, a font is read).
    s.nul_is_data = [](void* ctx) { return *static_cast<int*>(ctx); };
    s.nul_ctx = &which;
    EXPECT_EQ(feed(&s, pair, bytes({'a', 0, 'b'})).data,
              which ? bytes({'a', 0, 'b'}) : std::string("ab"));
  }
}

TEST(TelnetReceive, SequencesSplitAcrossReadsContinue) {
  // The state lives in the layer's record: a command cut by the end of a read goes
  // on with the next read, byte by byte.
  SocketPair pair;
  Rig rig(pair.ours);
  Telnet& s = rig.t;
  std::string all = "A" + kTtypeSend + bytes({255, 255}) + "B";
  std::string data, replies;
  for (char c : all) {
    Fed f = feed(&s, pair, std::string(1, c));
    data += f.data;
    replies += f.replies;
  }
  EXPECT_EQ(data, bytes({'A', 255, 'B'}));
  EXPECT_EQ(replies, kIS + "ANSI" + kSE);
}

TEST(TelnetTerminalType, NamesRotateThroughTheList) {
  struct {
    int petscii;
    std::vector<std::string> names;
  } lists[] = {
      {0, {"ANSI", "ANSI-BBS", "VT100", "ANSI", "ANSI-BBS"}},
      {1, {"PETSCII", "C64", "COMMODORE", "PETSCII", "C64"}},
  };
  for (const auto& l : lists) {
    SocketPair pair;
    Rig rig(pair.ours);
    Telnet& s = rig.t;
    s.petscii = l.petscii;
    for (const auto& name : l.names) {
      EXPECT_EQ(feed(&s, pair, kTtypeSend).replies, kIS + name + kSE);
    }
    EXPECT_EQ(s.ttype_counter, 5);
  }
}

TEST(TelnetTerminalType, NegativeCounterStartsAgainAtTheFirstName) {
  SocketPair pair;
  Rig rig(pair.ours);
  Telnet& s = rig.t;
  s.ttype_counter = -7;
  EXPECT_EQ(feed(&s, pair, kTtypeSend).replies, kIS + "ANSI" + kSE);
  EXPECT_EQ(s.ttype_counter, 1);
}

TEST(TelnetReceive, EndlessSubnegotiationIsBoundedAndSwallowed) {
  SocketPair pair;
  Rig rig(pair.ours);
  Telnet& s = rig.t;
  std::string flood = bytes({255, 250, 24, 1});
  flood += std::string(100000, 'x');
  Fed f = feed(&s, pair, flood);
  EXPECT_EQ(f.data, "");
  EXPECT_EQ(f.replies, "");
  EXPECT_EQ(s.state, 3);
  EXPECT_EQ(s.sb_len, 1 + kTelnetSubnegMax);  // only the first 512 kept
  // When the server finally ends it, the kept bytes still say SEND.
  f = feed(&s, pair, bytes({255, 240}) + "ok");
  EXPECT_EQ(f.data, "ok");
  EXPECT_EQ(f.replies, kIS + "ANSI" + kSE);
}

TEST(TelnetReceive, EscapedIacInsideSubnegotiationIsStoredOnce) {
  SocketPair pair;
  Rig rig(pair.ours);
  Telnet& s = rig.t;
  feed(&s, pair, bytes({255, 250, 99, 'a', 255, 255, 'b', 255, 240}));
  ASSERT_EQ(s.sb_len, 3);
  EXPECT_EQ(s.sb_data[0], 'a');
  EXPECT_EQ(s.sb_data[1], 255);
  EXPECT_EQ(s.sb_data[2], 'b');
}

TEST(TelnetReceive, UnknownStateDropsEverything) {
  SocketPair pair;
  Rig rig(pair.ours);
  Telnet& s = rig.t;
  s.state = 9;
  Fed f = feed(&s, pair, bytes({'a', 255, 253, 24}));
  EXPECT_EQ(f.data, "");
  EXPECT_EQ(f.replies, "");
}

TEST(TelnetSend, RepliesAndOffersAreSingleSends) {
  SeqPacketPair pair;
  Rig rig(pair.ours);
  Telnet& s = rig.t;
  g_data.clear();
  for (int b : {255, 253, 31}) telnet_consume(&s, static_cast<uint8_t>(b), collect, nullptr);
  EXPECT_EQ(pair.next_message(), bytes({255, 251, 31}));
  EXPECT_EQ(pair.next_message(), bytes({255, 250, 31, 0, 80, 0, 25, 255, 240}));
  for (unsigned char c : kTtypeSend) telnet_consume(&s, c, collect, nullptr);
  EXPECT_EQ(pair.next_message(), kIS);
  EXPECT_EQ(pair.next_message(), "ANSI");
  EXPECT_EQ(pair.next_message(), kSE);

  telnet_send_opening_offers(&s);
  EXPECT_EQ(pair.next_message(), bytes({255, 251, 3}));
  EXPECT_EQ(pair.next_message(), bytes({255, 253, 3}));
  EXPECT_EQ(pair.next_message(), bytes({255, 251, 0}));
  EXPECT_EQ(pair.next_message(), bytes({255, 253, 0}));
  EXPECT_EQ(pair.next_message(), "");
}

TEST(TelnetSend, KeyBytesAndStringsDoubleIac) {
  SeqPacketPair pair;
  Rig rig(pair.ours);
  EXPECT_EQ(telnet_send_byte(&rig.t, 'a'), 0);
  EXPECT_EQ(pair.next_message(), "a");
  EXPECT_EQ(telnet_send_byte(&rig.t, 255), 0);
  EXPECT_EQ(pair.next_message(), bytes({255, 255}));

  // Each piece of up to 4096 input bytes goes out in one send, every 255
  // doubled; a longer string in as many sends as pieces.
  struct Case {
    const char* what;
    std::string input;
    std::vector<std::string> sends;
  };
  std::string mixed;
  for (int i = 0; i < 5000; i++)
    mixed.push_back(static_cast<char>(i % 7 == 0 ? 0xFF : 'a' + i % 26));
  auto doubled = [](const std::string& in) {
    std::string out;
    for (char c : in) {
      out.push_back(c);
      if (c == '\xff') out.push_back(c);
    }
    return out;
  };
  const Case cases[] = {
      {"32 IAC bytes", std::string(32, '\xff'), {std::string(64, '\xff')}},
      {"33 bytes, one IAC", std::string(32, 'x') + "\xff", {std::string(32, 'x') + "\xff\xff"}},
      {"a 1K block of IAC bytes", std::string(1029, '\xff'), {std::string(2058, '\xff')}},
      {"4096 bytes", std::string(4096, 'q'), {std::string(4096, 'q')}},
      {"5000 mixed bytes", mixed, {doubled(mixed.substr(0, 4096)), doubled(mixed.substr(4096))}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(
        telnet_send_data(&rig.t, reinterpret_cast<const uint8_t*>(c.input.data()), c.input.size()),
        0)
        << c.what;
    for (const std::string& want : c.sends) EXPECT_EQ(pair.next_message(), want) << c.what;
    EXPECT_EQ(pair.next_message(), "") << c.what;
  }

  // Nothing to send is success without a send.
  EXPECT_EQ(telnet_send_data(&rig.t, nullptr, 5), 0);
  EXPECT_EQ(telnet_send_data(&rig.t, reinterpret_cast<const uint8_t*>("abc"), 0), 0);
  EXPECT_EQ(pair.next_message(), "");
}

TEST(TelnetDisabled, BytesPassUnchangedBothWays) {
  // SSH and RLogin carry bytes as they are: no commands are read, nothing
  // is answered, 255 goes out once.
  SeqPacketPair pair;
  Rig rig(pair.ours);
  rig.t.enabled = 0;
  g_data.clear();
  std::string in = bytes({'a', 255, 253, 24, 0, 255, 255});
  for (unsigned char c : in) telnet_consume(&rig.t, c, collect, nullptr);
  EXPECT_EQ(g_data, in);
  telnet_send_opening_offers(&rig.t);
  EXPECT_EQ(pair.next_message(), "");
  EXPECT_EQ(telnet_send_data(&rig.t, reinterpret_cast<const uint8_t*>(in.data()), in.size()), 0);
  EXPECT_EQ(pair.next_message(), in);
}

TEST(TelnetSend, FailedSendsReportFailure) {
  SocketPair pair;
  close(pair.peer);
  pair.peer = -1;
  Rig rig(pair.ours);
  EXPECT_EQ(telnet_send_byte(&rig.t, 'a'), -1);
  std::string text(40, 'y');
  EXPECT_EQ(telnet_send_data(&rig.t, reinterpret_cast<const uint8_t*>(text.data()), 40), -1);
  EXPECT_EQ(telnet_send_data(&rig.t, reinterpret_cast<const uint8_t*>(text.data()), 3), -1);
  // Replies ignore the failure and the layer keeps going.
  Telnet& s = rig.t;
  g_data.clear();
  for (int b : {255, 253, 31, int{'z'}})
    telnet_consume(&s, static_cast<uint8_t>(b), collect, nullptr);
  EXPECT_EQ(g_data, "z");
}
