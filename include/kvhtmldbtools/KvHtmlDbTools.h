// Everything a program needs to use the component: the COM subset (creation
// by ProgID, BSTR, VARIANT, IDispatch), the two interfaces with their class
// and interface ids, and the host session the pumps are initialised with.
#pragma once

#include "com/ComPtr.h"
#include "com/ObjBase.h"
#include "com/OleAuto.h"
#include "host/HostSession.h"
#include "IKvDRPump.h"
#include "IKvDataPump.h"
