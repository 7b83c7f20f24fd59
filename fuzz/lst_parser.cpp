// layers: phonebook
// Feeds arbitrary bytes to the SyncTERM list reader.  Every entry it makes
// must be complete and normalised, and reading the same list a second time
// must not add anything: every section then finds its entry again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "phonebook/import.h"

namespace {

void read_list(Phonebook* pb, const uint8_t* data, size_t size, int counts[3]) {
  counts[0] = counts[1] = counts[2] = 0;
  if (size == 0) return;
  FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "r");
  if (!f) abort();
  if (import_read_stream(pb, f, &counts[0], &counts[1], &counts[2]) != 0) abort();
  fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Phonebook pb{};
  int first[3], second[3];
  read_list(&pb, data, size, first);
  if (static_cast<uint32_t>(first[0]) != pb.count) abort();
  for (uint32_t i = 0; i < pb.count; i++) {
    const PhoneEntry& e = pb.entries[i];
    if (!e.name[0] || !e.address[0] || e.port < 1 || e.port > 65535) abort();
    if (e.terminal != kTerminalAnsi || strcmp(e.font, "CP437") != 0) abort();
  }
  uint32_t count = pb.count;
  read_list(&pb, data, size, second);
  if (second[0] != 0 || pb.count != count) abort();
  if (second[1] + second[2] != first[0] + first[1] + first[2]) abort();
  phonebook_free(&pb);
  return 0;
}
