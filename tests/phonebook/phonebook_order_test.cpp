// Sort orders, finding an entry again after edits, the type labels and the
// console listing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pb_test_util.h"
#include "phonebook/phonebook.h"

namespace {

std::vector<std::string> names(TestBook* book) {
  std::vector<std::string> out;
  for (uint32_t i = 0; i < book->pb.count; i++) out.push_back((*book)[i].name);
  return out;
}

void add(TestBook* book, PhoneEntry e) {
  ASSERT_EQ(phonebook_append(book->get(), &e), 0);
}

PhoneEntry fav(PhoneEntry e) {
  e.favourite = 1;
  return e;
}

PhoneEntry with_software(PhoneEntry e, const char* software) {
  safe_copy(e.software, sizeof e.software, software);
  return e;
}

}  // namespace

TEST(PhonebookSort, ByNameFavouritesFirstThenFoldedNameAddressPort) {
  TestBook book;
  add(&book, make_entry("beta", "h", 23));
  add(&book, make_entry("Alpha", "b.example", 23));
  add(&book, fav(make_entry("zulu", "h", 23)));
  add(&book, make_entry("alpha", "a.example", 2323));
  add(&book, make_entry("alpha", "a.example", 23));
  add(&book, make_entry("_under", "h", 23));
  add(&book, make_entry("alph", "z", 1));
  add(&book, fav(make_entry("Mike", "h", 23)));
  phonebook_sort_alpha(book.get());
  std::vector<std::string> want = {"Mike",  "zulu",  "_under", "alph",
                                   "alpha", "alpha", "Alpha",  "beta"};
  // "_" (0x5F) is below the folded letters (0x61..), so it sorts first.
  EXPECT_EQ(names(&book), want);
  EXPECT_EQ(book[4].port, 23);
  EXPECT_EQ(book[5].port, 2323);
  EXPECT_STREQ(book[6].address, "b.example");

  // Names differing only in ASCII case compare equal on the name.
  PhoneEntry a = make_entry("ABC", "x");
  PhoneEntry b = make_entry("abc", "x");
  EXPECT_EQ(phoneentry_name_compare(&a, &b), 0);
  // Bytes above ASCII are not folded and compare unsigned.
  PhoneEntry hi = make_entry("\xc4pfel", "x");
  PhoneEntry lo = make_entry("zebra", "x");
  EXPECT_GT(phoneentry_name_compare(&hi, &lo), 0);
  // Ports far apart do not overflow the comparison.
  PhoneEntry p1 = make_entry("n", "h", -2147483647 - 1);
  PhoneEntry p2 = make_entry("n", "h", 2147483647);
  EXPECT_LT(phoneentry_name_compare(&p1, &p2), 0);
  EXPECT_GT(phoneentry_name_compare(&p2, &p1), 0);
}

TEST(PhonebookSort, ByTypeUsesTheLabelThenTheNameOrder) {
  TestBook book;
  add(&book, make_entry("c64 board", "h", 23, "C64 Up/GFX [40]"));
  add(&book, with_software(make_entry("sync", "h", 23), "  Synchronet"));
  add(&book, make_entry("pc board", "h", 23, ""));
  add(&book, with_software(make_entry("mystic", "h", 23), "mystic"));
  add(&book, fav(make_entry("zz favourite", "h", 23, "Topaz (Amiga)")));
  add(&book, make_entry("another pc", "h", 23, "CP437"));
  phonebook_sort_type(book.get());
  std::vector<std::string> want = {"zz favourite", "c64 board", "another pc",
                                   "pc board",     "mystic",    "sync"};
  EXPECT_EQ(names(&book), want);

  TestBook tiny;
  phonebook_sort_type(tiny.get());
  phonebook_sort_alpha(nullptr);
  EXPECT_EQ(tiny->count, 0u);
}

