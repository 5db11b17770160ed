// dbcpack_gen_tables: writes the benchmark tables for bench/run.sh.
//
//   dbcpack_gen_tables [--scale F] [--describe] OUTDIR
//
// Writes, below OUTDIR (which should lie outside the repository):
//   wide.csv     ~150 MB x F, 100 columns: int 60 %, float 20 %, byte 5 %,
//                string 15 % (heavily repeated strings plus some unique ones)
//   numeric.csv  ~100 MB x F, 40 columns of int and float
//   strings.csv  ~100 MB x F, 3 int columns and 5 long string columns
//   small/dirNNN/tNNNN.csv  2000 x F tables of ~8 KB in 100 x F folders
//   manifest.txt one line per table: path, records, fields, record size, bytes
//
// Every table is valid in the dbcpack input dialect (see README.md):
// a header of int/float/byte/string, numeric fields bare, strings in double
// quotes with "" for a quote and \n for a line feed, lines ending in "\n".
//
// The output is a pure function of the scale: the only source of randomness
// is std::mt19937_64 with a fixed seed, whose output sequence the standard
// fixes, and every distribution and every number format below is our own
// integer code, so no library's distribution or printf implementation can
// change a byte. Never draw twice from the generator within one function
// call's arguments: their order of evaluation is unspecified.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Bump when the output for a given scale changes, so run.sh regenerates.
constexpr int kFormatVersion = 1;

constexpr std::uint64_t kSeed = 0x646263706163'6b31ULL;  // "dbcpack1"

class Rng {
 public:
  explicit Rng(std::uint64_t seed) : engine_(seed) {}
  std::uint64_t Next() { return engine_(); }
  // Uniform in [0, n), n > 0. The modulo bias (< n / 2^64) is irrelevant
  // here; what matters is that the mapping is fixed.
  std::uint64_t Below(std::uint64_t n) { return engine_() % n; }
  std::int64_t Range(std::int64_t lo, std::int64_t hi) {  // inclusive
    return lo + static_cast<std::int64_t>(Below(static_cast<std::uint64_t>(hi - lo) + 1));
  }
  // True with probability per_mille / 1000.
  bool Chance(std::uint32_t per_mille) { return Below(1000) < per_mille; }
  // Skewed pick in [0, n): small indices are far more likely (density
  // falls like x^-2/3), giving the heavy repetition of real tables.
  std::uint64_t Skewed(std::uint64_t n) {
    const std::uint64_t u = Below(1u << 20);
    const std::uint64_t cube = (((u * u) >> 20) * u) >> 20;
    return (cube * n) >> 20;
  }

 private:
  std::mt19937_64 engine_;
};

constexpr std::array<std::string_view, 64> kWords = {
    "sword",  "shield",  "potion", "iron",   "golden", "ancient", "dragon",  "scale",
    "mail",   "leather", "boots",  "of",     "the",    "night",   "fire",    "frost",
    "arcane", "staff",   "bow",    "arrow",  "quiver", "ring",    "amulet",  "cloak",
    "helm",   "greaves", "bracer", "belt",   "gem",    "ruby",    "emerald", "sapphire",
    "quest",  "reward",  "vendor", "price",  "level",  "rank",    "guild",   "castle",
    "forest", "cave",    "temple", "harbor", "north",  "south",   "east",    "west",
    "a",      "an",      "and",    "with",   "from",   "to",      "is",      "not",
    "Lord",   "Lady",    "King",   "Queen",  "Storm",  "Shadow",  "Light",   "Stone",
};

