#include "http/ByteRanges.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Digits only; nothing when empty, signed or too large.
std::optional<uint64_t> Offset(std::string_view text) {
  uint64_t value = 0;
  if (text.empty()) return std::nullopt;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

enum class RangeFit { Bad, Outside, Inside };

// One "first-last", "first-" or "-suffix"; clipped to the file.
RangeFit ReadOneRange(std::string_view text, uint64_t size, ByteRange* range) {
  size_t dash = text.find('-');
  if (dash == std::string_view::npos) return RangeFit::Bad;
  std::string_view before = Trimmed(text.substr(0, dash)), after = Trimmed(text.substr(dash + 1));
  if (before.empty()) {
    std::optional<uint64_t> suffix = Offset(after);
    if (!suffix) return RangeFit::Bad;
    if (*suffix == 0 || size == 0) return RangeFit::Outside;
    range->first = size - std::min(*suffix, size);
    range->last = size - 1;
    return RangeFit::Inside;
  }
  std::optional<uint64_t> first = Offset(before);
  std::optional<uint64_t> last = after.empty() ? std::optional<uint64_t>(UINT64_MAX) : Offset(after);
  if (!first || !last || *last < *first) return RangeFit::Bad;
  if (*first >= size) return RangeFit::Outside;
  range->first = *first;
  range->last = std::min(*last, size - 1);
  return RangeFit::Inside;
}

bool Overlap(std::vector<ByteRange> ranges) {
  std::sort(ranges.begin(), ranges.end(), [](const ByteRange& a, const ByteRange& b) { return a.first < b.first; });
  for (size_t i = 1; i < ranges.size(); ++i)
    if (ranges[i].first <= ranges[i - 1].last) return true;
  return false;
}

}  // namespace

RangeAnswer AnswerRange(std::string_view header, uint64_t fileSize) {
  RangeAnswer answer;
  header = Trimmed(header);
  constexpr std::string_view kUnit = "bytes=";
  if (header.size() < kUnit.size() || header.substr(0, kUnit.size()) != kUnit) return answer;
  header.remove_prefix(kUnit.size());
  std::vector<ByteRange> ranges;
  size_t count = 0;
  while (true) {
    size_t comma = header.find(',');
    std::string_view item = Trimmed(header.substr(0, comma));
    // Stop reading at once: a header of thousands of ranges is refused
    // without being read to its end.
    if (++count > kMaxByteRanges) return RangeAnswer{};
    ByteRange range;
    switch (ReadOneRange(item, fileSize, &range)) {
      case RangeFit::Bad: return RangeAnswer{};
      case RangeFit::Outside: break;
      case RangeFit::Inside: ranges.push_back(range); break;
    }
    if (comma == std::string_view::npos) break;
    header.remove_prefix(comma + 1);
  }
  if (ranges.empty()) {
    answer.kind = RangeAnswer::Unsatisfiable;
    return answer;
  }
  if (Overlap(ranges)) return answer;
  answer.kind = RangeAnswer::Partial;
  answer.ranges = std::move(ranges);
  return answer;
}
