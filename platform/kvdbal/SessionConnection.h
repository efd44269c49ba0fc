// The session connection: the COM object a host hands out as "the
// connection". To scripts it is a plain IDispatch with nothing to call; the
// layer reaches the engine connection inside it through a private interface.
#pragma once

#include <memory>

#include "../com/Unknwn.h"
#include "Engine.h"

struct IKvDbSessionConnection : IUnknown {
  static constexpr IID kIid = {0x6C1E0F3A, 0x2B7D, 0x4E51, {0x9A, 0x3C, 0x51, 0x0D, 0x7E, 0x42, 0xB8, 0x19}};
  virtual HRESULT GetEngine(std::shared_ptr<kvdbal::EngineConnection>* engine) = 0;
};

namespace kvdbal {
// A new session connection owning engine, with one reference for the caller.
IDispatch* NewSessionConnection(std::shared_ptr<EngineConnection> engine);
}  // namespace kvdbal
