// The path class: a path built from any text, and any text joined onto it,
// reads back from its own text as the same path; its components are real
// names; joining leaves the base alone and, for a plain relative text,
// keeps the base's components in front.
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "src/recordpump/FilePath.h"

namespace {

void CheckReadsBack(const CFilePath& path) {
  const std::string& text = path.GetText();
  const CFilePath again(text);
  FUZZ_CHECK(again.GetText() == text);
  FUZZ_CHECK(again.Components() == path.Components());
  FUZZ_CHECK(again.IsAbsolute() == path.IsAbsolute());

  const auto& parts = path.Components();
  for (size_t i = 0; i < parts.size(); ++i) {
    FUZZ_CHECK(!parts[i].empty() && parts[i] != ".");
    // Only a network prefix at the front holds separators: its two
    // backslashes.
    const size_t separator = parts[i].find_first_of("\\/");
    if (i == 0 && parts[i].starts_with("\\\\")) {
      FUZZ_CHECK(parts[i].find_first_of("\\/", 2) == std::string::npos);
    } else {
      FUZZ_CHECK(separator == std::string::npos);
    }
  }
}

bool IsPlainRelative(const std::string& text) {
  if (text.empty() || text[0] == '\\' || text[0] == '/') return false;
  if (text.size() >= 2 && text[1] == ':') return false;
  // No ".." piece: nothing climbs.
  for (size_t pos = 0; pos <= text.size();) {
    size_t end = text.find_first_of("\\/", pos);
    if (end == std::string::npos) end = text.size();
    if (text.compare(pos, end - pos, "..") == 0) return false;
    pos = end + 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  const std::string baseText(input.substr(0, split));
  const std::string joinText(split == std::string_view::npos ? std::string_view() : input.substr(split + 1));

  const CFilePath base(baseText);
  CheckReadsBack(base);
  const std::string before = base.GetText();

  const CFilePath joined = base.Join(joinText);
  CheckReadsBack(joined);
  FUZZ_CHECK(base.GetText() == before);

  if (IsPlainRelative(joinText)) {
    const auto& head = base.Components();
    const auto& all = joined.Components();
    FUZZ_CHECK(all.size() >= head.size());
    for (size_t i = 0; i < head.size(); ++i) FUZZ_CHECK(all[i] == head[i]);
    FUZZ_CHECK(joined.IsAbsolute() == base.IsAbsolute());
  }
  return 0;
}
