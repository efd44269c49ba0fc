// The component reaches the database only through the access layer.
#pragma once

#include "../../platform/kvdbal/KvDbal.h"
