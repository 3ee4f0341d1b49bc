#include "common/win32/redirection_guard.h"

#include <windows.h>

#include "common/win32/file_security.h"

namespace {

bool runs_with_power() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  ProcessUser user;
  const bool powerful =
      (GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
       elevation.TokenIsElevated != 0) ||
      (read_process_user(token, user) &&
       (IsWellKnownSid(user.sid(), WinLocalSystemSid) || IsWellKnownSid(user.sid(), WinLocalServiceSid) ||
        IsWellKnownSid(user.sid(), WinNetworkServiceSid)));
  CloseHandle(token);
  return powerful;
}

}  // namespace

bool guard_against_untrusted_junctions() {
  if (!runs_with_power()) return true;
  // Looked up, as Windows 7 lacks it.
  using SetPolicy = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  const auto set_policy = kernel32 == nullptr ? nullptr
                                              : reinterpret_cast<SetPolicy>(reinterpret_cast<void (*)()>(
                                                    GetProcAddress(kernel32, "SetProcessMitigationPolicy")));
  if (set_policy == nullptr) return false;
  PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy{};
  policy.EnforceRedirectionTrust = 1;
  // Refused where Windows does not know the policy yet (before Windows 10
  // 22H2 and Windows 11): the run goes on without it.
  return set_policy(ProcessRedirectionTrustPolicy, &policy, sizeof policy) != 0;
}