// Raw (unescaped) text of words and punctuation, about `target` bytes.
// With `specials`, some values get commas, double quotes and line feeds.
std::string MakeText(Rng& rng, std::size_t target, bool specials) {
  std::string s;
  while (s.size() < target) {
    if (!s.empty()) {
      const std::uint64_t p = rng.Below(100);
      if (specials && p < 6) {
        s += ", ";
      } else if (specials && p < 8) {
        s += " \"";
        s += kWords[rng.Below(kWords.size())];
        s += "\" ";
      } else if (specials && p < 9) {
        s += '\n';
      } else if (p < 12) {
        s += ". ";
      } else {
        s += ' ';
      }
    }
    s += kWords[rng.Below(kWords.size())];
    if (rng.Chance(30)) {
      char digits[24];
      auto r = std::to_chars(digits, digits + sizeof digits, rng.Below(10000));
      s.append(digits, r.ptr);
    }
  }
  return s;
}

// Raw text of random letters and digits, exactly n bytes: unique values.
std::string MakeNoise(Rng& rng, std::size_t n, std::uint64_t serial) {
  static constexpr char kAlphabet[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 _-.:/";
  std::string s = "#";
  char digits[24];
  auto r = std::to_chars(digits, digits + sizeof digits, serial);
  s.append(digits, r.ptr);
  s += ' ';
  while (s.size() < n) {
    std::uint64_t bits = rng.Next();
    for (int i = 0; i < 8 && s.size() < n; ++i, bits >>= 8) {
      s += kAlphabet[(bits & 0xff) % (sizeof kAlphabet - 1)];
    }
  }
  return s;
}

// The field as written in the CSV: "" for ", \n for a line feed.
std::string Quote(std::string_view raw) {
  std::string q;
  q.reserve(raw.size() + 8);
  q += '"';
  for (char c : raw) {
    if (c == '"') {
      q += "\"\"";
    } else if (c == '\n') {
      q += "\\n";
    } else {
      q += c;
    }
  }
  q += '"';
  return q;
}

void AppendInt(std::string& out, std::int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

// Digits of v, left-padded with zeros to at least `width` digits.
void AppendPadded(std::string& out, std::uint64_t v, int width) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  for (int n = static_cast<int>(r.ptr - buf); n < width; ++n) out += '0';
  out.append(buf, r.ptr);
}

// Kinds of int column, so values look like real tables: ids, small enums,
// wide random values, signed values.
enum class IntKind { Id, Enum, Wide, Signed, Mixed };

void AppendIntValue(std::string& out, Rng& rng, IntKind kind, std::uint64_t row) {
  switch (kind) {
    case IntKind::Id:
      AppendInt(out, static_cast<std::int64_t>(row) + 1);
      return;
    case IntKind::Enum:
      AppendInt(out, rng.Range(0, 15));
      return;
    case IntKind::Wide:
      AppendInt(out, rng.Range(0, 2147483647));
      return;
    case IntKind::Signed:
      AppendInt(out, rng.Range(-100000, 100000));
      return;
    case IntKind::Mixed: {
      const std::uint64_t p = rng.Below(1000);
      if (p < 500) {
        AppendInt(out, rng.Range(0, 999));
      } else if (p < 800) {
        AppendInt(out, rng.Range(-99999, 99999));
      } else if (p < 990) {
        AppendInt(out, rng.Range(-2147483647 - 1, 2147483647));
      } else if (p < 995) {
        out += (p & 1) ? "2147483647" : "-2147483648";
      } else if (p < 997) {
        out += '+';  // an explicit sign
        AppendInt(out, rng.Range(0, 9999));
      } else {
        // Out of the 32-bit range: the converter clamps it.
        AppendInt(out, rng.Range(2147483648LL, 99999999999LL) * ((p & 1) ? 1 : -1));
      }
      return;
    }
  }
}

// A float in one of the forms tables use: 123.456, -0.5, 17, 1e5, 3.25E-3,
// and rarely .5, 7., 1d2 and +2.5.
void AppendFloatValue(std::string& out, Rng& rng) {
  const std::uint64_t p = rng.Below(1000);
  if (rng.Chance(300)) out += '-';
  if (p < 450) {  // fixed point, 1..6 decimals
    AppendInt(out, rng.Range(0, 99999));
    out += '.';
    const int decimals = static_cast<int>(rng.Range(1, 6));
    std::uint64_t limit = 1;
    for (int i = 0; i < decimals; ++i) limit *= 10;
    AppendPadded(out, rng.Below(limit), decimals);
  } else if (p < 600) {  // small fraction
    out += "0.";
    const int width = static_cast<int>(rng.Range(1, 3));
    AppendPadded(out, rng.Below(1000), width);
  } else if (p < 750) {  // whole number
    AppendInt(out, rng.Range(0, 100000));
  } else if (p < 850) {  // 1e5 / 3E-3
    AppendInt(out, rng.Range(1, 9));
    out += rng.Chance(500) ? 'e' : 'E';
    AppendInt(out, rng.Range(-12, 12));
  } else if (p < 980) {  // 3.25E-3 / 1.5e+10
    AppendInt(out, rng.Range(1, 9));
    out += '.';
    const int width = static_cast<int>(rng.Range(1, 4));
    AppendPadded(out, rng.Below(10000), width);
    out += rng.Chance(500) ? 'e' : 'E';
    const std::int64_t e = rng.Range(-30, 30);
    if (e >= 0 && rng.Chance(300)) out += '+';
    AppendInt(out, e);
  } else if (p < 985) {
    out += '.';
    AppendInt(out, rng.Range(0, 999));
  } else if (p < 990) {
    AppendInt(out, rng.Range(0, 999));
    out += '.';
  } else if (p < 995) {  // Fortran exponent
    AppendInt(out, rng.Range(1, 9));
    out += rng.Chance(500) ? 'd' : 'D';
    AppendInt(out, rng.Range(-5, 5));
  } else {
    out += "0";
  }
}

void AppendByteValue(std::string& out, Rng& rng) {
  const std::uint64_t p = rng.Below(1000);
  if (p < 990) {
    AppendInt(out, rng.Range(0, 255));
  } else if (p < 995) {
    out += "-1";
  } else {
    AppendInt(out, rng.Range(256, 1000));  // keeps the low 8 bits
  }
}

enum class Type { Int, Float, Byte, String };

constexpr std::string_view Keyword(Type t) {
  switch (t) {
    case Type::Int:
      return "int";
    case Type::Float:
      return "float";
    case Type::Byte:
      return "byte";
    case Type::String:
      return "string";
  }
  return "";
}

constexpr int Width(Type t) { return t == Type::Byte ? 1 : 4; }

struct Column {
  Type type;
  IntKind int_kind = IntKind::Mixed;
  int string_pool = 0;  // which pool a string column draws from
};

template <typename T>
void Shuffle(std::vector<T>& v, Rng& rng) {  // Fisher-Yates, our own
  for (std::size_t i = v.size(); i > 1; --i) {
    std::swap(v[i - 1], v[rng.Below(i)]);
  }
}

std::vector<Column> MakeColumns(Rng& rng, int ints, int floats, int bytes, int strings,
                                bool first_is_id) {
  std::vector<Column> cols;
  static constexpr IntKind kKinds[] = {IntKind::Enum, IntKind::Wide, IntKind::Signed,
                                       IntKind::Mixed, IntKind::Mixed};
  for (int i = 0; i < ints; ++i) cols.push_back({Type::Int, kKinds[rng.Below(5)], 0});
  for (int i = 0; i < floats; ++i) cols.push_back({Type::Float});
  for (int i = 0; i < bytes; ++i) cols.push_back({Type::Byte});
  for (int i = 0; i < strings; ++i) cols.push_back({Type::String, IntKind::Mixed, i});
  Shuffle(cols, rng);
  if (first_is_id) {
    // Put an int column first and make it the record id, as tables do.
    auto it =
        std::find_if(cols.begin(), cols.end(), [](const Column& c) { return c.type == Type::Int; });
    if (it != cols.end()) {
      std::iter_swap(cols.begin(), it);
      cols.front().int_kind = IntKind::Id;
    }
  }
  return cols;
}

std::string HeaderLine(const std::vector<Column>& cols) {
  std::string h;
  for (std::size_t i = 0; i < cols.size(); ++i) {
    if (i) h += ',';
    h += Keyword(cols[i].type);
  }
  h += '\n';
  return h;
}

int RecordSize(const std::vector<Column>& cols) {
  int n = 0;
  for (const Column& c : cols) n += Width(c.type);
  return n;
}

// Buffered writer that counts bytes.
class Out {
 public:
  explicit Out(const std::filesystem::path& path) : path_(path) {
    file_ = std::fopen(path.string().c_str(), "wb");
    if (!file_) {
      std::fprintf(stderr, "dbcpack_gen_tables: cannot create %s\n", path.string().c_str());
      std::exit(1);
    }
    buf_.reserve(kChunk + 65536);
  }
  ~Out() { Close(); }
  std::string& Buf() { return buf_; }
  void MaybeFlush() {
    if (buf_.size() >= kChunk) Flush();
  }
  std::uint64_t Size() const { return written_ + buf_.size(); }
  void Close() {
    if (!file_) return;
    Flush();
    if (std::fclose(file_) != 0) Fail();
    file_ = nullptr;
  }

 private:
  static constexpr std::size_t kChunk = 4 << 20;
  void Flush() {
    if (!buf_.empty() && std::fwrite(buf_.data(), 1, buf_.size(), file_) != buf_.size()) Fail();
    written_ += buf_.size();
    buf_.clear();
  }
  [[noreturn]] void Fail() {
    std::fprintf(stderr, "dbcpack_gen_tables: write error on %s\n", path_.string().c_str());
    std::exit(1);
  }
  std::filesystem::path path_;
  std::FILE* file_ = nullptr;
  std::string buf_;
  std::uint64_t written_ = 0;
};

struct TableInfo {
  std::string path;  // relative to the output directory
  std::uint64_t records;
  std::size_t fields;
  int record_size;
  std::uint64_t bytes;
};

// Pools of pre-quoted string values.
struct StringPool {
  std::vector<std::string> values;  // already quoted
};

StringPool MakePool(Rng& rng, std::size_t count, std::size_t min_len, std::size_t max_len,
                    bool specials) {
  StringPool pool;
  pool.values.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t len = static_cast<std::size_t>(
        rng.Range(static_cast<std::int64_t>(min_len), static_cast<std::int64_t>(max_len)));
    pool.values.push_back(Quote(MakeText(rng, len, specials && rng.Chance(250))));
  }
  return pool;
}

