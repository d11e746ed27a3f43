// The map in memory as text, one line per record, for tests that compare maps: a build with its
// reload, a sync with a fresh build.
#pragma once

#include <string>
#include <vector>

// A line per drive ("drive C root=yes"), then a line per record of its tree, depth first in block
// order: the record's path, flags, size, write stamp and references; with `usage` also its usage
// count and used stamp.
std::vector<std::string> DumpMap(bool usage = true);

std::vector<std::string> Sorted(std::vector<std::string> lines);
