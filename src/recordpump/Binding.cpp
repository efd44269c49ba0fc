#include "KvDataPump.h"

// Placeholder until form binding lands.
HRESULT CKvDataPump::Init(IDispatch*, LONG) { return E_NOTIMPL; }
