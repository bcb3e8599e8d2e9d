// Where the exam browser may be installed: Edge before Chrome, and for each
// the folder its installer uses first. Fixed; no registry look-up.
#pragma once

inline constexpr const char* kBrowserPaths[] = {
    "C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe",
    "C:\\Program Files\\Microsoft\\Edge\\Application\\msedge.exe",
    "C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe",
    "C:\\Program Files (x86)\\Google\\Chrome\\Application\\chrome.exe",
};
