// The duration probe of the split side: the stop position of a file as the media framework
// reports it, from a graph that is built and cued but never run.
#pragma once

#include <cstdint>
#include <string>

class IFilterGraphFactory;

// True with the stop position in 100-ns units (greater than 0) for a file that can be played;
// false, leaving *stop100ns untouched, when no graph can be built, the file cannot be
// rendered or its stop position is unknown, 0 or less (a lone picture has no length). The
// graph is released before returning. Call on one thread at a time, after
// MediaFrameworkInitialize; takes some 10 to 60 ms once the framework's plugins are loaded.
bool QueryStopPosition(const std::string& path, int64_t* stop100ns);

// The same with graphs from the given factory. (A name of its own, so that QueryStopPosition
// alone converts to a std::function.)
bool QueryStopPositionWith(IFilterGraphFactory& factory, const std::string& path,
                           int64_t* stop100ns);
