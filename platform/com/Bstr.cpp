// BSTR allocation. A BSTR is a pointer just past a 4-byte byte-length prefix;
// the text is followed by a 16-bit 0, so the pointer also works as a
// terminated string. The block comes from malloc so that every module of the
// process frees what any other allocated.
#include <cstdlib>
#include <cstring>
#include <limits>

#include "OleAuto.h"

namespace {

constexpr size_t kPrefix = sizeof(uint32_t);
// Room after the text: two zero bytes, plus one more so an odd byte length
// still ends in a whole 16-bit terminator.
constexpr size_t kTail = 3;

BSTR AllocateBytes(const void* source, UINT byteLen) {
  if (byteLen > std::numeric_limits<uint32_t>::max() - kPrefix - kTail) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + byteLen + kTail));
  if (!block) return nullptr;
  const uint32_t prefix = byteLen;
  std::memcpy(block, &prefix, kPrefix);
  unsigned char* text = block + kPrefix;
  if (source)
    std::memcpy(text, source, byteLen);
  else
    std::memset(text, 0, byteLen);
  std::memset(text + byteLen, 0, kTail);
  return reinterpret_cast<BSTR>(text);
}

const unsigned char* BlockOf(BSTR bstr) { return reinterpret_cast<const unsigned char*>(bstr) - kPrefix; }

}  // namespace

BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  size_t n = 0;
  while (psz[n]) ++n;
  if (n > std::numeric_limits<UINT>::max() / sizeof(OLECHAR)) return nullptr;
  return SysAllocStringLen(psz, static_cast<UINT>(n));
}

BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch) {
  if (cch > std::numeric_limits<UINT>::max() / sizeof(OLECHAR)) return nullptr;
  return AllocateBytes(pch, cch * static_cast<UINT>(sizeof(OLECHAR)));
}

BSTR SysAllocStringByteLen(const char* psz, UINT len) { return AllocateBytes(psz, len); }

void SysFreeString(BSTR bstr) {
  if (bstr) std::free(const_cast<unsigned char*>(BlockOf(bstr)));
}

UINT SysStringByteLen(BSTR bstr) {
  if (!bstr) return 0;
  uint32_t prefix;
  std::memcpy(&prefix, BlockOf(bstr), kPrefix);
  return prefix;
}

UINT SysStringLen(BSTR bstr) { return SysStringByteLen(bstr) / sizeof(OLECHAR); }

BOOL SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
  if (!pbstr) return FALSE;
  BSTR fresh = nullptr;
  if (psz) {
    fresh = SysAllocString(psz);
    if (!fresh) return FALSE;
  }
  SysFreeString(*pbstr);
  *pbstr = fresh;
  return TRUE;
}
