// The framework's exception classes. Thrown by value, caught by reference;
// std::bad_alloc counts as the memory exception wherever a handler for
// CMemoryException stands.
#pragma once

#include <string>

#include "ComTypes.h"

class CException {
 public:
  CException() = default;
  explicit CException(std::string message) : m_strMessage(std::move(message)) {}
  virtual ~CException() = default;
  // Copies the message (at most nMaxError-1 characters and a terminator) into
  // lpszError; returns FALSE with an empty text when there is no message.
  virtual BOOL GetErrorMessage(char* lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr) const;
  // The class name as the run-time class information holds it.
  virtual const char* GetRuntimeClassName() const { return "CException"; }
  const std::string& Message() const { return m_strMessage; }

 protected:
  std::string m_strMessage;
};

class CMemoryException : public CException {
 public:
  CMemoryException() : CException() {}
  const char* GetRuntimeClassName() const override { return "CMemoryException"; }
};

inline BOOL CException::GetErrorMessage(char* lpszError, UINT nMaxError, UINT* pnHelpContext) const {
  if (pnHelpContext) *pnHelpContext = 0;
  if (!lpszError || nMaxError == 0) return FALSE;
  size_t n = m_strMessage.size();
  if (n > nMaxError - 1) n = nMaxError - 1;
  m_strMessage.copy(lpszError, n);
  lpszError[n] = '\0';
  return m_strMessage.empty() ? FALSE : TRUE;
}
