// Diagnostic lines: what the readers and the TFTP client note about what they met ("reading dsc, line
// %d - unexpected token ..."). They go to standard output and are flushed at once; the command-line
// tools send them to standard error so that standard output holds only a command's result.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

void Diag(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Where diagnostic lines go: stdout by default. `DiagToStream(stderr)` for the command-line tools.
void DiagToStream(FILE* stream);
// Tests capture diagnostics: every line goes to `sink` instead of a stream while it is set.
void DiagSetSink(std::function<void(const std::string&)> sink);
