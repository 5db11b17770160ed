// Choosing the string columns by walking the records as dbcpack interns
// their strings. Starting from every candidate, a column that meets a
// string before its turn cannot be one (an int whose values happen to be
// string starts) and is dropped; once the walk meets every string in order,
// the columns of one value that the block does not need are dropped too,
// the earlier first, since such a column is far more often a flag or a
// constant than a string. Those last decisions each touch the first use of
// one string only, so they are made against the first uses the walk found,
// without walking again: a table of a thousand flag columns costs no more
// than a few walks.
#include "guess/string_coverage.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>
#include <unordered_map>

#include "table/encoding.h"

namespace dbcpack {
namespace {

// A place in the order dbcpack reads a table: record by record, field by
// field.
using Position = std::uint64_t;
constexpr Position kNowhere = std::numeric_limits<Position>::max();

// A candidate's values over every record: 0 and one value, or more.
struct ValueShape {
  std::uint32_t first = 0;    // the first value other than 0
  Position where = kNowhere;  // and its place
  bool many = false;
};

// Whether the block is laid out as dbcpack lays one out: a NUL, then
// non-empty strings each ended by a NUL.
bool CanonicalBlock(std::string_view block) {
  if (block.empty() || block.front() != '\0' || block.back() != '\0') return false;
  for (std::size_t at = 1; at < block.size();) {
    const void* nul = std::memchr(block.data() + at, '\0', block.size() - at);
    const auto end = static_cast<std::size_t>(static_cast<const char*>(nul) - block.data());
    if (end == at) return false;
    at = end + 1;
  }
  return true;
}

// A candidate leaves the pass once it has two values: its shape is
// settled.
std::vector<ValueShape> ShapesOf(const TableImage& table,
                                 const std::vector<StringCandidate>& candidates) {
  std::vector<ValueShape> shapes(candidates.size());
  std::vector<std::size_t> open(candidates.size());
  for (std::size_t i = 0; i < open.size(); ++i) open[i] = i;
  const char* record = table.records.data();
  for (std::uint32_t r = 0; r < table.recordCount && !open.empty(); ++r) {
    for (std::size_t n = 0; n < open.size();) {
      const std::size_t i = open[n];
      const std::uint32_t v = DecodeFixed32(record + candidates[i].offset);
      ValueShape& shape = shapes[i];
      if (v == 0 || v == shape.first) {
        ++n;
      } else if (shape.first == 0) {
        shape.first = v;
        shape.where = Position{r} * table.fieldCount + candidates[i].field;
        ++n;
      } else {
        shape.many = true;
        open[n] = open.back();
        open.pop_back();
      }
    }
    record += table.recordSize;
  }
  return shapes;
}

// The strings of the block in order, and where the chosen columns first
// use each, and which column does.
struct FirstUses {
  std::vector<std::uint32_t> starts;
  std::vector<Position> where;
  std::vector<std::size_t> by;

