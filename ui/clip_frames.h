// The frames of one split, read from the files of a run, for listening.
#pragma once

#include <QByteArray>

#include <cstdint>

#include "ui/run_results.h"

namespace kestrune::ui {

// 44100 Hz, 2 channels, 16-bit frames of source split `split` (a WAV source
// or a splits database). Empty when the file cannot be read any more.
QByteArray SourceSplitFrames(const RunResults& results, uint32_t split);
// The frames of template split j of the sample.
QByteArray TemplateSplitFrames(const RunResults& results, uint32_t j);
// frameCount frames from firstFrame of a WAV file, when it holds them all.
QByteArray WavFrames(const QString& path, uint64_t firstFrame, uint32_t frameCount);

}  // namespace kestrune::ui
