// The interface is public (installed for consumers); the component's code
// sees it together with the COM subset it is written against.
#pragma once
#include "../outside/Com.h"
#include "../../include/kvhtmldbtools/IKvDataPump.h"
