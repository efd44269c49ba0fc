#include "SqliteThreading.h"

#include <pthread.h>
#include <sqlite3.h>

#include <mutex>

// SQLite declares the type and leaves its content to the implementation.
struct sqlite3_mutex {
  pthread_mutex_t lock;
};

namespace kvdbal {
namespace {

// glibc's adaptive mutex spins on a held lock for a while before it sleeps.
#if defined(PTHREAD_ADAPTIVE_MUTEX_INITIALIZER_NP)
constexpr int kSpinningType = PTHREAD_MUTEX_ADAPTIVE_NP;
#else
constexpr int kSpinningType = PTHREAD_MUTEX_DEFAULT;
#endif

// SQLite's static mutexes are numbered from SQLITE_MUTEX_STATIC_MAIN up;
// room is left for numbers later versions may add.
constexpr int kStaticCount = 32;
sqlite3_mutex g_static[kStaticCount];

void InitLock(sqlite3_mutex* mutex, int type) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, type);
  pthread_mutex_init(&mutex->lock, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

bool IsStatic(const sqlite3_mutex* mutex) { return mutex >= g_static && mutex < g_static + kStaticCount; }

int MutexInit() {
  for (sqlite3_mutex& mutex : g_static) InitLock(&mutex, kSpinningType);
  return SQLITE_OK;
}

int MutexEnd() {
  for (sqlite3_mutex& mutex : g_static) pthread_mutex_destroy(&mutex.lock);
  return SQLITE_OK;
}

sqlite3_mutex* MutexAlloc(int type) {
  if (type == SQLITE_MUTEX_FAST || type == SQLITE_MUTEX_RECURSIVE) {
    auto* mutex = new (std::nothrow) sqlite3_mutex;
    if (mutex)
      InitLock(mutex, type == SQLITE_MUTEX_RECURSIVE ? PTHREAD_MUTEX_RECURSIVE : kSpinningType);
    return mutex;
  }
  if (type < SQLITE_MUTEX_STATIC_MAIN || type >= kStaticCount) return nullptr;
  return &g_static[type];
}

void MutexFree(sqlite3_mutex* mutex) {
  if (!mutex || IsStatic(mutex)) return;
  pthread_mutex_destroy(&mutex->lock);
  delete mutex;
}

void MutexEnter(sqlite3_mutex* mutex) { pthread_mutex_lock(&mutex->lock); }

int MutexTry(sqlite3_mutex* mutex) { return pthread_mutex_trylock(&mutex->lock) == 0 ? SQLITE_OK : SQLITE_BUSY; }

void MutexLeave(sqlite3_mutex* mutex) { pthread_mutex_unlock(&mutex->lock); }

// Only SQLite's own assertions ask, and a build without the means to know
// answers yes to both.
int MutexHeldUnknown(sqlite3_mutex*) { return 1; }

}  // namespace

void ConfigureSqliteForThreads() {
  static std::once_flag once;
  std::call_once(once, [] {
    static sqlite3_mutex_methods methods = {MutexInit,  MutexEnd,   MutexAlloc,       MutexFree,       MutexEnter,
                                            MutexTry,   MutexLeave, MutexHeldUnknown, MutexHeldUnknown};
    // Both are refused (SQLITE_MISUSE) once SQLite has started.
    sqlite3_config(SQLITE_CONFIG_MUTEX, &methods);
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  });
}

}  // namespace kvdbal
