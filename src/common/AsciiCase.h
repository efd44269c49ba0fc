// The ASCII case helpers live in platform/com, where the access layer and
// the registry reach them too; this name stays until every includer uses
// that one.
#pragma once

#include "../../platform/com/AsciiCase.h"
