// The conversion itself, from any byte source into any byte sink.
#pragma once

#include "convert/byte_io.h"
#include "convert/convert.h"

namespace kestrune::convert {

// Reads source with libsndfile, mixes to stereo, resamples to 44100 Hz when
// the rate differs, reduces to 16 bits and writes the samples, then the
// header, into sink. Memory stays the same whatever the length.
Result ConvertStream(ByteSource& source, ByteSink& sink, const Progress& progress, const Limits& limits);

}  // namespace kestrune::convert
