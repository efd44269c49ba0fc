#include "KvDataPump.h"

// Placeholder until saving lands.
HRESULT CKvDataPump::SaveFieldValues(LONG*) { return E_NOTIMPL; }