TEST(PhonebookIdentity, FindsTheDialledEntryAfterEdits) {
  TestBook book;
  add(&book, make_entry("Other", "other.example", 23));
  add(&book, make_entry("Target", "bbs.example", 2323, ""));
  add(&book, make_entry("Renamed twin", "bbs.example", 2323, "CP437"));
  PhoneEntry snapshot = book[1];

  EXPECT_EQ(phonebook_find_entry_identity(book.get(), &snapshot), 1);
  // Sorting moves it; the search follows.
  phonebook_sort_alpha(book.get());
  ASSERT_EQ(names(&book), (std::vector<std::string>{"Other", "Renamed twin", "Target"}));
  EXPECT_EQ(phonebook_find_entry_identity(book.get(), &snapshot), 2);
  // Made a favourite during the session: same target with the same name wins
  // over the earlier twin that has the same address.
  book[2].favourite = 1;
  EXPECT_EQ(phonebook_find_entry_identity(book.get(), &snapshot), 2);
  // Renamed: the first entry with the same address, port and font.
  safe_copy(book[2].name, sizeof book[2].name, "New name");
  EXPECT_EQ(phonebook_find_entry_identity(book.get(), &snapshot), 1);
  // A different port, address or font is a different BBS.
  book[1].port = 23;
  book[2].port = 23;
  EXPECT_EQ(phonebook_find_entry_identity(book.get(), &snapshot), -1);
  book[1].port = 2323;
  safe_copy(book[1].font, sizeof book[1].font, "Topaz (Amiga)");
  EXPECT_EQ(phonebook_find_entry_identity(book.get(), &snapshot), -1);

  TestBook empty;
  EXPECT_EQ(phonebook_find_entry_identity(empty.get(), &snapshot), -1);
  EXPECT_EQ(phoneentry_same_identity(nullptr, &snapshot), 0);
  PhoneEntry a = make_entry("n", "h", 23, "");
  PhoneEntry b = make_entry("n", "h", 23, "CP437");
  EXPECT_EQ(phoneentry_same_identity(&a, &b), 1);
  b.favourite = 1;
  EXPECT_EQ(phoneentry_same_identity(&a, &b), 0);
  EXPECT_EQ(phoneentry_same_dial_target(&a, &b, 1), 1);
  b.terminal = kTerminalPetscii;
  safe_copy(b.name, sizeof b.name, "N");
  EXPECT_EQ(phoneentry_same_dial_target(&a, &b, 1), 0);
  EXPECT_EQ(phoneentry_same_dial_target(&a, &b, 0), 1);
}

TEST(PhonebookLabels, FontAndTypeLabels) {
  struct Case {
    const char* font;
    const char* label;
  };
  const Case cases[] = {
      {"", "CP437"},
      {"termibm80.font", "CP437"},
      {"IBM 437", "CP437"},
      {"Topaz (1200)", "Topaz (1200)"},
      {"topaz+1200.font", "Topaz (1200)"},
      {"Topaz (Amiga)", "Topaz (Amiga)"},
      {"  topaz.font ", "Topaz (Amiga)"},
      {"C64 Low/Up [80]", "C64 Low/Up [80]"},
      {"C64 Low/Up [40]", "C64 Low/Up [40]"},
      {"C64 Up/GFX [80]", "C64 Up/GFX [80]"},
      {"commodore", "C64 Up/GFX [40]"},
      {"c64 80col", "C64 Up/GFX [80]"},
      {" Courier New.font ", "Courier New"},
      {"X.FONT", "X"},
      {".font", ".font"},
      {"ibm vga", "ibm vga"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.font);
    EXPECT_STREQ(display_font_name(c.font), c.label);
  }
  EXPECT_STREQ(display_font_name(nullptr), "CP437");
  EXPECT_EQ(strlen(display_font_name(std::string(300, 'q').c_str())), 79u);

  PhoneEntry e = with_software(make_entry("n", "h", 23, "Topaz (Amiga)"), " \t Mystic BBS ");
  EXPECT_STREQ(entry_type_display(&e), "Mystic BBS ");
  safe_copy(e.software, sizeof e.software, " \t ");
  EXPECT_STREQ(entry_type_display(&e), "Topaz (Amiga)");
  e.font[0] = '\0';
  EXPECT_STREQ(entry_type_display(&e), "CP437");
  EXPECT_STREQ(entry_type_display(nullptr), "CP437");
}

TEST(PhonebookList, ConsoleListing) {
  char* buf = nullptr;
  size_t len = 0;
  TestBook book;
  FILE* f = open_memstream(&buf, &len);
  phonebook_list(book.get(), f);
  fclose(f);
  EXPECT_EQ(std::string(buf, len), "Phone book is empty.\n");
  free(buf);

  add(&book, fav(make_entry("Fav", "fav.example", 2323)));
  add(&book, with_software(make_entry(std::string(79, 'N'), "h", 23, "C64 Up/GFX [40]"), "Soft"));
  f = open_memstream(&buf, &len);
  phonebook_list(book.get(), f);
  fclose(f);
  std::string want =
      "\nPhone book entries:\n"
      "    BBS Name                 Address                          Port  Type\n"
      "    --------                 -------                          ----  ----\n"
      " 1. * Fav                    fav.example                      2323  CP437\n"
      " 2. " +
      std::string(79, 'N') + " h                                23    Soft\n";
  EXPECT_EQ(std::string(buf, len), want);
  free(buf);
}
