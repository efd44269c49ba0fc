#include "KvDataPump.h"

// Placeholder until the join builders land.
HRESULT CKvDataPump::GetSQLJoinSelect(LONG, LONG, VARIANT, VARIANT*, BSTR*) { return E_NOTIMPL; }
HRESULT CKvDataPump::GetSQLJoinWhere(LONG, BSTR, LONG, BSTR*) { return E_NOTIMPL; }
