// A switch for tests of what happens when the database fails mid-way: while
// armed, every call into an engine (open, prepare, step, execute, begin,
// commit, rollback) is counted, and the nth one fails with a CKvDbException
// whose message starts with "injected failure". Builds configured with
// KV_FAULT_INJECTION (the test build) route every engine through the
// counting wrapper; in other builds Available() is false and nothing counts.
#pragma once

#include <memory>
#include <string>

namespace kvdbal {

class EngineConnection;

namespace faults {

bool Available();
// Arms the switch: counting starts from zero and the nth call fails (n >= 1;
// a number beyond the calls made means none fails). With rollbacksFailToo
// every rollback after it fails as well, so that the way out of a failed
// transaction is tried too.
void FailNthCall(long n, bool rollbacksFailToo = false);
// Disarms the switch and returns how many engine calls it counted.
long Disarm();
// The kind of call ("open", "prepare", ...) that the nth call was, once it
// has failed; empty before.
std::string FailedCallKind();

// For OpenEngine: the engine behind the counting wrapper, or the engine
// itself when the build has no fault injection.
std::shared_ptr<EngineConnection> Wrapped(std::shared_ptr<EngineConnection> engine);
// Called before an engine is opened; may fail as the "open" call.
void BeforeOpen();

}  // namespace faults
}  // namespace kvdbal
