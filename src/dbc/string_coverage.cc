// Choosing the string columns by walking the records as dbcpack interns
// their strings. Starting from every candidate, a column that meets a
// string before its turn cannot be one (an int whose values happen to be
// string starts) and is dropped; once the walk meets every string in order,
// the columns of one value that the block does not need are dropped too,
// the earlier first, since such a column is far more often a flag or a
// constant than a string.
#include "dbc/string_coverage.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "table/encoding.h"

namespace dbcpack {
namespace {

// A candidate's values over every record: 0 and one value, or more.
struct ValueShape {
  std::uint32_t first = 0;  // the first value other than 0
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

class BlockWalk {
 public:
  BlockWalk(const TableImage& table, std::string_view block,
            const std::vector<StringCandidate>& candidates)
      : table_(table), block_(block), candidates_(candidates) {}

  enum class Outcome { Explains, Unused, OutOfTurn };
  // Walks the chosen candidates; on OutOfTurn sets `offender` to the
  // candidate that met a string before its turn.
  Outcome Walk(const std::vector<bool>& chosen, std::size_t& offender) const;
  Outcome Walk(const std::vector<bool>& chosen) const {
    std::size_t offender;
    return Walk(chosen, offender);
  }

 private:
  const TableImage& table_;
  std::string_view block_;
  const std::vector<StringCandidate>& candidates_;
};

BlockWalk::Outcome BlockWalk::Walk(const std::vector<bool>& chosen, std::size_t& offender) const {
  std::vector<std::size_t> columns;
  for (std::size_t i = 0; i < candidates_.size(); ++i) {
    if (chosen[i]) columns.push_back(i);
  }
  // The offset the next new string must have.
  std::size_t next = 1;
  const char* record = table_.records.data();
  for (std::uint32_t r = 0; r < table_.recordCount; ++r, record += table_.recordSize) {
    for (const std::size_t i : columns) {
      const std::uint32_t v = DecodeFixed32(record + candidates_[i].offset);
      if (v == 0 || v < next) continue;
      if (v != next) {
        offender = i;
        return Outcome::OutOfTurn;
      }
      next += std::strlen(block_.data() + v) + 1;
    }
  }
  return next == block_.size() ? Outcome::Explains : Outcome::Unused;
}

std::vector<ValueShape> ShapesOf(const TableImage& table,
                                 const std::vector<StringCandidate>& candidates) {
  std::vector<ValueShape> shapes(candidates.size());
  const char* record = table.records.data();
  for (std::uint32_t r = 0; r < table.recordCount; ++r, record += table.recordSize) {
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      const std::uint32_t v = DecodeFixed32(record + candidates[i].offset);
      ValueShape& shape = shapes[i];
      if (v == 0 || v == shape.first) continue;
      if (shape.first == 0) {
        shape.first = v;
      } else {
        shape.many = true;
      }
    }
  }
  return shapes;
}

// Whether every value of candidate `c` other than 0 is, in the same
// record, the value of a chosen column of many strings, in two records at
// least: a locale that repeats another. (A column of one string repeats
// anything in the records that hold it, and in one record the key 1 of a
// table's only record repeats the first string.)
bool RepeatsChosen(const TableImage& table, const std::vector<StringCandidate>& candidates,
                   const std::vector<ValueShape>& shapes, const std::vector<bool>& chosen,
                   std::size_t c) {
  std::uint32_t repeats = 0;
  const char* record = table.records.data();
  for (std::uint32_t r = 0; r < table.recordCount; ++r, record += table.recordSize) {
    const std::uint32_t v = DecodeFixed32(record + candidates[c].offset);
    if (v == 0) continue;
    bool repeated = false;
    for (std::size_t i = 0; i < candidates.size() && !repeated; ++i) {
      repeated = chosen[i] && shapes[i].many && DecodeFixed32(record + candidates[i].offset) == v;
    }
    if (!repeated) return false;
    ++repeats;
  }
  return repeats >= 2;
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
    filled[candidates[i].field] = chosen[i] && shapes[i].many;
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

// Drops the one-value columns the block does not need, earliest first; a
// column that repeats the strings of a chosen one in the same records
// stays a string, and so does one that stands among localised strings
// unless its value is 1, the first string and the commonest flag.
void DropUnneeded(const BlockWalk& walk, const TableImage& table,
                  const std::vector<StringCandidate>& candidates,
                  const std::vector<ValueShape>& shapes, const std::vector<bool>& blank,
                  std::vector<bool>& chosen) {
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (!chosen[i] || shapes[i].many) continue;
    chosen[i] = false;
    if (walk.Walk(chosen) != BlockWalk::Outcome::Explains) chosen[i] = true;
  }
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (chosen[i] || shapes[i].many) continue;
    const bool stringLike =
        RepeatsChosen(table, candidates, shapes, chosen, i) ||
        (shapes[i].first != 1 && InLocaleRun(candidates, shapes, chosen, blank, i));
    chosen[i] = true;
    if (!stringLike || walk.Walk(chosen) != BlockWalk::Outcome::Explains) {
      chosen[i] = false;
    }
  }
}

// A chosen one-value column whose string another one-value column holding
// the same value could carry instead, the block explained just as well.
void FindSwaps(const BlockWalk& walk, const std::vector<StringCandidate>& candidates,
               const std::vector<ValueShape>& shapes, std::vector<bool>& chosen,
               StringChoice& choice) {
  for (std::size_t k = 0; k < chosen.size(); ++k) {
    if (!chosen[k] || shapes[k].many) continue;
    StringChoice::Doubt doubt{k, {}};
    for (std::size_t i = 0; i < chosen.size(); ++i) {
      if (chosen[i] || shapes[i].many || shapes[i].first != shapes[k].first) continue;
      // The first field is a table's key, not a string, whatever it holds.
      if (candidates[i].field == 0) continue;
      chosen[k] = false;
      chosen[i] = true;
      if (walk.Walk(chosen) == BlockWalk::Outcome::Explains) doubt.instead.push_back(i);
      chosen[i] = false;
      chosen[k] = true;
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
  if (CanonicalBlock(strings.Block())) {
    const BlockWalk walk(table, strings.Block(), candidates);
    std::vector<bool> chosen(candidates.size(), true);
    std::size_t offender = 0;
    BlockWalk::Outcome outcome;
    while ((outcome = walk.Walk(chosen, offender)) == BlockWalk::Outcome::OutOfTurn) {
      chosen[offender] = false;
    }
    if (outcome == BlockWalk::Outcome::Explains) {
      DropUnneeded(walk, table, candidates, shapes, blank, chosen);
      FindSwaps(walk, candidates, shapes, chosen, choice);
      choice.isString = chosen;
      choice.explainsBlock = true;
      return choice;
    }
  }
  for (std::size_t i = 0; i < candidates.size(); ++i) choice.isString[i] = shapes[i].many;
  return choice;
}

}  // namespace dbcpack
