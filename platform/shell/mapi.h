// The device's messaging accounts, as the platform's messaging API lists
// them: a logon gives a session whose message-store table has one row per
// account, read one row at a time with its display name.
//
// The desktop keeps no message stores of its own, so the device's accounts
// are written down in a file of the device root,
// "\Windows\Messaging\Accounts.txt": UTF-8 (a byte-order mark is
// skipped), one account's display name a line; blank lines and white space
// at the ends of a line are ignored. Without that file the device has no
// messaging service and a logon fails with MAPI_E_LOGON_FAILED; with an
// empty file the table has no rows. A user or a test writes the file; nothing else makes accounts up.
#pragma once

#include "kernel/types.h"

#define MAPI_ACCOUNTS_FILE u"\\Windows\\Messaging\\Accounts.txt"

#define MAPI_E_LOGON_FAILED ((HRESULT)0x80040111L)
#define MAPI_E_INVALID_PARAMETER ((HRESULT)0x80070057L)

// Property types and the one property the table carries.
#define PT_UNICODE 0x001F
#define PROP_TAG(type, id) ((((ULONG)(id)) << 16) | ((ULONG)(type)))
#define PR_DISPLAY_NAME PROP_TAG(PT_UNICODE, 0x3001)

struct SPropValue {
  ULONG ulPropTag;
  ULONG dwAlignPad;
  union {
    LONG l;
    LPWSTR lpszW;
  } Value;
};
typedef SPropValue* LPSPropValue;

struct SRow {
  ULONG ulAdrEntryPad;
  ULONG cValues;
  LPSPropValue lpProps;
};

struct SRowSet {
  ULONG cRows;
  SRow aRow[1];
};
typedef SRowSet* LPSRowSet;

struct SPropTagArray {
  ULONG cValues;
  ULONG aulPropTag[1];
};
typedef SPropTagArray* LPSPropTagArray;

class IMAPITable {
 public:
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  // Restricts the rows' columns to these properties (PR_DISPLAY_NAME is the
  // only one known; others come back empty).
  virtual HRESULT SetColumns(const SPropTagArray* columns, ULONG flags) = 0;
  // Up to rowCount rows from the current place on; none at the end of the
  // table. The caller frees them with FreeProws.
  virtual HRESULT QueryRows(LONG rowCount, ULONG flags, LPSRowSet* rows) = 0;

 protected:
  virtual ~IMAPITable() = default;
};

class IMAPISession {
 public:
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  virtual HRESULT GetMsgStoresTable(ULONG flags, IMAPITable** table) = 0;
  virtual HRESULT Logoff(ULONG_PTR uiParam, ULONG flags, ULONG reserved) = 0;

 protected:
  virtual ~IMAPISession() = default;
};
typedef IMAPISession* LPMAPISESSION;

// Logs on to the device's messaging: the accounts are read at this moment.
HRESULT MAPILogonEx(ULONG_PTR uiParam, LPWSTR profileName, LPWSTR password, ULONG flags, LPMAPISESSION* session);
// Frees the rows QueryRows gave.
void FreeProws(LPSRowSet rows);
