// Fixed-capacity text helpers shared by every subsystem.
#pragma once
#include <cstddef>

// Copies at most cap - 1 bytes of src into dst and always terminates it.
// A null src gives an empty string; a cap of 0 writes nothing.
void safe_copy(char* dst, size_t cap, const char* src);

// Removes leading and trailing white space (space, \t, \n, \v, \f, \r) in place.
void trim(char* s);
