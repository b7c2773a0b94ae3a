#include "dialog_rig.h"

#include "support/wav_builder.h"

namespace kestrune::ui::test {

std::vector<uint8_t> Splits(const std::vector<uint32_t>& seeds) {
  std::vector<uint8_t> out;
  for (uint32_t s : seeds) {
    const auto split = kestrune::test::NoiseBytes(kSplitBytes, s);
    out.insert(out.end(), split.begin(), split.end());
  }
  return out;
}

QString Q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

DialogRig::DialogRig() {
  using kestrune::test::PcmWav;
  using kestrune::test::WriteBytes;
  std::filesystem::create_directory(dir.path() / "out");
  WriteBytes(dir.path() / "source.wav", PcmWav(Splits({10, 11, 12, 13, 14, 15, 16, 17, 18, 19})));
  WriteBytes(dir.path() / "sample.wav", PcmWav(Splits({99, 17, 12, 15})));
}

}  // namespace kestrune::ui::test
