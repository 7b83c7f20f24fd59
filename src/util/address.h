// Addresses as users write them, in the phonebook and on the command line:
// "host", "host:port", "[v6addr]", "[v6addr]:port" or a bare IPv6 address,
// each optionally as "telnet://...[/]".  Text rules only, shared by the
// connection (which dials what they give) and the menu (which shows the port
// a call will use).
#pragma once
#include <cstddef>

// A host name longer than this cannot be a DNS name.
inline constexpr size_t kAddressMaxHostLength = 253;

// Copies the host of text into host (cap bytes) and sets *port only when the
// text names one (1 to 65535).  0 on success, -1 for a text that is no
// address (empty host, bad port, unclosed bracket, a host too long).
int address_split(const char* text, char* host, size_t cap, int* port);

// The port a call to text uses: the address's own when it names one, else
// port.
int address_port(const char* text, int port);
