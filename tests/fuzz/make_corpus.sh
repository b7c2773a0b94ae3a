#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets (they are generated, never
# committed): tests/fuzz/make_corpus.sh BUILD_DIR OUT_DIR
set -euo pipefail
build=${1:?usage: make_corpus.sh BUILD_DIR OUT_DIR}
out=${2:?usage: make_corpus.sh BUILD_DIR OUT_DIR}
rm -rf "$out"
mkdir -p "$out"
"$build/fuzz_make_corpus" "$out"
for target in "$out"/*/; do
  echo "seeds: $(basename "$target"): $(find "$target" -type f | wc -l)"
done
