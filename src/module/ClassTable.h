// The module's class table: KvDataPump first, KvDRPump second. Each entry
// names the class id, what its registration says of it (the class name in
// its ProgIDs, its description and threading model) and how an instance is
// made.
// Class objects are created on the first request for them and cached until
// the module unloads.
#pragma once

#include <span>

#include "ClassFactory.h"

struct KvClassEntry {
  CLSID clsid;
  const char* className;
  const char* description;
  const char* threadingModel;
  KvCreateInstanceFn createInstance;
};

std::span<const KvClassEntry> KvClassTable();

// The class object of a class in the table, queried for riid;
// CLASS_E_CLASSNOTAVAILABLE for any other class.
HRESULT KvGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
