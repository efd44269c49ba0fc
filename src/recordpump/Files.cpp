#include "KvDataPump.h"

// Placeholder until file fields land.
HRESULT CKvDataPump::ClearFileField(LONG, BSTR) { return E_NOTIMPL; }
HRESULT CKvDataPump::ClearFileFieldEx(LONG, BSTR, LONG) { return E_NOTIMPL; }
