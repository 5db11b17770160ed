// Settling floats and ints in two passes: each column by its own values,
// then each column those leave open by the nearest settled columns on
// either side, across columns of zeros and other open ones but not across
// a string or a one-byte field. The first field, a table's key, belongs
// to no array and is no side of a run.
#include "guess/column_runs.h"

#include <algorithm>
#include <cmath>

namespace dbcpack {
namespace {

// What a column's own values say. Apart: a string or one-byte field, or
// the key, where a run ends.
enum class Own : std::uint8_t { Apart, Zero, Open, Int, Float };

struct Reading {
  Own own = Own::Apart;
  double lean = 0;
  const ColumnEvidence* evidence = nullptr;
  bool stamp = false;   // read as a time stamp
  bool unsure = false;  // whatever the run says
};

// A lean of at least this many values settles a column, unless the
// evidence against is at least this share of the evidence for.
constexpr double kClearLean = 1;
constexpr double kMinorityShare = 0.25;
// The lean of a column that reads as a time stamp: toward int, weakly.
constexpr double kStampLean = -0.5;
// Values a column needs for its narrow range to say time stamp: two
// computed floats of one column fall that close together about as often.
constexpr std::uint32_t kStampValues = 3;
// Binary exponents apart at most of the columns of one array.
constexpr std::uint32_t kArrayExponents = 2;

Own Judge(const ColumnEvidence& e, bool stamp, double& lean) {
  if (!e.anyValue) return Own::Zero;
  if (!e.floats) return Own::Int;
  lean = stamp ? kStampLean : e.floatLean;
  const double majority = std::max(e.floatFor, e.floatAgainst);
  const double minority = std::min(e.floatFor, e.floatAgainst);
  const bool conflicting = minority > 0 && minority >= kMinorityShare * majority;
  // One value alone is no evidence unless it is a typed-in decimal: a
  // float of many digits is a time stamp too, 2.0 a bit mask.
  const bool enough = e.weighed >= 2 || e.plainDecimal;
  if (stamp || conflicting || !enough || std::abs(lean) < kClearLean) return Own::Open;
  return lean > 0 ? Own::Float : Own::Int;
}

// Whether two columns' values are of like magnitude as floats.
bool LikeMagnitude(const ColumnEvidence& a, const ColumnEvidence& b) {
  return (a.high >> 23) + kArrayExponents >= (b.low >> 23) &&
         (b.high >> 23) + kArrayExponents >= (a.low >> 23);
}

// A column that reads as a time stamp is none beside another such column
// of like magnitude: a record keeps one time stamp, and a run of narrow
// ranges is the points of a curve or the corners of a box. A time stamp
// read as a float is a thousand times a point of a curve, or more.
bool StandsApartAsStamp(const std::vector<Reading>& readings, std::size_t k) {
  for (const std::size_t j : {k - 1, k + 1}) {
    if (j < readings.size() && readings[j].stamp &&
        LikeMagnitude(*readings[j].evidence, *readings[k].evidence)) {
      return false;
    }
  }
  return true;
}

// Takes back the time stamps that are none: those beside another, and
// those of too few values, which lean as their values do and stay in
// doubt.
void SettleStamps(std::vector<Reading>& readings) {
  std::vector<std::size_t> notStamps;
  for (std::size_t k = 0; k < readings.size(); ++k) {
    if (readings[k].stamp && !StandsApartAsStamp(readings, k)) {
      notStamps.push_back(k);
    }
  }
  for (const std::size_t k : notStamps) {
    readings[k].stamp = false;
    readings[k].own = Judge(*readings[k].evidence, false, readings[k].lean);
  }
  for (Reading& reading : readings) {
    if (reading.stamp && reading.evidence->weighed < kStampValues) {
      reading.lean = reading.evidence->floatLean;
      reading.unsure = true;
    }
  }
}

// For each field, the nearest settled column before it (after it, with
// `reverse`), across columns of zeros and open ones: Apart when a string,
// a one-byte field or the key comes first. One pass, whatever the width.
std::vector<Own> NearestSettled(const std::vector<Reading>& readings, bool reverse) {
  const std::size_t n = readings.size();
  std::vector<Own> nearest(n, Own::Apart);
  Own seen = Own::Apart;
  for (std::size_t step = 0; step < n; ++step) {
    const std::size_t k = reverse ? n - 1 - step : step;
    nearest[k] = seen;
    const Own own = readings[k].own;
    if (own == Own::Apart || k == 0) {
      seen = Own::Apart;
    } else if (own == Own::Int || own == Own::Float) {
      seen = own;
    }
  }
  return nearest;
}

// What each side of the run says, for floats (+) or ints (-): less than a
// typed-in value, which a float column holds and an int column hardly
// ever, and together more than a value of many digits.
constexpr double kSideVote = 0.45;

double Vote(Own side) { return side == Own::Float ? kSideVote : side == Own::Int ? -kSideVote : 0; }

// The type of an open column by its lean and the run it stands in, and
// whether the guess is sure of it: where the run agrees with the values,
// or for a column of fillers, where the run is the same on both sides or
// ints on its only side. The last columns of a curve are often fillers.
Own ByRun(double lean, Own left, Own right, bool& sure) {
  const double run = Vote(left) + Vote(right);
  if (lean == 0) {
    sure = left == right || (run < 0 && (left == Own::Apart || right == Own::Apart));
  } else {
    sure = lean > 0 ? run > 0 : run < 0;
  }
  return lean + run > 0 ? Own::Float : Own::Int;
}

}  // namespace

void TypeFloatsAndInts(const std::vector<std::uint32_t>& fields,
                       const std::vector<ColumnEvidence>& evidence, std::vector<FieldType>& types,
                       std::vector<TypeDoubt>& doubts) {
  std::vector<Reading> readings(types.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::uint32_t k = fields[i];
    if (types[k] == FieldType::String) continue;
    readings[k].evidence = &evidence[i];
    readings[k].stamp = evidence[i].stampLike;
    readings[k].own = Judge(evidence[i], readings[k].stamp, readings[k].lean);
  }
  SettleStamps(readings);
  const std::vector<Own> before = NearestSettled(readings, false);
  const std::vector<Own> after = NearestSettled(readings, true);
  for (std::size_t k = 0; k < readings.size(); ++k) {
    if (readings[k].evidence == nullptr) continue;
    Own own = readings[k].own;
    bool sure = true;
    if (own == Own::Open) own = ByRun(readings[k].lean, before[k], after[k], sure);
    sure = sure && !readings[k].unsure;
    types[k] = own == Own::Float ? FieldType::Float : FieldType::Int;
    if (!sure) {
      AddFloatOrInt(static_cast<std::uint32_t>(k), types[k], doubts);
    }
  }
}

}  // namespace dbcpack
