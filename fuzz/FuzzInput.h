#pragma once
// The fuzz input as a file: the harnesses' code under test reads files by name. One private
// folder per process (also the engine's work folder), removed at exit; one thread.

#include <cstddef>
#include <cstdint>
#include <string>

namespace ruvo::fuzz {

// The folder, made on the first call.
const std::string& Folder();
// Writes `size` bytes to the folder's input file and returns its name.
const std::string& WriteInput(const std::uint8_t* data, std::size_t size);

}  // namespace ruvo::fuzz
