// The registry: HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, with the Win32 calls
// and their documented results. Paths may start with a backslash, as on the
// device. Names are case-insensitive and keep their case; subkeys enumerate in
// the order of their creation. Every change is on disk when its call returns
// (inside a RegistryBatch, registry_batch.h: when the batch finishes).
#pragma once

#include "platform/errors.h"
#include "platform/types.h"

inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001));
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002));

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
inline constexpr DWORD REG_LINK = 6;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// The longest key name (one path element) and value name, in characters.
inline constexpr DWORD MAX_KEY_NAME_LENGTH = 255;
inline constexpr DWORD MAX_VALUE_NAME_LENGTH = 16383;

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM desired,
                     LPSECURITY_ATTRIBUTES attributes, PHKEY result, LPDWORD disposition);
LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result);
LONG RegCloseKey(HKEY key);
LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize);
LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize);

// Not a Win32 call but this platform's own: sets several values of one key in
// one change, which reaches the hive's file in one write, where a
// RegSetValueExW for each value writes the file each time. An entry holds what
// RegSetValueExW takes, and later entries win over earlier ones of the same
// name. Every value is set or none is: an entry that RegSetValueExW would
// refuse fails the call with ERROR_INVALID_PARAMETER before anything changes.
struct REGVALUEW {
    LPCWSTR name;   // null or empty: the key's default value
    DWORD type;
    const BYTE* data;
    DWORD dataSize;
};
LONG RegSetValuesW(HKEY key, const REGVALUEW* values, DWORD count);
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved, LPWSTR keyClass,
                   LPDWORD classLength, PFILETIME lastWriteTime);
LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR valueName, LPDWORD valueNameLength, LPDWORD reserved, LPDWORD type,
                   LPBYTE data, LPDWORD dataSize);
LONG RegDeleteValueW(HKEY key, LPCWSTR valueName);
// Deletes the key with everything below it, as the device does.
LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey);
