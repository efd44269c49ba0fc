// GUID text forms: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#include <cstdio>

#include "ClassRegistry.h"
#include "ObjBase.h"
#include "OleAuto.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text[pos].
bool ReadHex(const std::string& text, size_t pos, int digits, uint64_t* out) {
  uint64_t v = 0;
  for (int i = 0; i < digits; ++i) {
    const int h = HexValue(text[pos + i]);
    if (h < 0) return false;
    v = (v << 4) | static_cast<uint64_t>(h);
  }
  *out = v;
  return true;
}

}  // namespace

std::string StringFromGUID(REFGUID g) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buffer;
}

bool GUIDFromString(const std::string& text, GUID* out) {
  if (!out) return false;
  // The braces are optional; the 36 characters between them are not.
  std::string body = text;
  if (body.size() == 38 && body.front() == '{' && body.back() == '}') body = body.substr(1, 36);
  if (body.size() != 36 || body[8] != '-' || body[13] != '-' || body[18] != '-' || body[23] != '-') return false;
  GUID g{};
  uint64_t v;
  if (!ReadHex(body, 0, 8, &v)) return false;
  g.Data1 = static_cast<uint32_t>(v);
  if (!ReadHex(body, 9, 4, &v)) return false;
  g.Data2 = static_cast<uint16_t>(v);
  if (!ReadHex(body, 14, 4, &v)) return false;
  g.Data3 = static_cast<uint16_t>(v);
  const size_t bytePos[8] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (int i = 0; i < 8; ++i) {
    if (!ReadHex(body, bytePos[i], 2, &v)) return false;
    g.Data4[i] = static_cast<uint8_t>(v);
  }
  *out = g;
  return true;
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) {
  if (!lpsz || !pclsid) return E_POINTER;
  *pclsid = GUID_NULL;
  size_t n = 0;
  while (lpsz[n]) ++n;
  if (n > 0 && lpsz[0] == u'{') return GUIDFromString(Utf16ToUtf8(lpsz, n), pclsid) ? S_OK : CO_E_CLASSSTRING;
  // Anything else may be a ProgID.
  return CLSIDFromProgID(lpsz, pclsid);
}
