// Unique work-file names: eight random lower-case letters, a dot and an
// extension, drawn again while a file of that name exists in the directory.
#pragma once

#include <functional>
#include <string>

// Fills the bare name ("kqzmwhta.txt") and the full path.  The file is not
// created.  False only when no free name turns up in many draws (a
// directory that claims every name exists).
bool MakeUniqueFileName(const std::string& dir, const std::string& ext, std::string& name,
                        std::string& path);

// The same with the letters drawn from nextLetter (0..25, taken modulo 26);
// gives up after iMaxDraws names that exist.
bool MakeUniqueFileName(const std::string& dir, const std::string& ext, std::string& name,
                        std::string& path, const std::function<int()>& nextLetter,
                        int iMaxDraws = 10000);
