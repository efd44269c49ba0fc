#include "KvDataPump.h"

// Placeholder until direct lookups land.
HRESULT CKvDataPump::GetValueDirect(BSTR, LONG, BSTR, VARIANT*) { return E_NOTIMPL; }
HRESULT CKvDataPump::GetValueDirectEx(BSTR, LONG, BSTR, LONG, VARIANT*) { return E_NOTIMPL; }
