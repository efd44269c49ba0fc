// SQLite set up for many threads: its locks spin a little before they
// sleep, and it keeps no memory statistics.
//
// Every statement run outside a transaction begins and ends a read
// transaction, and each of those takes a few process-wide locks inside
// SQLite (the file's lock records, the WAL index). Held for a few hundred
// nanoseconds, they are still met by another thread often enough under
// load that putting it to sleep and waking it again costs more than the
// statement: two page workers on the read page spent a tenth of their time
// there. A lock that spins briefly first almost never sleeps. Memory
// statistics would take one more process-wide lock on every allocation.
#pragma once

namespace kvdbal {

// Takes effect if SQLite has not started yet in this process; once it has,
// it keeps what it has (and this does nothing). Safe to call from any
// thread, any number of times.
void ConfigureSqliteForThreads();

}  // namespace kvdbal
