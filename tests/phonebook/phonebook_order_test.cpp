// Sort orders, finding an entry again after edits, the type labels and the
// console listing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pb_test_util.h"

namespace {

std::vector<std::string> names(TestBook* book) {
  std::vector<std::string> out;
  for (uint32_t i = 0; i < book->pb.count; i++) out.push_back((*book)[i].name);
  return out;
}

PhoneEntry fav(PhoneEntry e) {
  e.favourite = 1;
  return e;
}

PhoneEntry soft(PhoneEntry e, const char* software) {
  safe_copy(e.software, sizeof e.software, software);
  return e;
}

void fill(TestBook* book, const std::vector<PhoneEntry>& entries) {
  for (const PhoneEntry& e : entries) ASSERT_EQ(phonebook_append(book->get(), &e), 0);
}

}  // namespace

TEST(PhonebookOrder, SortsPutFavouritesFirst) {
  TestBook book;
  fill(&book,
       {make_entry("beta", "h"), make_entry("Alpha", "b.example"), fav(make_entry("zulu", "h")),
        make_entry("alpha", "a.example", 2323), make_entry("alpha", "a.example", 23),
        make_entry("_under", "h"), make_entry("alph", "z", 1), fav(make_entry("Mike", "h"))});
  phonebook_sort_alpha(book.get());
  // Only A..Z fold, so "_" (0x5F) sorts before the folded letters.
  EXPECT_EQ(names(&book), (std::vector<std::string>{"Mike", "zulu", "_under", "alph", "alpha",
                                                    "alpha", "Alpha", "beta"}));
  EXPECT_EQ(book[4].port, 23);
  EXPECT_EQ(book[5].port, 2323);
  PhoneEntry hi = make_entry("\xc4pfel", "x"), lo = make_entry("zebra", "x");
  EXPECT_GT(phoneentry_name_compare(&hi, &lo), 0);
  PhoneEntry p1 = make_entry("n", "h", -2147483647 - 1), p2 = make_entry("n", "h", 2147483647);
  EXPECT_LT(phoneentry_name_compare(&p1, &p2), 0);

  TestBook typed;
  fill(&typed, {make_entry("c64 board", "h", 23, "C64 Up/GFX [40]"),
                soft(make_entry("sync", "h"), "  Synchronet"), make_entry("pc board", "h", 23, ""),
                soft(make_entry("mystic", "h"), "mystic"),
                fav(make_entry("zz", "h", 23, "Topaz (Amiga)")), make_entry("another pc", "h")});
  phonebook_sort_type(typed.get());
  EXPECT_EQ(names(&typed), (std::vector<std::string>{"zz", "c64 board", "another pc", "pc board",
                                                     "mystic", "sync"}));
}

TEST(PhonebookOrder, FindsTheDialledEntryAfterEdits) {
  TestBook book;
  fill(&book, {make_entry("Other", "other.example"), make_entry("Target", "bbs.example", 2323, ""),
               make_entry("Twin", "bbs.example", 2323, "CP437")});
  const PhoneEntry snapshot = book[1];
  phonebook_sort_alpha(book.get());  // Other, Target, Twin
  EXPECT_EQ(phonebook_find_entry_identity(book.get(), &snapshot), 1);
  // Made a favourite: the same target with the same name beats the earlier twin.
  book[1].favourite = 1;
  phonebook_sort_alpha(book.get());  // Target, Other, Twin
  EXPECT_EQ(phonebook_find_entry_identity(book.get(), &snapshot), 0);
  // Renamed: the first entry with the same address, port and font.
  safe_copy(book[0].name, sizeof book[0].name, "New name");
  EXPECT_EQ(phonebook_find_entry_identity(book.get(), &snapshot), 0);
  book[0].port = 23;
  EXPECT_EQ(phonebook_find_entry_identity(book.get(), &snapshot), 2);
  safe_copy(book[2].font, sizeof book[2].font, "Topaz (Amiga)");
  EXPECT_EQ(phonebook_find_entry_identity(book.get(), &snapshot), -1);
  TestBook empty;
  EXPECT_EQ(phonebook_find_entry_identity(empty.get(), &snapshot), -1);
  EXPECT_EQ(phoneentry_same_identity(nullptr, &snapshot), 0);
}

