// tarnwick-cli plan and keyframes: where a cut would fall, and the places a clean piece can
// start, without writing anything.
#pragma once

#include <ostream>
#include <string>

#include "cli/cli.h"
#include "mpeg/mpegsource.h"
#include "mpeg/reporter.h"
#include "mpeg/splitengine.h"

// A time in 100-ns units as H:MM:SS.mmm.
std::string FormatPlanTime(int64_t time100ns);

// Prints the span CutClip would write for these times; the exit status.
int RunPlanCommand(CMpegSource& source, const CClipTime& start, const CClipTime& end, bool clean,
                   bool json, IReporter& reporter, CliEnvironment& env);

// Prints the key pictures of the source; the exit status.
int RunKeyframesCommand(CMpegSource& source, bool json, IReporter& reporter, CliEnvironment& env);
