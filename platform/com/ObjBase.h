// The definitions are public: consumers of the installed package include them too.
#pragma once
#include "../../include/kvhtmldbtools/com/ObjBase.h"