TEST(PhonebookOrder, RemovingAndSortingFollowTheEntries) {
  TestBook book;
  fill(&book, {make_entry("delta", "d"), make_entry("alpha", "a"), make_entry("charlie", "c"),
               make_entry("bravo", "b")});
  // The entry that was selected is found where the sort put it.
  EXPECT_EQ(phonebook_sort_following(book.get(), 0, 2), 2);
  EXPECT_EQ(names(&book), (std::vector<std::string>{"alpha", "bravo", "charlie", "delta"}));
  EXPECT_EQ(phonebook_sort_following(book.get(), 0, 3), 3);
  EXPECT_EQ(phonebook_sort_following(book.get(), 0, 99), 0);  // out of range: nothing moves
  phonebook_remove(book.get(), 1);
  EXPECT_EQ(names(&book), (std::vector<std::string>{"alpha", "charlie", "delta"}));
  phonebook_remove(book.get(), 2);  // the last one
  phonebook_remove(book.get(), 5);  // out of range: ignored
  phonebook_remove(book.get(), -1);
  EXPECT_EQ(names(&book), (std::vector<std::string>{"alpha", "charlie"}));
  phonebook_remove(book.get(), 0);
  phonebook_remove(book.get(), 0);
  EXPECT_EQ(book.pb.count, 0u);
  phonebook_remove(book.get(), 0);  // empty: ignored
  EXPECT_EQ(book.pb.count, 0u);
}

TEST(PhonebookOrder, TypeLabels) {
  const char* cases[][2] = {
      {"", "CP437"},
      {"termibm80.font", "CP437"},
      {"topaz+1200.font", "Topaz (1200)"},
      {"  topaz.font ", "Topaz (Amiga)"},
      {"C64 Low/Up [80]", "C64 Low/Up [80]"},
      {"C64 Low/Up [40]", "C64 Low/Up [40]"},
      {"commodore", "C64 Up/GFX [40]"},
      {"c64 80col", "C64 Up/GFX [80]"},
      {" Courier New.font ", "Courier New"},
      {"X.FONT", "X"},
      {".font", ".font"},
  };
  for (const auto& c : cases) EXPECT_STREQ(display_font_name(c[0]), c[1]) << c[0];
  EXPECT_EQ(strlen(display_font_name(std::string(300, 'q').c_str())), 79u);

  PhoneEntry e = soft(make_entry("n", "h", 23, "Topaz (Amiga)"), " \t Mystic BBS ");
  EXPECT_STREQ(entry_type_display(&e), "Mystic BBS ");
  safe_copy(e.software, sizeof e.software, " \t ");
  EXPECT_STREQ(entry_type_display(&e), "Topaz (Amiga)");
  EXPECT_STREQ(entry_type_display(nullptr), "CP437");
}

TEST(PhonebookOrder, ConsoleListing) {
  char* buf = nullptr;
  size_t len = 0;
  TestBook book;
  FILE* f = open_memstream(&buf, &len);
  phonebook_list(book.get(), f);
  fill(&book, {fav(make_entry("Fav", "fav.example", 2323)),
               soft(make_entry(std::string(79, 'N'), "h", 23, "C64 Up/GFX [40]"), "Soft"),
               make_entry("Own", "127.0.0.1:2331", 23)});
  phonebook_list(book.get(), f);
  fclose(f);
  EXPECT_EQ(std::string(buf, len),
            "Phone book is empty.\n"
            "\nPhone book entries:\n"
            "    BBS Name                 Address                          Port  Type\n"
            "    --------                 -------                          ----  ----\n"
            " 1. * Fav                    fav.example                      2323  CP437\n"
            " 2. " +
                std::string(79, 'N') + " h                                23    Soft\n" +
                // the port written in the address is the one the call uses
                " 3. Own                      127.0.0.1:2331                   2331  CP437\n");
  free(buf);
}
