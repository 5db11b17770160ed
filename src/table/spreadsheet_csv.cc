// The reader of spreadsheet CSV text. Every position it keeps is checked
// against the size of the text before it is read: the text comes from
// anywhere.
#include "table/spreadsheet_csv.h"

#include <cstdint>
#include <cstring>

namespace dbcpack {

bool StripByteOrderMark(std::string_view& text) {
  if (!text.starts_with("\xEF\xBB\xBF")) return false;
  text.remove_prefix(3);
  return true;
}

namespace {

// How many bytes the sequence led by `lead` takes, 0 for a byte that
// cannot lead one; and the range its second byte must lie in, which rules
// out overlong forms, surrogates and code points past U+10FFFF.
int SequenceLength(unsigned char lead, unsigned char& low, unsigned char& high) {
  low = 0x80;
  high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
    return 4;
  }
  return 0;
}

}  // namespace

std::size_t FirstInvalidUtf8(std::string_view text) {
  const auto* const bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    // Runs of ASCII eight bytes at a time: most of a table is.
    if (size - i >= 8) {
      std::uint64_t word;
      std::memcpy(&word, bytes + i, 8);
      if ((word & 0x8080808080808080u) == 0) {
        i += 8;
        continue;
      }
    }
    if (bytes[i] < 0x80) {
      ++i;
      continue;
    }
    unsigned char low;
    unsigned char high;
    const int length = SequenceLength(bytes[i], low, high);
    if (length == 0 || size - i < static_cast<std::size_t>(length)) return i;
    if (bytes[i + 1] < low || bytes[i + 1] > high) return i;
    for (int k = 2; k < length; ++k) {
      if (bytes[i + k] < 0x80 || bytes[i + k] > 0xBF) return i;
    }
    i += static_cast<std::size_t>(length);
  }
  return size;
}

bool SpreadsheetReader::NextRow(std::vector<SpreadsheetCell>& cells) {
  cells.clear();
  problem_ = RowProblem::None;
  if (at_ >= text_.size()) return false;
  ++row_;
  rowStart_ = at_;
  bool rowEnds = false;
  while (!rowEnds) {
    if (!ReadCell(cells, rowEnds)) {
      // The rest of the text is not read once a row is malformed.
      at_ = text_.size();
      return false;
    }
  }
  return true;
}

bool SpreadsheetReader::ReadCell(std::vector<SpreadsheetCell>& cells, bool& rowEnds) {
  const std::size_t size = text_.size();
  const std::size_t start = at_;
  std::size_t first = start;
  while (first < size && text_[first] == ' ') ++first;
  SpreadsheetCell cell;
  if (first < size && text_[first] == '"') {
    if (!ReadQuotedCell(start, first, cell)) {
      problemColumn_ = cells.size() + 1;
      return false;
    }
  } else {
    std::size_t stop = start;
    while (stop < size && text_[stop] != separator_ && text_[stop] != '\n') ++stop;
    std::size_t end = stop;
    if (stop < size && text_[stop] == '\n' && end > start && text_[end - 1] == '\r') --end;
    cell.body = cell.raw = text_.substr(start, end - start);
    at_ = stop;
  }
  cells.push_back(cell);
  rowEnds = true;
  if (at_ == size) {
    EndRow(size);
  } else if (text_[at_] == separator_) {
    ++at_;
    rowEnds = false;
  } else if (text_[at_] == '\r') {
    EndRow(at_ + 1);  // the quoted cell's reader saw the line feed after it
  } else {
    EndRow(at_);
  }
  return true;
}

bool SpreadsheetReader::ReadQuotedCell(std::size_t start, std::size_t quote,
                                       SpreadsheetCell& cell) {
  const std::size_t size = text_.size();
  std::size_t p = quote + 1;
  std::size_t close;
  for (;;) {
    close = text_.find('"', p);
    if (close == std::string_view::npos) {
      problem_ = RowProblem::UnclosedQuote;
      return false;
    }
    if (close + 1 < size && text_[close + 1] == '"') {
      p = close + 2;
      continue;
    }
    break;
  }
  std::size_t after = close + 1;
  while (after < size && text_[after] == ' ') ++after;
  const bool ends = after == size || text_[after] == separator_ || text_[after] == '\n' ||
                    (text_[after] == '\r' && after + 1 < size && text_[after + 1] == '\n');
  if (!ends) {
    problem_ = RowProblem::TextAfterQuote;
    return false;
  }
  cell.body = text_.substr(quote + 1, close - quote - 1);
  cell.raw = text_.substr(start, after - start);
  cell.quoted = true;
  at_ = after;
  return true;
}

void SpreadsheetReader::EndRow(std::size_t at) {
  const std::size_t size = text_.size();
  std::size_t end = at;
  crLf_ = false;
  if (at < size && end > rowStart_ && text_[end - 1] == '\r') {
    --end;
    crLf_ = true;
  }
  rowText_ = text_.substr(rowStart_, end - rowStart_);
  unterminated_ = at >= size;
  at_ = at < size ? at + 1 : size;
}

}  // namespace dbcpack
