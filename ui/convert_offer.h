// The way in for files the matching jobs refuse for their format: the box
// with the refusal offers to convert a copy (convert/convert.h) and goes on
// with it.
#pragma once

#include <QString>

class QWidget;

namespace kestrune::ui {

class UserPrompts;

enum class OfferOutcome {
  Unchanged,  // the file is taken as it is (the target format, or nothing to convert)
  Converted,  // path now names the converted copy
  Cancelled,  // the user said no or stopped the conversion, or it failed (reported)
};

// When path names a file in another format that can be read, shows the
// format refusal with the file's actual format and the buttons "Convert a
// copy" and "Cancel". Converting writes NAME_44k.wav beside the original, or
// in outputFolder when the original's folder is not writable, behind a
// progress dialog that can be cancelled.
OfferOutcome OfferConversion(QWidget* owner, UserPrompts& prompts, const QString& outputFolder, QString& path);

// The chooser filter for sound files: WAV first, then every readable format.
QString SoundFileFilter(const char* wavFilter);

}  // namespace kestrune::ui
