// Unique work-file names: eight random lower-case letters, a dot and an
// extension, drawn again while a file of that name exists.
#pragma once

#include <string>

// Creates the new, empty file exclusively (so two writers can never share
// it) and stores its bare name; false when no file could be created.
bool NewWorkFile(const std::string& dir, const char* pszExtension, std::string& name);
