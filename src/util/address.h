// Addresses as users write them, in the phonebook and on the command line:
// "host", "host:port", "[v6addr]", "[v6addr]:port" or a bare IPv6 address,
// each optionally as "telnet://...[/]".  Text rules only, shared by the
// connection (which dials what they give) and the menu (which shows the port
// a call will use).  The link's own parser (link/address.cpp: the ssh://,
// telnets:// and rlogin:// forms) splits host and port with the same reader.
#pragma once
#include <cstddef>
#include <string_view>

// A host name longer than this cannot be a DNS name.
inline constexpr size_t kAddressMaxHostLength = 253;

// The host and the port of "host", "host:port", "[v6addr]", "[v6addr]:port"
// or a bare IPv6 address (more than one colon and no brackets: no port).
// *host is a view into text (without the brackets), *port the port the text
// names (1 to 65535) or 0 when it names none.  0 on success, -1 for an
// empty host, an unclosed bracket, text after "]" that is no ":port", or a
// port that is empty, not a number or out of range.
int address_host_port(std::string_view text, std::string_view* host, int* port);

// Copies the host of text into host (cap bytes) and sets *port only when the
// text names one (1 to 65535).  0 on success, -1 for a text that is no
// address (empty host, bad port, unclosed bracket, a host too long).
int address_split(const char* text, char* host, size_t cap, int* port);

// The port a call to text uses: the address's own when it names one, else
// port.
int address_port(const char* text, int port);
