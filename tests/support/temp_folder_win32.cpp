#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "support/temp_dir.h"

namespace kestrune::test {

// GetTempPathW reads TMP first.
void SetTemporaryFolder(const std::filesystem::path& folder) {
  ::SetEnvironmentVariableW(L"TMP", folder.empty() ? nullptr : folder.c_str());
}

}  // namespace kestrune::test
