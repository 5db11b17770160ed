// The thresholds below were set on generated tables that look like real
// ones, so that a guess that is wrong nearly always says it is unsure, and
// one that is right seldom does.
#include "guess/guess_doubt.h"

#include <algorithm>

namespace dbcpack {
namespace {

// Another placement within this many bits of the sample is a close call.
constexpr double kCloseBits = 32;
constexpr double kCloseBitsPerRow = 0.5;

// Built by appending: g++ 12 warns falsely (-Wrestrict) on some chains of
// string concatenations.
std::string Quoted(std::uint32_t field) {
  std::string text(1, '\'');
  text.append(std::to_string(field)).push_back('\'');
  return text;
}

// Runs of fields as text: '2' to '5', '9'.
std::string FieldRuns(const std::vector<std::uint32_t>& fields) {
  std::string text;
  for (std::size_t i = 0; i < fields.size();) {
    std::size_t j = i;
    while (j + 1 < fields.size() && fields[j + 1] == fields[j] + 1) ++j;
    if (!text.empty()) text += ", ";
    text += Quoted(fields[i]);
    if (j > i) text += " to " + Quoted(fields[j]);
    i = j + 1;
  }
  return text;
}

std::vector<std::uint32_t> ByteFields(const std::vector<bool>& isByte) {
  std::vector<std::uint32_t> fields;
  for (std::size_t k = 0; k < isByte.size(); ++k) {
    if (isByte[k]) fields.push_back(static_cast<std::uint32_t>(k + 1));
  }
  return fields;
}

// Field `field` (zero-based), guessed `guessed`, may be `other`.
void AddOtherType(std::uint32_t field, FieldType guessed, FieldType other,
                  std::vector<TypeDoubt>& doubts) {
  std::string reading = "field ";
  reading.append(Quoted(field + 1))
      .append(" may be ")
      .append(FieldTypeKeyword(other))
      .append(" rather than ")
      .append(FieldTypeKeyword(guessed));
  doubts.push_back(TypeDoubt{{field + 1}, std::move(reading), {{field, other}}});
}

}  // namespace

void JudgePlacement(const BytePlacement& placement, std::vector<TypeDoubt>& doubts) {
  if (placement.runnerUp.empty()) return;
  if (placement.margin >= kCloseBits && placement.marginPerRow >= kCloseBitsPerRow) return;
  const std::vector<std::uint32_t> guessed = ByteFields(placement.isByte);
  const std::vector<std::uint32_t> other = ByteFields(placement.runnerUp);
  std::vector<std::uint32_t> fields;
  for (std::size_t k = 0; k < placement.isByte.size(); ++k) {
    if (placement.isByte[k] != placement.runnerUp[k])
      fields.push_back(static_cast<std::uint32_t>(k + 1));
  }
  // Positions, said as positions: "field '4'", never a bare '4' that
  // reads like a count.
  const auto positions = [](const std::vector<std::uint32_t>& list) {
    return (list.size() == 1 ? "field " : "fields ") + FieldRuns(list);
  };
  std::string reading = "the 1-byte fields may be ";
  reading.append(positions(other)).append(" rather than ").append(positions(guessed));
  doubts.push_back(TypeDoubt{std::move(fields), std::move(reading), {}});
}

void AddFloatOrInt(std::uint32_t field, FieldType type, std::vector<TypeDoubt>& doubts) {
  AddOtherType(field, type, type == FieldType::Float ? FieldType::Int : FieldType::Float, doubts);
}

void AddStringOrInt(std::uint32_t field, std::vector<TypeDoubt>& doubts) {
  AddOtherType(field, FieldType::String, FieldType::Int, doubts);
}

void AddIntOrString(std::uint32_t field, std::vector<TypeDoubt>& doubts) {
  AddOtherType(field, FieldType::Int, FieldType::String, doubts);
}

void AddStringSwap(std::uint32_t field, const std::vector<std::uint32_t>& instead,
                   std::vector<TypeDoubt>& doubts) {
  std::vector<std::uint32_t> fields = {field + 1};
  std::vector<std::uint32_t> others;
  others.reserve(instead.size());
  for (const std::uint32_t other : instead) others.push_back(other + 1);
  fields.insert(fields.end(), others.begin(), others.end());
  std::sort(fields.begin(), fields.end());
  std::string reading = "field ";
  reading.append(Quoted(field + 1))
      .append(" may be int, and field ")
      .append(FieldRuns(others))
      .append(others.size() == 1 ? " a string in its stead"
                                 : " (one of them) a string in its stead");
  doubts.push_back(TypeDoubt{std::move(fields),
                             std::move(reading),
                             {{field, FieldType::Int}, {instead.front(), FieldType::String}}});
}

std::string DoubtText(const std::vector<TypeDoubt>& doubts) {
  std::string text;
  for (const TypeDoubt& doubt : doubts) {
    if (!text.empty()) text += "; ";
    text += doubt.otherReading;
  }
  return text;
}

}  // namespace dbcpack