  // The index of the string at `offset`, which the walk met.
  std::size_t IndexOf(std::uint32_t offset) const {
    return static_cast<std::size_t>(std::lower_bound(starts.begin(), starts.end(), offset) -
                                    starts.begin());
  }
  // Whether the walk met the string at `offset`: a string past the block
  // the header declares may be met by none.
  bool Met(std::uint32_t offset) const {
    const std::size_t i = IndexOf(offset);
    return i < starts.size() && starts[i] == offset;
  }
};

enum class Outcome { Explains, Unused, Dropped };

// One walk over every record. A chosen column that meets a string before
// its turn is dropped from `chosen` on the spot, and the walk goes on
// without it; its earlier values still counted, so a walk that dropped
// one must be walked again.
Outcome Walk(const TableImage& table, std::string_view block,
             const std::vector<StringCandidate>& candidates, std::vector<bool>& chosen,
             FirstUses& uses) {
  std::vector<std::size_t> columns;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (chosen[i]) columns.push_back(i);
  }
  uses = FirstUses();
  bool dropped = false;
  std::size_t next = 1;  // the offset the next new string must have
  const char* record = table.records.data();
  for (std::uint32_t r = 0; r < table.recordCount; ++r, record += table.recordSize) {
    for (std::size_t n = 0; n < columns.size(); ++n) {
      const std::size_t i = columns[n];
      const std::uint32_t v = DecodeFixed32(record + candidates[i].offset);
      if (v == 0 || v < next) continue;
      if (v != next) {
        chosen[i] = false;
        dropped = true;
        columns.erase(columns.begin() + static_cast<std::ptrdiff_t>(n--));
        continue;
      }
      uses.starts.push_back(v);
      uses.where.push_back(Position{r} * table.fieldCount + candidates[i].field);
      uses.by.push_back(i);
      next += std::strlen(block.data() + v) + 1;
    }
  }
  if (dropped) return Outcome::Dropped;
  // Strings past the block the header declares are strings it
  // under-states, met in order like the others.
  return next >= table.stringBlock.size() ? Outcome::Explains : Outcome::Unused;
}

// The candidates of one value, settled one at a time against the first
// uses of a walk that explains the block. Each changes the first use of
// its own string only, which must stay between those of the strings before
// and after it.
class OneValueColumns {
 public:
  OneValueColumns(const TableImage& table, const std::vector<StringCandidate>& candidates,
                  const std::vector<ValueShape>& shapes, const std::vector<bool>& chosen,
                  FirstUses uses);

  bool TryDrop(std::size_t c, std::vector<bool>& chosen);
  bool TryAdd(std::size_t c, std::vector<bool>& chosen);
  // Whether chosen `k` could give its string to unchosen `r`.
  bool CouldSwap(std::size_t k, std::size_t r, const std::vector<bool>& chosen) const;

 private:
  // The first use of string `i` without the one-value columns, and with
  // the chosen ones but `skip`.
  Position Others(std::size_t i, const std::vector<bool>& chosen, std::size_t skip) const;
  bool Fits(std::size_t i, Position where) const {
    return where != kNowhere && (i == 0 || uses_.where[i - 1] < where) &&
           (i + 1 == uses_.where.size() || where < uses_.where[i + 1]);
  }

