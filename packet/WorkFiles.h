// Unique work-file names: eight random lower-case letters, a dot and an
// extension, drawn again while a file of that name exists.
#pragma once

#include <cstdio>
#include <string>

// Creates the new, empty file exclusively (so two writers can never share
// it) and stores its bare name; false when no file could be created.
bool NewWorkFile(const std::string& dir, const char* pszExtension, std::string& name);
// The same, handing back the new file open for writing (binary) in *ppFile.
bool NewWorkFile(const std::string& dir, const char* pszExtension, std::string& name,
                 std::FILE** ppFile);
