// The JSON the program speaks with the exam server, without a JSON library.
// These exact rules are a contract with the server: request bodies are built,
// and replies are read, only through these functions.
#pragma once

#include <string>

// Makes UTF-8 text safe between the double quotes of a JSON string member.
// Quote and backslash are escaped, line feed becomes \n, carriage return is
// dropped, other control bytes become \u00xx; every other byte is kept.
std::string EscapeJson(const std::string& text);

// The value of the first string member written exactly as "key":"value"
// (no blank around the colon). An escape gives back its following byte
// unchanged (\n gives n). Missing member or no opening quote: empty.
std::string ExtractJsonString(const std::string& json, const std::string& key);

// The same member, found the same way, with its escapes undone as JSON means
// them: \n a line feed, \uXXXX (a surrogate pair too) the character in UTF-8;
// a lone surrogate or a broken escape gives U+FFFD. For text shown to the
// student, where a line break must stay one.
std::string ExtractJsonText(const std::string& json, const std::string& key);

// Appends one Unicode code point (at most U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);

// True when the text holds "key":true anywhere.
bool ExtractJsonBool(const std::string& json, const std::string& key);
