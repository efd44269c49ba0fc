// Operating-system file, error and timing services.
#pragma once

#include "../../platform/win32/Win32.h"
