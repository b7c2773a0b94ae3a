// Helpers of the main dialog's additions: the split length a tempo gives as
// shown live, where a dropped file goes, the sample's length in splits and
// the folder a chooser opens in.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace kestrune::ui {

// The split length "Process.." will use for a tempo typed as text and a note
// fraction, and a note when the length was held to the milliseconds field's
// range ("100 ms (held to 100..5000)"). Nothing when the text is no tempo.
struct LiveSplitLength {
  uint32_t milliseconds = 0;
  QString note;
};
std::optional<LiveSplitLength> SplitLengthForTempoText(const QString& bpmText, int32_t noteFraction);

enum class DropTarget { None, Database, Source, Sample };
// A ".qlmx" becomes the source as a database; a ".wav" the source while there
// is none, else the sample. Anything else is refused.
DropTarget DropTargetFor(const QString& path, bool sourceEmpty);

// "(N splits)" for a sample read with splits of splitMilliseconds, or why it
// cannot be used; empty when there is no sample.
QString SampleLengthText(const QString& samplePath, uint32_t splitMilliseconds);

// The folder of path (a file), or empty when there is none.
QString FolderOf(const QString& path);

}  // namespace kestrune::ui
