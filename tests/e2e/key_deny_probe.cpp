// Makes formwell's machine key one that this user may read but not write, as an administrator's
// locked-down machine has it: HKLM\Software\orvanta\formwell (a 32-bit program's view, so under
// WOW6432Node on 64-bit Windows) gets access rules that deny setting values and creating subkeys
// to everyone. Then it opens the key for writing, as formwell's check does, and prints the answer
// ("write-open: 5" is access denied; Wine honours the rules only while its server runs).
//   key_deny_probe
#include <windows.h>
#include <sddl.h>

#include <cstdio>

int main() {
  const wchar_t* path = L"Software\\orvanta\\formwell";
  HKEY key = nullptr;
  LONG made = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (made != ERROR_SUCCESS) {
    std::printf("create: %ld\n", made);
    return 1;
  }
  // D: deny KEY_SET_VALUE | KEY_CREATE_SUB_KEY (0x6) to Everyone, allow the rest to Everyone.
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(D;;0x6;;;WD)(A;;KA;;;WD)", SDDL_REVISION_1, &sd,
                                                            nullptr)) {
    std::printf("sddl: %lu\n", GetLastError());
    return 1;
  }
  LONG set = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd);
  LocalFree(sd);
  RegCloseKey(key);
  HKEY again = nullptr;
  LONG open = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE, &again);
  if (open == ERROR_SUCCESS) RegCloseKey(again);
  LONG read = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &again);
  if (read == ERROR_SUCCESS) RegCloseKey(again);
  std::printf("set-security: %ld write-open: %ld read-open: %ld\n", set, open, read);
  return set == ERROR_SUCCESS ? 0 : 1;
}
