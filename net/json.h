// The JSON the program speaks with the exam server, without a JSON library.
// These exact rules are a contract with the server: request bodies are built,
// and replies are read, only through these three functions.
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

// True when the text holds "key":true anywhere.
bool ExtractJsonBool(const std::string& json, const std::string& key);
