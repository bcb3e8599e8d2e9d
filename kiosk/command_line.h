// The browser's kiosk command line, built from plain UTF-8 values.
#pragma once

#include <string>

// True only for an http:// or https:// address (letters in any case) with no
// control byte: nothing else goes on the browser's command line.
bool IsLaunchableFormUrl(const std::string& formUrl);

// The form address as it goes between double quotes: every '"' becomes %22
// (browsers read both alike), and a trailing run of backslashes is doubled so
// that it cannot escape the closing quote. Nothing else changes.
std::string QuoteSafeFormUrl(const std::string& formUrl);

// "{browser}" --kiosk "{url}" --edge-kiosk-type=fullscreen --no-first-run
// --disable-pinch --user-data-dir="{profile}"
std::string BuildKioskCommandLine(const std::string& browserPath, const std::string& formUrl,
                                  const std::string& profileDir);
