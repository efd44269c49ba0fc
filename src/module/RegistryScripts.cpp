#include "RegistryScripts.h"

const char kClassRegistryScript[] = R"(
HKCR
{
  KvHtmlDbTools.%CLASS%.1 = s '%DESCRIPTION%'
  {
    CLSID = s '%CLSID%'
  }
  KvHtmlDbTools.%CLASS% = s '%DESCRIPTION%'
  {
    CLSID = s '%CLSID%'
    CurVer = s 'KvHtmlDbTools.%CLASS%.1'
  }
  NoRemove CLSID
  {
    ForceRemove %CLSID% = s '%DESCRIPTION%'
    {
      ProgID = s 'KvHtmlDbTools.%CLASS%.1'
      VersionIndependentProgID = s 'KvHtmlDbTools.%CLASS%'
      ForceRemove 'Programmable'
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s '%THREADING%'
      }
      'TypeLib' = s '%LIBID%'
    }
  }
}
)";