// Writes rows of `cols` until the file holds at least `target` bytes
// (at least one record). `emit_string` writes one String field.
template <typename EmitString>
TableInfo WriteTable(const std::filesystem::path& root, const std::string& rel,
                     const std::vector<Column>& cols, std::uint64_t target, Rng& rng,
                     EmitString&& emit_string) {
  Out out(root / rel);
  out.Buf() += HeaderLine(cols);
  std::uint64_t row = 0;
  do {
    std::string& b = out.Buf();
    for (std::size_t k = 0; k < cols.size(); ++k) {
      if (k) b += ',';
      const Column& c = cols[k];
      switch (c.type) {
        case Type::Int:
          AppendIntValue(b, rng, c.int_kind, row);
          break;
        case Type::Float:
          AppendFloatValue(b, rng);
          break;
        case Type::Byte:
          AppendByteValue(b, rng);
          break;
        case Type::String:
          emit_string(b, c, row);
          break;
      }
    }
    b += '\n';
    ++row;
    out.MaybeFlush();
  } while (out.Size() < target);
  TableInfo info{rel, row, cols.size(), RecordSize(cols), out.Size()};
  out.Close();
  return info;
}

TableInfo GenWide(const std::filesystem::path& root, std::uint64_t target) {
  Rng rng(kSeed ^ 0x11);
  const auto cols = MakeColumns(rng, 60, 20, 5, 15, true);
  // A few thousand distinct values, short to medium, some with commas,
  // doubled quotes and \n escapes; drawn with a skew so some repeat a lot.
  const StringPool pool = MakePool(rng, 3000, 3, 60, true);
  std::uint64_t serial = 0;
  return WriteTable(
      root, "wide.csv", cols, target, rng, [&](std::string& b, const Column& c, std::uint64_t) {
        const std::uint64_t p = rng.Below(1000);
        if (p < 40) {  // empty, both ways of writing it
          if (p < 20) b += "\"\"";
        } else if (p < 70) {  // unique
          b += Quote(MakeNoise(rng, static_cast<std::size_t>(rng.Range(12, 40)), ++serial));
        } else {
          // Each column favours its own part of the pool.
          const std::uint64_t i = rng.Skewed(pool.values.size());
          b += pool.values[(i + static_cast<std::uint64_t>(c.string_pool) * 197) %
                           pool.values.size()];
        }
      });
}

