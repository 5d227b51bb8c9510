#pragma once
// Reading a whole input that a user names, within a limit: no name (a device, a FIFO
// without a writer, a file that keeps growing) can make a reader block in open(), read
// without end or take memory without bound. Errors come back as text, ready to follow
// "NAME: " in a message.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orb {

struct ReadLimit {
  std::size_t nMaxBytes;
  const char* pWhat;  // what the limit is for: "... the limit for <pWhat>"
};

// Reads the named file whole. It must be a regular file: anything else is refused before
// it is opened for reading. Reading stops at nMaxBytes + 1.
bool ReadRegularFile(const char* pPath, const ReadLimit& limit, std::vector<std::uint8_t>& bytes, std::string& error);

// Reads an open descriptor (standard input, a pipe) to its end, stopping at nMaxBytes + 1.
bool ReadToEnd(int nFd, const ReadLimit& limit, std::vector<std::uint8_t>& bytes, std::string& error);

// "a directory", "a character device", ... for a st_mode.
const char* FileTypeName(unsigned nMode);

}  // namespace orb
