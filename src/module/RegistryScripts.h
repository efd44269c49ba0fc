// The registration scripts of the module's classes (see Registrar.h). They
// use %MODULE% (the module's path), %CLSID% (the class id) and %LIBID% (the
// type library id).
#pragma once

extern const char kKvDataPumpRegistryScript[];
extern const char kKvDRPumpRegistryScript[];