  const std::vector<StringCandidate>& candidates_;
  const std::vector<ValueShape>& shapes_;
  FirstUses uses_;
  // For each string a one-value candidate holds: its first use by the
  // chosen columns of many values.
  std::unordered_map<std::size_t, Position> byMany_;
};

OneValueColumns::OneValueColumns(const TableImage& table,
                                 const std::vector<StringCandidate>& candidates,
                                 const std::vector<ValueShape>& shapes,
                                 const std::vector<bool>& chosen, FirstUses uses)
    : candidates_(candidates), shapes_(shapes), uses_(std::move(uses)) {
  std::unordered_map<std::uint32_t, std::size_t> watched;  // offset -> string
  for (const ValueShape& shape : shapes) {
    if (shape.many || shape.first == 0) continue;
    const std::size_t i = uses_.IndexOf(shape.first);
    watched.emplace(shape.first, i);
    byMany_.emplace(i, kNowhere);
  }
  std::vector<std::size_t> many;
  for (std::size_t c = 0; c < candidates.size(); ++c) {
    if (chosen[c] && shapes[c].many) many.push_back(c);
  }
  const char* record = table.records.data();
  for (std::uint32_t r = 0; r < table.recordCount && !watched.empty(); ++r) {
    for (const std::size_t c : many) {
      const auto it = watched.find(DecodeFixed32(record + candidates[c].offset));
      if (it == watched.end()) continue;
      byMany_[it->second] = Position{r} * table.fieldCount + candidates[c].field;
      watched.erase(it);
    }
    record += table.recordSize;
  }
}

Position OneValueColumns::Others(std::size_t i, const std::vector<bool>& chosen,
                                 std::size_t skip) const {
  Position where = byMany_.at(i);
  for (std::size_t c = 0; c < candidates_.size(); ++c) {
    if (c != skip && chosen[c] && !shapes_[c].many && shapes_[c].first == uses_.starts[i]) {
      where = std::min(where, shapes_[c].where);
    }
  }
  return where;
}

bool OneValueColumns::TryDrop(std::size_t c, std::vector<bool>& chosen) {
  const std::size_t i = uses_.IndexOf(shapes_[c].first);
  if (uses_.where[i] < shapes_[c].where) {
    chosen[c] = false;  // another column uses the string first
    return true;
  }
  const Position without = Others(i, chosen, c);
  if (!Fits(i, without)) return false;
  chosen[c] = false;
  uses_.where[i] = without;
  return true;
}

bool OneValueColumns::TryAdd(std::size_t c, std::vector<bool>& chosen) {
  if (!uses_.Met(shapes_[c].first)) return false;
  const std::size_t i = uses_.IndexOf(shapes_[c].first);
  const Position with = std::min(uses_.where[i], shapes_[c].where);
  if (!Fits(i, with)) return false;
  chosen[c] = true;
  uses_.where[i] = with;
  return true;
}

bool OneValueColumns::CouldSwap(std::size_t k, std::size_t r,
                                const std::vector<bool>& chosen) const {
  const std::size_t i = uses_.IndexOf(shapes_[k].first);
  return Fits(i, std::min(Others(i, chosen, k), shapes_[r].where));
}

// The shortest run of localised strings.
constexpr std::size_t kLocaleRun = 8;

// Whether candidate `c` stands in a run of at least kLocaleRun fields that
// could all be strings (chosen, candidates or blank) holding a column of
// many strings: a block of localised text.
bool InLocaleRun(const std::vector<StringCandidate>& candidates,
                 const std::vector<ValueShape>& shapes, const std::vector<bool>& chosen,
                 const std::vector<bool>& blank, std::size_t c) {
  std::vector<char> could(blank.begin(), blank.end());
  std::vector<char> filled(blank.size(), 0);
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    could[candidates[i].field] = 1;
    filled[candidates[i].field] = chosen[i] && shapes[i].many ? 1 : 0;
  }
  std::size_t first = candidates[c].field;
  std::size_t last = first;
  while (first > 0 && could[first - 1]) --first;
  while (last + 1 < could.size() && could[last + 1]) ++last;
  if (last - first + 1 < kLocaleRun) return false;
  return std::any_of(filled.begin() + static_cast<std::ptrdiff_t>(first),
                     filled.begin() + static_cast<std::ptrdiff_t>(last) + 1,
                     [](char f) { return f != 0; });
}

// For each unchosen one-value candidate, whether every value of it other
// than 0 is, in the same record, the value of a chosen column of many
// strings, in two records at least: a locale that repeats another. (A
// column of one string repeats anything in the records that hold it, and
// in one record the key 1 of a table's only record repeats the first
// string.) One pass over the records for all of them, each record's values
// of the chosen columns sorted once, so that a file of thousands of such
// columns costs no more than its size.
std::vector<bool> RepeatsChosen(const TableImage& table,
                                const std::vector<StringCandidate>& candidates,
                                const std::vector<ValueShape>& shapes,
                                const std::vector<bool>& chosen) {
  std::vector<std::size_t> many, open;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (chosen[i] && shapes[i].many) many.push_back(i);
    if (!chosen[i] && !shapes[i].many) open.push_back(i);
  }
  std::vector<std::uint32_t> repeats(candidates.size(), 0);
  std::vector<std::uint32_t> values;
  const char* record = table.records.data();
  for (std::uint32_t r = 0; r < table.recordCount && !open.empty(); ++r) {
    values.clear();
    for (const std::size_t i : many) values.push_back(DecodeFixed32(record + candidates[i].offset));
    std::sort(values.begin(), values.end());
    // A candidate with a value no chosen column holds here is out for good.
    std::erase_if(open, [&](std::size_t c) {
      const std::uint32_t v = DecodeFixed32(record + candidates[c].offset);
      if (v == 0) return false;
      if (!std::binary_search(values.begin(), values.end(), v)) return true;
      ++repeats[c];
      return false;
    });
    record += table.recordSize;
  }
  std::vector<bool> result(candidates.size(), false);
  for (const std::size_t c : open) result[c] = repeats[c] >= 2;
  return result;
}

