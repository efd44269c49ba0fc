#include "KvDataPump.h"

// Placeholder until cloning lands.
HRESULT CKvDataPump::Clone(BSTR, BSTR, VARIANT_BOOL, LONG*) { return E_NOTIMPL; }
