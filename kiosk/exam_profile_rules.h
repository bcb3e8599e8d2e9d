// The browser profile of one exam, on plain values: the name of its folder
// and the temporary folder it goes in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr char kProfileFolderPrefix[] = "cbt_orvel_profile_";

// "cbt_orvel_profile_" and the 64 random bits in 16 lower-case hex digits.
std::string ProfileFolderName(std::uint64_t random);

// Exactly a name ProfileFolderName can give: left by an exam, the program's
// to remove.
bool IsProfileFolderName(std::string_view name);

// A temporary folder the browser's command line can carry between quotes:
// not empty, ending with a backslash (as Windows gives it), and without a
// double quote or a control character, either of which would end the
// argument early and add switches of its own.
bool IsUsableTempFolder(std::string_view path);