// Whether some record holds the first string in `column`.
bool HoldsFirstString(const TableImage& table, const StringCandidate& column) {
  const char* record = table.records.data();
  for (std::uint32_t r = 0; r < table.recordCount; ++r, record += table.recordSize) {
    if (DecodeFixed32(record + column.offset) == 1) return true;
  }
  return false;
}

// Whether the string at `offset` reads as a file's path.
bool PathLike(std::string_view block, std::uint32_t offset) {
  if (offset >= block.size()) return false;
  const std::string_view rest = block.substr(offset);
  return rest.substr(0, rest.find('\0')).find_first_of("\\/") != std::string_view::npos;
}

// The columns of one value after a chosen string column, across empty
// columns: the later slots of an array of paths, each holding one of them,
// are strings. Value 1, the first string, is the commonest flag too: such
// a column is a slot only beside two others. A slot alone is a doubt, and
// so is a column of 1 after a run that holds the first string too, where
// that string is a path: a slot or a flag, the values cannot tell. One
// that `repeats` the first string where it is set is a stat of 1, not a
// second slot holding the path the first one holds. Candidates come in
// field order.
void AddArraySlots(const TableImage& table, const std::vector<StringCandidate>& candidates,
                   const std::vector<ValueShape>& shapes, const std::vector<bool>& blank,
                   const std::vector<bool>& repeats, OneValueColumns& oneValue,
                   std::vector<bool>& chosen, StringChoice& choice) {
  std::vector<std::size_t> added;
  std::vector<std::size_t> ones;
  std::vector<std::size_t> run;  // the chosen columns of the run so far
  // Whether a column holds the first string, looked up once a column.
  std::vector<signed char> holds(candidates.size(), -1);
  const auto endRun = [&] {
    if (added.size() == 1) choice.lone.push_back(added.front());
    const bool slots = added.size() >= 2;
    const auto maySlot = [&](std::size_t i) { return !repeats[i]; };
    const auto holdsFirst = [&](std::size_t i) {
      if (holds[i] < 0) holds[i] = HoldsFirstString(table, candidates[i]) ? 1 : 0;
      return holds[i] != 0;
    };
    const bool maybe = !slots && std::any_of(ones.begin(), ones.end(), maySlot) &&
                       PathLike(table.stringBlock, 1) &&
                       std::any_of(run.begin(), run.end(), holdsFirst);
    for (const std::size_t i : ones) {
      if (slots) {
        oneValue.TryAdd(i, chosen);
      } else if (maybe && maySlot(i)) {
        choice.maybeStrings.push_back(i);
      }
    }
    added.clear();
    ones.clear();
  };
  bool inRun = false;
  std::size_t next = 0;  // the field after the last candidate
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const std::uint32_t field = candidates[i].field;
    for (; next < field; ++next) {
      if (!blank[next]) inRun = false;
    }
    next = field + 1;
    if (!inRun || shapes[i].many) endRun();
    if (!inRun) run.clear();
    if (shapes[i].many || chosen[i]) inRun = chosen[i];
    if (chosen[i]) run.push_back(i);
    if (!inRun || chosen[i]) continue;
    if (shapes[i].first == 1) {
      ones.push_back(i);
    } else if (oneValue.TryAdd(i, chosen)) {
      added.push_back(i);
    }
  }
  endRun();
}

// Whether every field between candidates `a` and `b` is an empty column.
bool SideBySide(const std::vector<StringCandidate>& candidates, const std::vector<bool>& blank,
                std::size_t a, std::size_t b) {
  for (std::size_t k = candidates[a].field + 1; k < candidates[b].field; ++k) {
    if (!blank[k]) return false;
  }
  return true;
}

