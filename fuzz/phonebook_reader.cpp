// layers: phonebook
// Feeds arbitrary bytes to the phonebook reader.  Beyond not crashing, what
// was read must survive a write and a second read: writing it again gives
// the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "phonebook/phonebook.h"

namespace {

std::string serialise(const Phonebook& pb) {
  char* buf = nullptr;
  size_t len = 0;
  FILE* f = open_memstream(&buf, &len);
  if (!f) abort();
  for (uint32_t i = 0; i < pb.count; i++) phonebook_write_entry(f, &pb.entries[i]);
  fclose(f);
  std::string s(buf, len);
  free(buf);
  return s;
}

void load(Phonebook* pb, const void* data, size_t size) {
  if (size == 0) {
    phonebook_free(pb);
    return;
  }
  FILE* f = fmemopen(const_cast<void*>(data), size, "r");
  if (!f) abort();
  if (phonebook_load_stream(pb, f) != 0) abort();
  fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Phonebook first{};
  load(&first, data, size);
  std::string once = serialise(first);
  Phonebook second{};
  load(&second, once.data(), once.size());
  if (second.count != first.count) abort();
  if (serialise(second) != once) abort();
  phonebook_free(&first);
  phonebook_free(&second);
  return 0;
}