TableInfo GenNumeric(const std::filesystem::path& root, std::uint64_t target) {
  Rng rng(kSeed ^ 0x22);
  const auto cols = MakeColumns(rng, 20, 20, 0, 0, true);
  return WriteTable(root, "numeric.csv", cols, target, rng,
                    [](std::string&, const Column&, std::uint64_t) {});
}

TableInfo GenStrings(const std::filesystem::path& root, std::uint64_t target) {
  Rng rng(kSeed ^ 0x33);
  std::vector<Column> cols = {{Type::Int, IntKind::Id, 0},       {Type::String, IntKind::Mixed, 0},
                              {Type::String, IntKind::Mixed, 1}, {Type::Int, IntKind::Enum, 0},
                              {Type::String, IntKind::Mixed, 2}, {Type::String, IntKind::Mixed, 3},
                              {Type::Int, IntKind::Mixed, 0},    {Type::String, IntKind::Mixed, 4}};
  // Long repeated values (descriptions, quest texts) and long unique ones.
  const StringPool pool = MakePool(rng, 2000, 50, 400, true);
  std::uint64_t serial = 0;
  return WriteTable(root, "strings.csv", cols, target, rng,
                    [&](std::string& b, const Column& c, std::uint64_t) {
                      const std::uint64_t p = rng.Below(1000);
                      if (p < 10) {
                        return;  // empty
                      }
                      // Columns 0 and 1 are mostly unique, 2 and 3 mostly
                      // repeated, column 4 half and half.
                      static constexpr std::uint64_t kUnique[] = {800, 600, 150, 50, 500};
                      if (p < kUnique[c.string_pool]) {
                        const auto len = static_cast<std::size_t>(rng.Range(50, 400));
                        if (rng.Chance(500)) {
                          b += Quote(MakeNoise(rng, len, ++serial));
                        } else {
                          std::string t = MakeNoise(rng, 16, ++serial);
                          t += MakeText(rng, len - std::min<std::size_t>(len, 16), rng.Chance(100));
                          b += Quote(t);
                        }
                      } else {
                        b += pool.values[rng.Skewed(pool.values.size())];
                      }
                    });
}

