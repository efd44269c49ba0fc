#include "KvDbal.h"
#include "ValueText.h"

// Both engines read the same literals, so the server type does not change
// the text: mode 1 a date, mode 2 a time of day, mode 3 a date and time.
std::string CKvDbService::StringFromDATE(DATE date, int mode) const {
  std::string text = kvdbal::DateToText(date);
  switch (mode) {
    case 1:
      return "'" + text.substr(0, 10) + "'";
    case 2:
      return "'" + text.substr(11) + "'";
    case 3:
      return "'" + text + "'";
    default:
      throw CKvDbException(E_INVALIDARG, "unknown date mode " + std::to_string(mode));
  }
}
