// Fixed numbers that name the reporting handler in the trace
// ("Location: KvDataPump, 213"). Each frame owns a block of ten and its
// handlers report block+1, block+2, ... in the order they are tried; inner
// handlers and direct reports have blocks of their own. The numbers stay the
// same across edits of the code, and no number is used twice within a source.
#pragma once

#include <array>

namespace tracesite {

// Record pump (source name KvDataPump).
enum DataPump : int {
  kInit = 100,
  kCloseQuery = 110,
  kIsEOF = 120,
  kSaveFieldValues = 130,
  kSaveWriteEntry = 140,
  kSaveRefusedUpdate = 150,
  kSaveIdValue = 160,
  kValueByFieldName = 200,
  kCompareByFieldName = 210,
  kValueByFieldNameEx = 220,
  kSetFieldValue = 230,
  kSetFieldValueEx = 240,
  kMakeFieldValue = 250,
  kGetValueDirect = 300,
  kGetValueDirectEx = 310,
  kGetSQLJoinSelect = 320,
  kGetSQLJoinWhere = 330,
  kDelete = 400,
  kDeleteEx = 410,
  kCascadeDelete = 420,
  kCascadeFileRemoval = 430,
  kClearFileField = 440,
  kClearFileFieldEx = 450,
  kClearFileDatabaseWork = 460,
  kClearFileRemoval = 470,
  kClone = 500,
  kCloneRecord = 510,
  kCloneRowCopy = 520,
  kCloneFileCopy = 530,
  kQueryInit = 600,
  kMoveNext = 610,
  kValue = 620,
  kMoveFirst = 630,
  kMovePrevious = 640,
  kMoveLast = 650,
  kValueEx = 660,
};

// Paged result pump (source name KvDRPump).
enum DRPump : int {
  kDRInit = 100,
  kDRMoveNext = 110,
  kDRIsEOF = 120,
  kDRClose = 130,
  kDRValue = 140,
  kDRMoveFirst = 150,
  kDRMoveLast = 160,
  kDRMovePrevious = 170,
  kDRIsBOF = 180,
  kDRValueEx = 190,
};

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

// Every block must be listed here; the check keeps a copied line from
// giving two handlers one number.
static_assert(detail::AreDistinctBlocks(std::array{
    kInit, kCloseQuery, kIsEOF, kSaveFieldValues, kSaveWriteEntry, kSaveRefusedUpdate,
    kSaveIdValue, kValueByFieldName, kCompareByFieldName, kValueByFieldNameEx,
    kSetFieldValue, kSetFieldValueEx, kMakeFieldValue, kGetValueDirect, kGetValueDirectEx, kGetSQLJoinSelect,
    kGetSQLJoinWhere, kDelete, kDeleteEx, kCascadeDelete, kCascadeFileRemoval, kClearFileField,
    kClearFileFieldEx, kClearFileDatabaseWork, kClearFileRemoval, kClone, kCloneRecord, kCloneRowCopy,
    kCloneFileCopy, kQueryInit, kMoveNext, kValue, kMoveFirst, kMovePrevious, kMoveLast,
    kValueEx}));
static_assert(detail::AreDistinctBlocks(std::array{kDRInit, kDRMoveNext, kDRIsEOF, kDRClose,
                                                   kDRValue, kDRMoveFirst, kDRMoveLast,
                                                   kDRMovePrevious, kDRIsBOF, kDRValueEx}));

}  // namespace tracesite