std::vector<TableInfo> GenSmall(const std::filesystem::path& root, std::uint64_t tables,
                                std::uint64_t folders) {
  std::vector<TableInfo> infos;
  Rng pool_rng(kSeed ^ 0x44);
  const StringPool pool = MakePool(pool_rng, 500, 3, 40, true);
  std::uint64_t t = 0;
  for (std::uint64_t d = 0; d < folders; ++d) {
    std::string dir = "small/dir";
    AppendPadded(dir, d, 3);
    std::filesystem::create_directories(root / dir);
    // Spread the tables evenly; the first folders take the remainder.
    const std::uint64_t here = tables / folders + (d < tables % folders ? 1 : 0);
    for (std::uint64_t j = 0; j < here; ++j, ++t) {
      Rng rng(kSeed ^ (0x5500000000ULL + t));
      const int n = static_cast<int>(rng.Range(3, 24));
      const int strings = static_cast<int>(rng.Below(static_cast<std::uint64_t>(n) / 3 + 1));
      const int floats =
          static_cast<int>(rng.Below(static_cast<std::uint64_t>(n - strings) / 2 + 1));
      const int bytes = static_cast<int>(rng.Below(3));
      const int ints = std::max(1, n - strings - floats - bytes);
      const auto cols = MakeColumns(rng, ints, floats, bytes, strings, true);
      std::string rel = dir + "/t";
      AppendPadded(rel, t, 4);
      rel += ".csv";
      infos.push_back(
          WriteTable(root, rel, cols, 8000, rng, [&](std::string& b, const Column&, std::uint64_t) {
            if (rng.Chance(50)) return;
            b += pool.values[rng.Skewed(pool.values.size())];
          }));
    }
  }
  return infos;
}

