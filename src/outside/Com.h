// The COM subset the component is written against.
#pragma once

#include "../../platform/com/ComError.h"
#include "../../platform/com/ComPtr.h"
#include "../../platform/com/Exceptions.h"
#include "../../platform/com/ObjBase.h"
#include "../../platform/com/OleAuto.h"
