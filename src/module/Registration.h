// Self-registration: both classes from their registration scripts and the
// type library, with modulePath as the registered module.
#pragma once

#include <string>

#include "../outside/Com.h"

HRESULT KvRegisterServer(const std::string& modulePath);
HRESULT KvUnregisterServer(const std::string& modulePath);
