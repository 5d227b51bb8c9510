#pragma once
// The diagnostic log: off unless the program was started with "/m", then one file,
// recreated at each start. Every layer and every thread writes through WriteLog; the
// formats carry their own "\r\n" and nothing is added (no time stamp, no level).

#include <cstddef>

namespace orb {

inline constexpr std::size_t kLogBufferSize = 1024;  // including the terminating zero

// Switches logging on and recreates the file at `path` (empty). Returns false when the
// file cannot be created: logging stays on but every line is dropped, as the program
// must run normally without its log.
bool StartLog(const char* path);

// Closes the file and switches logging off. Called once, after the last thread ended.
void StopLog();

bool IsLogEnabled();

// A second reader of every line, for `orbctl play --log` and for tests. Called under the
// log's lock, so lines arrive whole and in order; it must not call WriteLog itself.
using LogObserver = void (*)(void* pContext, const char* pLine, std::size_t nLength);
void SetLogObserver(LogObserver pObserver, void* pContext);

// printf-style. A line longer than the buffer is shortened; when its format ends with a
// line end, the shortened line keeps "\r\n" so the file stays one line per call.
void WriteLog(const char* pFormat, ...) __attribute__((format(printf, 1, 2)));

}  // namespace orb
