// Registration of the host's data pack and file copier components for the
// process (CoRegisterClassObject): hosts and tests call these once; every
// CoCreateInstance of the class id then gets a fresh object.
#pragma once

#include "../com/ComTypes.h"

// The registration cookie (for CoRevokeClassObject), 0 when it failed.
DWORD KvRegisterHostDataPack();
DWORD KvRegisterHostFileCopier();

// Registers both components while it lives.
class KvHostComponentsRegistration {
 public:
  KvHostComponentsRegistration();
  ~KvHostComponentsRegistration();
  KvHostComponentsRegistration(const KvHostComponentsRegistration&) = delete;
  KvHostComponentsRegistration& operator=(const KvHostComponentsRegistration&) = delete;
  bool Ok() const { return m_dwDataPack != 0 && m_dwFileCopier != 0; }

 private:
  DWORD m_dwDataPack;
  DWORD m_dwFileCopier;
};

// For tests: loading the data pack of this id fails with E_FAIL from now on
// (in every data pack object of the process), until KvHostDataPackFailNone.
void KvHostDataPackFailFor(LONG lDatapackId);
void KvHostDataPackFailNone();
