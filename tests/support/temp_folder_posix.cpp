#include <stdlib.h>

#include "support/temp_dir.h"

namespace kestrune::test {

void SetTemporaryFolder(const std::filesystem::path& folder) {
  if (folder.empty()) {
    ::unsetenv("TMPDIR");
  } else {
    ::setenv("TMPDIR", folder.c_str(), 1);
  }
}

}  // namespace kestrune::test
