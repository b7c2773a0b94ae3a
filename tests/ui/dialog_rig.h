// The main dialog wired to the real core launchers and scripted prompts, with
// a source of ten distinct 100 ms noise splits and a sample that holds source
// splits 7, 2 and 5 after one unrelated split.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "support/temp_dir.h"
#include "test_prompts.h"
#include "ui/launchers.h"
#include "ui/tamberly_dlg.h"

namespace kestrune::ui::test {

inline constexpr size_t kSplitBytes = 4410 * 4;  // 100 ms

// Noise splits of 100 ms, one for each seed, back to back.
std::vector<uint8_t> Splits(const std::vector<uint32_t>& seeds);

QString Q(const std::filesystem::path& p);

// Members are destroyed in reverse: the dialog first, the folder last.
struct DialogRig {
  DialogRig();
  kestrune::test::TempDir dir;
  TestPrompts prompts;
  CoreLaunchers launchers{prompts};
  CTamberlyDlg dlg{prompts, launchers};
  const CTamberlyDlg::Controls& c = dlg.controls();
};

}  // namespace kestrune::ui::test
