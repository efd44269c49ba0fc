// The component's side of the benchmarks: a host session and its
// connection, a record pump bound to a form, order saves through it and one page through the
// paged pump. Each throws std::runtime_error when the component refuses.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/host/HostSession.h"
#include "src/pagedpump/KvDRPump.h"
#include "src/recordpump/KvDataPump.h"

namespace bench {

inline ComPtr<IDispatch> NewSession(const std::string& connectionString) {
  KvHostSessionConfig config;
  config.connectionString = connectionString;
  ComPtr<IDispatch> session;
  if (FAILED(KvCreateHostSession(config, session.ReleaseAndGetAddressOf())))
    throw std::runtime_error("cannot create the host session");
  return session;
}

inline std::unique_ptr<CKvDbConnection> SessionConnection(IDispatch* session) {
  ComPtr<IHostSession> host;
  ComPtr<IDispatch> connection;
  if (FAILED(session->QueryInterface(IHostSession::kIid, host.ReleaseAndGetVoidAddress())) ||
      FAILED(host->get_Connection(connection.ReleaseAndGetAddressOf())) || !connection)
    throw std::runtime_error("the session gives no connection");
  return std::make_unique<CKvDbConnection>(connection.Get(), true);
}

inline ComPtr<IKvDataPump> BoundRecordPump(IDispatch* session, LONG formId) {
  ComPtr<IKvDataPump> pump;
  if (FAILED(CKvDataPump::CreateInstance(IKvDataPump::kIid, pump.ReleaseAndGetVoidAddress())) ||
      pump->Init(session, formId) != S_OK)
    throw std::runtime_error("cannot bind the record pump");
  return pump;
}

// Reads field of records 1 to rows in turn, iterations times in all, with
// ValueByFieldName; returns the characters read.
inline size_t ReadFieldOfEachRecord(IKvDataPump* pump, const char* field, int rows,
                                    int iterations) {
  const CComBSTR name(field);
  const CComVariant none;
  size_t characters = 0;
  for (int i = 0; i < iterations; ++i) {
    pump->MoveTo(i % rows + 1);
    CComVariant value;
    pump->ValueByFieldName(name.Get(), none, &value);
    characters += SysStringLen(value.bstrVal);
  }
  return characters;
}

// New orders of a pump bound to the demo's order form: a number, an amount
// and a title in German (1031) and English (1033).
class OrderSaver {
 public:
  OrderSaver(std::string_view number, std::string_view german, std::string_view english)
      : m_numberValue(number), m_german(german), m_english(english) {}

  void Save(IKvDataPump* pump, LONG amount) const {
    pump->CleanFieldValues();
    pump->SetFieldValue(m_number.Get(), m_numberValue);
    pump->SetFieldValue(m_amount.Get(), CComVariant(amount));
    pump->SetFieldValueEx(m_title.Get(), 1031, m_german);
    pump->SetFieldValueEx(m_title.Get(), 1033, m_english);
    LONG id = 0;
    if (pump->SaveFieldValues(&id) != S_OK || id <= 0) throw std::runtime_error("save failed");
  }

 private:
  CComBSTR m_number{"strno"}, m_amount{"lamount"}, m_title{"strtitle"};
  CComVariant m_numberValue, m_german, m_english;
};

// One page through the paged pump: Init with a count (which must be
// expectedCount) and a start, then pageRows values of field; returns the
// characters read.
inline size_t PumpPage(IDispatch* session, const char* query, const char* sorter,
                       const char* field, LONG start, LONG expectedCount, int pageRows) {
  ComPtr<IKvDRPump> pump;
  if (FAILED(CKvDRPump::CreateInstance(nullptr, IKvDRPump::kIid, pump.ReleaseAndGetVoidAddress())))
    throw std::runtime_error("no paged pump");
  const CComBSTR queryText(query), sorterText(sorter), name(field);
  LONG count = 0;
  if (FAILED(pump->Init(session, queryText.Get(), sorterText.Get(), start, VARIANT_FALSE,
                        &count)) ||
      count != expectedCount)
    throw std::runtime_error("Init failed");
  size_t characters = 0;
  for (int i = 0; i < pageRows; ++i) {
    CComVariant value;
    if (FAILED(pump->get_Value(name.Get(), &value))) throw std::runtime_error("Value failed");
    characters += SysStringLen(value.bstrVal);
    pump->MoveNext();
  }
  return characters;
}

}  // namespace bench
