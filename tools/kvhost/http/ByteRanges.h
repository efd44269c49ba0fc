// Which parts of a static file a Range header asks for. Only a few
// non-overlapping ranges are served: many small or overlapping ranges would
// turn one small file into a large answer, so such a header gets the whole
// file instead. A header that cannot be read is ignored, as if not sent.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

constexpr size_t kMaxByteRanges = 5;

struct ByteRange {
  uint64_t first = 0;  // offsets of the first and the last byte, inclusive
  uint64_t last = 0;
  uint64_t Length() const { return last - first + 1; }
};

struct RangeAnswer {
  enum Kind {
    Whole,          // 200 with the whole file
    Partial,        // 206 with ranges, in the order asked
    Unsatisfiable,  // 416: no range touches the file
  };
  Kind kind = Whole;
  std::vector<ByteRange> ranges;
};

// header: the Range header's value ("" when none was sent).
RangeAnswer AnswerRange(std::string_view header, uint64_t fileSize);
