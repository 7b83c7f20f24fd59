// The program's name and version, shown in the help text, the window title
// and the full-screen status bar.
#pragma once

inline constexpr const char* kProgramName = "Kavel";
inline constexpr const char* kProgramVersion = "0.20";
