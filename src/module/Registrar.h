// Registration scripts: the keys a class writes below HKEY_CLASSES_ROOT, kept
// in the module as text in the registrar's script form:
//
//   HKCR
//   {
//     NoRemove CLSID
//     {
//       ForceRemove %CLSID% = s 'Description'
//       {
//         InprocServer32 = s '%MODULE%'
//         {
//           val ThreadingModel = s 'Both'
//         }
//       }
//     }
//   }
//
// A key may carry a default value (= s 'text'), named values
// (val Name = s 'text') and subkeys; names may be quoted ('Programmable').
// In a quoted text '' stands for one quote. %NAME% in names and texts is
// replaced from the replacement table; %% stands for %.
//
// Registering writes every key and value; a ForceRemove key is deleted whole
// first, so nothing of an older registration survives below it.
// Unregistering removes the named values, then every key that has no subkeys
// left, except NoRemove keys (shared keys such as CLSID); a ForceRemove key
// goes with everything below it.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "../../platform/com/Registry.h"
#include "../outside/Com.h"

using KvRegistrarReplacements = std::map<std::string, std::string>;

// Applies the script within tx (nothing is written before tx commits).
// E_INVALIDARG for a script that does not parse or names an unknown
// replacement; registry failures as the registry reports them.
HRESULT KvRegistrarApply(std::string_view script, const KvRegistrarReplacements& replacements,
                         bool unregister, KvRegistryTransaction& tx);
