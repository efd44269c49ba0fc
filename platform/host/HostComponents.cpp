#include "HostComponents.h"

#include "../com/ObjBase.h"
#include "HostDataPack.h"
#include "HostFileCopier.h"

DWORD KvRegisterHostDataPack() {
  return kvhost::RegisterComponentClass<CKvHostDataPack>(CLSID_KvHostDataPack);
}

DWORD KvRegisterHostFileCopier() {
  return kvhost::RegisterComponentClass<CKvHostFileCopier>(CLSID_KvHostFileCopier);
}

KvHostComponentsRegistration::KvHostComponentsRegistration()
    : m_dwDataPack(KvRegisterHostDataPack()), m_dwFileCopier(KvRegisterHostFileCopier()) {}

KvHostComponentsRegistration::~KvHostComponentsRegistration() {
  if (m_dwDataPack) CoRevokeClassObject(m_dwDataPack);
  if (m_dwFileCopier) CoRevokeClassObject(m_dwFileCopier);
}
