// Every Windows handle kind the program owns, each with its own idea of
// "none": most kinds use null, a file from CreateFileW uses
// INVALID_HANDLE_VALUE.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "common/unique_handle.h"

namespace quenzil {

// Events, mutexes, threads, process and token handles: null is none.
using UniqueHandle = Unique<ClosedBy<HANDLE, &::CloseHandle>>;

// CreateFileW answers INVALID_HANDLE_VALUE, never null, for a failure.
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Free(Handle handle) { ::CloseHandle(handle); }
};
using UniqueFile = Unique<FileHandleTraits>;

using UniqueKey = Unique<ClosedBy<HKEY, &::RegCloseKey>>;
using UniqueInternet = Unique<ClosedBy<HINTERNET, &::WinHttpCloseHandle>>;
// Memory from LocalAlloc and the APIs that hand out LocalFree'd memory.
using UniqueLocal = Unique<ClosedBy<HLOCAL, &::LocalFree>>;
using UniqueSidText = Unique<ClosedBy<LPWSTR, &::LocalFree>>;
using UniqueDescriptor = Unique<ClosedBy<PSECURITY_DESCRIPTOR, &::LocalFree>>;
using UniqueGlobal = Unique<ClosedBy<HGLOBAL, &::GlobalFree>>;
using UniqueMenu = Unique<ClosedBy<HMENU, &::DestroyMenu>>;
using UniqueIcon = Unique<ClosedBy<HICON, &::DestroyIcon>>;
using UniqueFont = Unique<ClosedBy<HFONT, &::DeleteObject>>;
using UniqueBrush = Unique<ClosedBy<HBRUSH, &::DeleteObject>>;

}  // namespace quenzil
