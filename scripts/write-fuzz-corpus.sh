#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets into fuzz/corpus/ from the tests' fixture builders.
# The corpora are kept in the tree: run this after changing a builder or adding a target, and commit.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset linux-x64 >/dev/null
cmake --build --preset linux-x64 --target write_fuzz_corpus
build/linux-x64/tests/write_fuzz_corpus fuzz/corpus
git status --short fuzz/corpus
