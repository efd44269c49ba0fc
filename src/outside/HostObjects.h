// The host platform's objects as the component sees them: the host session
// with its user and application, the trace sink, the data pack object, the
// file copier and the transaction server's object context.
#pragma once

#include "../../platform/host/HostInterfaces.h"
