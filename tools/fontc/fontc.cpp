// kavel-fontc: compiles the glyph sheets (and, for the PC sets, a console
// font read at build time) into the files of the program's Fonts drawer.
//
//   kavel-fontc --out FILE --height H [options] SHEET...
//
//   --format raw|amiga   raw: 256 glyphs x H bytes; amiga: a hunk-format disk font
//   --sheet-height S     rows drawn per glyph in the sheets (default H)
//   --psf FILE           take still-missing CP437 glyphs from a console font
//   --cp437-rules        draw box drawing, shades and blocks from rules
//   --c64-mirror         apply the PETSCII duplicate ranges
//   --require RANGES     fail unless these glyphs are defined, e.g. 1-254
//   --lo N --hi N --name TEXT --baseline N   disk font fields
//
// Order of the inputs: console fonts fill first, then the sheets in command
// line order (later ones win), then the rules, then the mirror.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "glyphs.h"

void fontc_fail(const std::string& message) {
  fprintf(stderr, "kavel-fontc: %s\n", message.c_str());
  exit(1);
}

void c64_apply_mirror(GlyphSet* set) {
  for (int c = 0; c < 32; c++) {
    set->rows[c] = {};
    set->defined[c] = true;
  }
  for (int c = 128; c < 160; c++) {
    set->rows[c] = {};
    set->defined[c] = true;
  }
  for (int c = 192; c <= 223; c++) {
    set->rows[c] = set->rows[c - 96];
    set->defined[c] = set->defined[c - 96];
  }
  for (int c = 224; c <= 254; c++) {
    set->rows[c] = set->rows[c - 64];
    set->defined[c] = set->defined[c - 64];
  }
  set->rows[255] = set->rows[126];
  set->defined[255] = set->defined[126];
}

int write_file_atomic(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::error_code ec;
  std::filesystem::path p(path);
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path(), ec);
  std::string tmp = path + ".tmp";
  FILE* f = fopen(tmp.c_str(), "wb");
  if (!f) return -1;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = (fclose(f) == 0) && ok;
  if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
    remove(tmp.c_str());
    return -1;
  }
  return 0;
}

int write_raw(const GlyphSet& set, const std::string& path) {
  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<size_t>(set.height) * 256);
  for (int c = 0; c < 256; c++) {
    for (int r = 0; r < set.height; r++) bytes.push_back(set.rows[c][r]);
  }
  return write_file_atomic(path, bytes);
}

namespace {

int parse_int(const char* text, int lo, int hi, const char* what) {
  char* end = nullptr;
  errno = 0;
  long v = strtol(text, &end, 0);
  if (errno || !end || *end || v < lo || v > hi) {
    fontc_fail(std::string("bad ") + what + ": " + text);
  }
  return static_cast<int>(v);
}

// "1-31,127": every listed glyph must be defined by now.
void check_required(const GlyphSet& set, const std::string& ranges, const std::string& out) {
  size_t pos = 0;
  std::string missing;
  while (pos < ranges.size()) {
    size_t comma = ranges.find(',', pos);
    std::string part =
        ranges.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    pos = comma == std::string::npos ? ranges.size() : comma + 1;
    size_t dash = part.find('-');
    int a = parse_int(part.substr(0, dash).c_str(), 0, 255, "range");
    int b =
        dash == std::string::npos ? a : parse_int(part.substr(dash + 1).c_str(), 0, 255, "range");
    for (int c = a; c <= b; c++) {
      if (!set.defined[c]) {
        char buf[8];
        snprintf(buf, sizeof buf, " 0x%02X", c);
        missing += buf;
      }
    }
  }
  if (!missing.empty()) fontc_fail(out + ": no picture for" + missing);
}

}  // namespace

int main(int argc, char** argv) {
  std::string out, format = "raw", require, name = "font";
  int height = 0, sheet_height = 0, lo = 32, hi = 255, baseline = -1;
  bool rules = false, mirror = false;
  std::vector<std::string> psfs, sheets;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    auto value = [&](const char* opt) -> const char* {
      if (i + 1 >= argc) fontc_fail(std::string(opt) + " needs a value");
      return argv[++i];
    };
    if (a == "--out") {
      out = value("--out");
    } else if (a == "--height") {
      height = parse_int(value("--height"), 1, kMaxRows, "height");
    } else if (a == "--sheet-height") {
      sheet_height = parse_int(value("--sheet-height"), 1, kMaxRows, "sheet height");
    } else if (a == "--format") {
      format = value("--format");
    } else if (a == "--psf") {
      psfs.push_back(value("--psf"));
    } else if (a == "--cp437-rules") {
      rules = true;
    } else if (a == "--c64-mirror") {
      mirror = true;
    } else if (a == "--require") {
      require = value("--require");
    } else if (a == "--lo") {
      lo = parse_int(value("--lo"), 0, 255, "lo");
    } else if (a == "--hi") {
      hi = parse_int(value("--hi"), 0, 255, "hi");
    } else if (a == "--name") {
      name = value("--name");
    } else if (a == "--baseline") {
      baseline = parse_int(value("--baseline"), 0, kMaxRows - 1, "baseline");
    } else if (!a.empty() && a[0] == '-') {
      fontc_fail("unknown option " + a);
    } else {
      sheets.push_back(a);
    }
  }
  if (out.empty() || height == 0)
    fontc_fail("usage: kavel-fontc --out FILE --height H [options] SHEET...");
  if (format != "raw" && format != "amiga") fontc_fail("unknown format " + format);
  if (sheet_height == 0) sheet_height = height;

  GlyphSet set;
  set.height = height;
  for (const std::string& p : psfs) psf_fill_cp437(&set, p);
  for (const std::string& s : sheets) sheet_load(&set, s, sheet_height);
  if (rules) cp437_apply_rules(&set);
  if (mirror) c64_apply_mirror(&set);
  if (!require.empty()) check_required(set, require, out);

  int rc = 0;
  if (format == "raw") {
    rc = write_raw(set, out);
  } else {
    if (baseline < 0 || baseline >= height)
      fontc_fail("--baseline is required and below the height");
    rc = write_amiga_diskfont(set, out, lo, hi, name, baseline);
  }
  if (rc != 0) fontc_fail(out + ": cannot write: " + strerror(errno));
  return 0;
}
