// The frames of one split or found stretch, read from the files of a run,
// for listening.
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

// For a search at any offset: the frames of found stretch `row` (a WAV
// source's frames from its start, or a database's records as written), and
// the sample's fragment that was searched for. Both are cut to two minutes,
// and to what the file holds.
QByteArray FoundStretchFrames(const RunResults& results, size_t row);
QByteArray SampleFragmentFrames(const RunResults& results);

}  // namespace kestrune::ui
