// Fixed numbers that name the reporting handler in the trace
// ("Location: KvDataPump, 213"). Each frame owns a block of ten and its
// handlers report block+1, block+2, ... in the order they are tried; inner
// handlers and direct reports have blocks of their own. The numbers stay the
// same across edits of the code, and no number is used twice within a source.
#pragma once

#include <array>

namespace tracesite {

// Each list names every block of one source once: the enumerators and the
// check below are both made from it, so no block can miss the check.

// Record pump (source name KvDataPump).
#define KV_DATA_PUMP_SITES(SITE)                                                                  \
  SITE(kInit, 100) SITE(kCloseQuery, 110) SITE(kIsEOF, 120) SITE(kSaveFieldValues, 130)           \
  SITE(kSaveWriteEntry, 140) SITE(kSaveRefusedUpdate, 150) SITE(kSaveIdValue, 160)                \
  SITE(kValueByFieldName, 200) SITE(kCompareByFieldName, 210) SITE(kValueByFieldNameEx, 220)      \
  SITE(kSetFieldValue, 230) SITE(kSetFieldValueEx, 240) SITE(kMakeFieldValue, 250)                \
  SITE(kGetValueDirect, 300) SITE(kGetValueDirectEx, 310)                                         \
  SITE(kGetSQLJoinSelect, 320) SITE(kGetSQLJoinWhere, 330)                                        \
  SITE(kDelete, 400) SITE(kDeleteEx, 410) SITE(kCascadeDelete, 420)                               \
  SITE(kCascadeFileRemoval, 430) SITE(kClearFileField, 440) SITE(kClearFileFieldEx, 450)          \
  SITE(kClearFileDatabaseWork, 460) SITE(kClearFileRemoval, 470)                                  \
  SITE(kClone, 500) SITE(kCloneRecord, 510) SITE(kCloneRowCopy, 520) SITE(kCloneFileCopy, 530)    \
  SITE(kQueryInit, 600) SITE(kMoveNext, 610) SITE(kValue, 620) SITE(kMoveFirst, 630)              \
  SITE(kMovePrevious, 640) SITE(kMoveLast, 650) SITE(kValueEx, 660)

// Paged result pump (source name KvDRPump).
#define KV_DR_PUMP_SITES(SITE)                                                                    \
  SITE(kDRInit, 100) SITE(kDRMoveNext, 110) SITE(kDRIsEOF, 120) SITE(kDRClose, 130)               \
  SITE(kDRValue, 140) SITE(kDRMoveFirst, 150) SITE(kDRMoveLast, 160) SITE(kDRMovePrevious, 170)   \
  SITE(kDRIsBOF, 180) SITE(kDRValueEx, 190)

#define KV_SITE_ENUMERATOR(name, block) name = block,
#define KV_SITE_NAME(name, block) name,

enum DataPump : int { KV_DATA_PUMP_SITES(KV_SITE_ENUMERATOR) };
enum DRPump : int { KV_DR_PUMP_SITES(KV_SITE_ENUMERATOR) };

namespace detail {

template <typename Enum, std::size_t N>
constexpr bool AreDistinctBlocks(const std::array<Enum, N>& blocks) {
  for (std::size_t i = 0; i < N; ++i) {
    if (blocks[i] % 10 != 0) return false;
    for (std::size_t j = i + 1; j < N; ++j) {
      if (blocks[i] == blocks[j]) return false;
    }
  }
  return true;
}

}  // namespace detail

// A copied line must not give two handlers one number.
static_assert(detail::AreDistinctBlocks(std::array{KV_DATA_PUMP_SITES(KV_SITE_NAME)}));
static_assert(detail::AreDistinctBlocks(std::array{KV_DR_PUMP_SITES(KV_SITE_NAME)}));

#undef KV_SITE_NAME
#undef KV_SITE_ENUMERATOR
#undef KV_DR_PUMP_SITES
#undef KV_DATA_PUMP_SITES

}  // namespace tracesite
