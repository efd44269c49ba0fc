// The module's type library KVHTMLDBTOOLSLib: the two dual interfaces and
// the two coclasses with their names, dispatch ids, parameters and help
// strings. Built on first use and kept for the life of the module.
#pragma once

#include "../../platform/com/TypeInfo.h"
#include "../outside/Com.h"

inline constexpr GUID LIBID_KVHTMLDBTOOLSLib = {0x4F1C2C00, 0x7A3B, 0x4C5D, {0x8E, 0x9F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x00}};
inline constexpr WORD kKvTypeLibMajor = 1;
inline constexpr WORD kKvTypeLibMinor = 0;
inline constexpr LCID kKvTypeLibLcid = 0x409;

// The tables the library is built from.
const KvTypeLibData& KvTypeLibraryData();

// The module's library (AddRef'ed for the caller).
HRESULT KvGetTypeLib(ITypeLib** pptlib);
// The type information of IKvDataPump or IKvDRPump (AddRef'ed for the caller);
// TYPE_E_ELEMENTNOTFOUND for any other interface.
HRESULT KvGetTypeInfo(REFIID iid, ITypeInfo** ppTInfo);