std::string Describe(double scale) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "dbcpack_gen_tables format %d scale %.6g", kFormatVersion, scale);
  return buf;
}

int Usage() {
  std::fprintf(stderr,
               "usage: dbcpack_gen_tables [--scale F] OUTDIR\n"
               "       dbcpack_gen_tables [--scale F] --describe\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  double scale = 1.0;
  bool describe = false;
  std::string out_dir;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--scale" && i + 1 < argc) {
      char* end = nullptr;
      scale = std::strtod(argv[++i], &end);
      if (*end != '\0' || !(scale > 0) || scale > 100) {
        std::fprintf(stderr, "dbcpack_gen_tables: bad scale '%s'\n", argv[i]);
        return 2;
      }
    } else if (a == "--describe") {
      describe = true;
    } else if (!a.empty() && a[0] != '-' && out_dir.empty()) {
      out_dir = a;
    } else {
      return Usage();
    }
  }
  if (describe) {
    std::printf("%s\n", Describe(scale).c_str());
    return 0;
  }
  if (out_dir.empty()) return Usage();

  const std::filesystem::path root(out_dir);
  std::error_code ec;
  std::filesystem::create_directories(root, ec);
  if (ec) {
    std::fprintf(stderr, "dbcpack_gen_tables: cannot create %s: %s\n", out_dir.c_str(),
                 ec.message().c_str());
    return 1;
  }
  auto scaled = [scale](double v) {
    return std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::llround(v * scale)));
  };

  std::vector<TableInfo> infos;
  infos.push_back(GenWide(root, scaled(150e6)));
  infos.push_back(GenNumeric(root, scaled(100e6)));
  infos.push_back(GenStrings(root, scaled(100e6)));
  const std::uint64_t tables = scaled(2000);
  const std::uint64_t folders = std::min(tables, scaled(100));
  for (auto& i : GenSmall(root, tables, folders)) infos.push_back(std::move(i));

  Out manifest(root / "manifest.txt");
  for (const TableInfo& t : infos) {
    std::string& b = manifest.Buf();
    b += t.path;
    b += ' ';
    AppendInt(b, static_cast<std::int64_t>(t.records));
    b += ' ';
    AppendInt(b, static_cast<std::int64_t>(t.fields));
    b += ' ';
    AppendInt(b, t.record_size);
    b += ' ';
    AppendInt(b, static_cast<std::int64_t>(t.bytes));
    b += '\n';
  }
  manifest.Close();
  for (std::size_t i = 0; i < 3; ++i) {
    std::printf("%-12s %12llu bytes %9llu records %3zu fields\n", infos[i].path.c_str(),
                static_cast<unsigned long long>(infos[i].bytes),
                static_cast<unsigned long long>(infos[i].records), infos[i].fields);
  }
  std::uint64_t small_bytes = 0;
  for (std::size_t i = 3; i < infos.size(); ++i) small_bytes += infos[i].bytes;
  std::printf("%-12s %12llu bytes in %llu tables, %llu folders\n", "small/",
              static_cast<unsigned long long>(small_bytes), static_cast<unsigned long long>(tables),
              static_cast<unsigned long long>(folders));
  return 0;
}
