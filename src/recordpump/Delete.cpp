#include "KvDataPump.h"

// Placeholder until deletion lands.
HRESULT CKvDataPump::Delete() { return E_NOTIMPL; }
HRESULT CKvDataPump::DeleteEx(LONG) { return E_NOTIMPL; }
