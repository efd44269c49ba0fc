#include "RegistryScripts.h"

const char kKvDataPumpRegistryScript[] = R"(
HKCR
{
  KvHtmlDbTools.KvDataPump.1 = s 'KvDataPump'
  {
    CLSID = s '%CLSID%'
  }
  KvHtmlDbTools.KvDataPump = s 'KvDataPump'
  {
    CLSID = s '%CLSID%'
    CurVer = s 'KvHtmlDbTools.KvDataPump.1'
  }
  NoRemove CLSID
  {
    ForceRemove %CLSID% = s 'KvDataPump'
    {
      ProgID = s 'KvHtmlDbTools.KvDataPump.1'
      VersionIndependentProgID = s 'KvHtmlDbTools.KvDataPump'
      ForceRemove 'Programmable'
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Both'
      }
      'TypeLib' = s '%LIBID%'
    }
  }
}
)";

const char kKvDRPumpRegistryScript[] = R"(
HKCR
{
  KvHtmlDbTools.KvDRPump.1 = s 'KvDRPump Class'
  {
    CLSID = s '%CLSID%'
  }
  KvHtmlDbTools.KvDRPump = s 'KvDRPump Class'
  {
    CLSID = s '%CLSID%'
    CurVer = s 'KvHtmlDbTools.KvDRPump.1'
  }
  NoRemove CLSID
  {
    ForceRemove %CLSID% = s 'KvDRPump Class'
    {
      ProgID = s 'KvHtmlDbTools.KvDRPump.1'
      VersionIndependentProgID = s 'KvHtmlDbTools.KvDRPump'
      ForceRemove 'Programmable'
      InprocServer32 = s '%MODULE%'
      {
        val ThreadingModel = s 'Apartment'
      }
      'TypeLib' = s '%LIBID%'
    }
  }
}
)";
