#include "KvDataPump.h"

// Placeholder until cascade delete lands.
HRESULT CKvDataPump::CascadeDelete(BSTR, BSTR, VARIANT_BOOL, VARIANT_BOOL) { return E_NOTIMPL; }
