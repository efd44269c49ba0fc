#include "KvDataPump.h"

// Placeholder until the transaction server activation lands.
HRESULT CKvDataPump::Activate() { return E_NOTIMPL; }
void CKvDataPump::Deactivate() {}
BOOL CKvDataPump::CanBePooled() { return TRUE; }
