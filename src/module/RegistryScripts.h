// The registration script of the module's classes (see Registrar.h). It
// uses %MODULE% (the module's path), %CLSID% (the class id), %LIBID% (the
// type library id) and, from the class table, %CLASS% (the class name its
// ProgIDs carry), %DESCRIPTION% and %THREADING% (its threading model).
#pragma once

extern const char kClassRegistryScript[];
