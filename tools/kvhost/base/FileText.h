// Reading a whole file as bytes, for page sources, include files, static
// files and the page arguments of the command line.
#pragma once

#include <string>

// False for a directory, a file that cannot be opened or a failed read, with
// the reason in *error unless error is null; *text is left alone then.
bool ReadWholeFile(const std::string& path, std::string* text, std::string* error = nullptr);
