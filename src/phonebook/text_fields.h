// Small byte-string helpers shared by the phonebook, preferences and list
// readers.  They work on ASCII only: stored files are bytes in no particular
// character set, and the locale must not change how they are read.
#pragma once
#include <cstdint>

// The white space that trim() removes: space, \t, \n, \v, \f, \r.
bool pb_is_blank(char c);
// Case-insensitive for "A".."Z" only, otherwise byte order (unsigned).
int pb_ascii_casecmp(const char* a, const char* b);
// Case-insensitive ("A".."Z") substring test; an empty needle always matches.
bool pb_ascii_contains(const char* haystack, const char* needle);
// Reads an optional sign and at least one decimal digit at the start of text
// (no leading blanks), saturating at the range of long.  Returns the position
// after the digits, or null when the text does not start with a number.
const char* pb_parse_leading_long(const char* text, long* value);
// A text that starts with a number in 1..65535 gives that number, anything
// else the Telnet port 23.
int32_t pb_parse_port(const char* text);
// 1 when the text starts with a non-zero number, else 0.
int pb_parse_flag(const char* text);