// Columns of one value side by side that hold the same string are the
// slots of one array: where the block needs one of them, all hold it, and
// the block does not tell which. Not so for value 1, the first string and
// the commonest flag, nor for the key.
void AddTwinSlots(const std::vector<StringCandidate>& candidates,
                  const std::vector<ValueShape>& shapes, const std::vector<bool>& blank,
                  OneValueColumns& oneValue, std::vector<bool>& chosen) {
  const auto twin = [&](std::size_t i) {
    return !shapes[i].many && shapes[i].first != 1 && candidates[i].field != 0;
  };
  for (std::size_t first = 0; first < candidates.size();) {
    std::size_t end = first + 1;
    while (end < candidates.size() && twin(first) && twin(end) &&
           shapes[end].first == shapes[first].first &&
           SideBySide(candidates, blank, end - 1, end)) {
      ++end;
    }
    const auto from = chosen.begin() + static_cast<std::ptrdiff_t>(first);
    const auto to = chosen.begin() + static_cast<std::ptrdiff_t>(end);
    if (std::find(from, to, true) != to) {
      for (std::size_t i = first; i < end; ++i) {
        if (!chosen[i]) oneValue.TryAdd(i, chosen);
      }
    }
    first = end;
  }
}

// Drops the one-value columns the block does not need, earliest first; a
// column that repeats the strings of a chosen one in the same records
// stays a string, and so does one that stands among localised strings or
// in an array of strings, unless its value is 1, the first string and the
// commonest flag: that one only among localised strings.
void DropUnneeded(const TableImage& table, const std::vector<StringCandidate>& candidates,
                  const std::vector<ValueShape>& shapes, const std::vector<bool>& blank,
                  OneValueColumns& oneValue, std::vector<bool>& chosen, StringChoice& choice) {
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (chosen[i] && !shapes[i].many) oneValue.TryDrop(i, chosen);
  }
  // Adding a one-value column below leaves the chosen columns of many
  // strings as they are, so their repeats can be found first.
  const std::vector<bool> repeats = RepeatsChosen(table, candidates, shapes, chosen);
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (chosen[i] || shapes[i].many) continue;
    const bool first = shapes[i].first == 1;
    if ((repeats[i] && !first) ||
        ((repeats[i] || !first) && InLocaleRun(candidates, shapes, chosen, blank, i))) {
      oneValue.TryAdd(i, chosen);
    }
  }
  AddArraySlots(table, candidates, shapes, blank, repeats, oneValue, chosen, choice);
  AddTwinSlots(candidates, shapes, blank, oneValue, chosen);
}

// A chosen one-value column whose string another one-value column holding
// the same value could carry instead, the block explained just as well.
void FindSwaps(const std::vector<StringCandidate>& candidates,
               const std::vector<ValueShape>& shapes, const OneValueColumns& oneValue,
               const std::vector<bool>& chosen, StringChoice& choice) {
  for (std::size_t k = 0; k < chosen.size(); ++k) {
    if (!chosen[k] || shapes[k].many) continue;
    StringChoice::Doubt doubt{k, {}};
    for (std::size_t i = 0; i < chosen.size(); ++i) {
      if (chosen[i] || shapes[i].many || shapes[i].first != shapes[k].first) continue;
      // The first field is a table's key, not a string, whatever it holds.
      if (candidates[i].field == 0) continue;
      if (oneValue.CouldSwap(k, i, chosen)) doubt.instead.push_back(i);
    }
    if (!doubt.instead.empty()) choice.doubts.push_back(std::move(doubt));
  }
}

}  // namespace

StringChoice ChooseStringColumns(const TableImage& table, const StringStarts& strings,
                                 const std::vector<StringCandidate>& candidates,
                                 const std::vector<bool>& blank) {
  StringChoice choice;
  const std::vector<ValueShape> shapes = ShapesOf(table, candidates);
  choice.isString.assign(candidates.size(), false);
  if (CanonicalBlock(table.stringBlock)) {
    std::vector<bool> chosen(candidates.size(), true);
    FirstUses uses;
    Outcome outcome;
    while ((outcome = Walk(table, strings.Block(), candidates, chosen, uses)) == Outcome::Dropped) {
    }
    if (outcome == Outcome::Explains) {
      OneValueColumns oneValue(table, candidates, shapes, chosen, std::move(uses));
      DropUnneeded(table, candidates, shapes, blank, oneValue, chosen, choice);
      FindSwaps(candidates, shapes, oneValue, chosen, choice);
      choice.isString = chosen;
      choice.explainsBlock = true;
      return choice;
    }
  }
  for (std::size_t i = 0; i < candidates.size(); ++i) choice.isString[i] = shapes[i].many;
  return choice;
}

}  // namespace dbcpack
