// The JSON rules are a contract with the exam server; these rows pin them.
#include "net/json.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

struct EscapeRow {
    std::string input;
    std::string expected;
};

TEST(EscapeJson, EscapesQuotesBackslashesAndControlBytes)
{
    const EscapeRow rows[] = {
        {"", ""},
        {"plain", "plain"},
        {"a\"b\\c", "a\\\"b\\\\c"},
        {"x\r\ny", "x\\ny"},                     // CR LF becomes one \n
        {"a\rb", "ab"},                          // a lone CR is dropped
        {"line1\nline2", "line1\\nline2"},
        {"tab\there", "tab\\u0009here"},         // raw tabs break strict parsers
        {"\x01\x1f", "\\u0001\\u001f"},
        {"nul\0end"s, "nul\\u0000end"},
        {"\x1b[", "\\u001b["},
        {"caf\xC3\xA9", "caf\xC3\xA9"},          // UTF-8 bytes kept as they are
        {"del\x7f", "del\x7f"},
        {"a/b", "a/b"},                          // slash is not escaped
        {"\xE2\x80\x93", "\xE2\x80\x93"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(EscapeJson(row.input), row.expected) << "input: " << row.input;
}

struct ExtractRow {
    std::string json;
    std::string key;
    std::string expected;
};

TEST(ExtractJsonString, ReadsTheExactFormTheServerWrites)
{
    const ExtractRow rows[] = {
        {R"({"ok":true,"formUrl":"a\/b"})", "formUrl", "a/b"},
        {R"({"error":"Kelas \"5A\" salah"})", "error", "Kelas \"5A\" salah"},
        {R"({"error":"baris1\nbaris2"})", "error", "baris1nbaris2"},  // escape gives its byte
        {R"({"error":"caf\u00e9"})", "error", "cafu00e9"},
        {R"({"error":"back\\slash"})", "error", "back\\slash"},
        {R"({"formUrl": "x"})", "formUrl", ""},                    // blank after colon
        {R"({"formUrl" :"x"})", "formUrl", ""},                    // blank before colon
        {R"({"formUrl":"abc)", "formUrl", "abc"},                  // unterminated value
        {"{\"formUrl\":\"ab\\", "formUrl", "ab\\"},                // ends on a backslash
        {R"({"formUrl":")", "formUrl", ""},                        // ends right after quote
        {R"({"count":5})", "count", ""},                           // number value
        {R"({"ok":true})", "ok", ""},
        {R"({"data":{"error":"Ditolak"}})", "error", "Ditolak"},   // nesting ignored
        {R"({"error":"A","error":"B"})", "error", "A"},            // first wins
        {"{\"formUrl\":\"Matematika Kelas 5 \xE2\x80\x93 Ulangan\"}", "formUrl",
         "Matematika Kelas 5 \xE2\x80\x93 Ulangan"},
        {R"({"FormUrl":"x"})", "formUrl", ""},                     // case-sensitive
        {R"({"xformUrl":"no","formUrl":"yes"})", "formUrl", "yes"},
        {R"({"formUrl":""})", "formUrl", ""},
        {"", "formUrl", ""},
        {"{\"formUrl\":\"a\0b\"}"s, "formUrl", "a\0b"s},           // NUL kept
    };
    for (const auto& row : rows)
        EXPECT_EQ(ExtractJsonString(row.json, row.key), row.expected) << "json: " << row.json;
}

struct BoolRow {
    std::string json;
    bool expected;
};

TEST(ExtractJsonBool, TrueOnlyForTheLiteralDirectlyAfterTheColon)
{
    const BoolRow rows[] = {
        {R"({"ok":true})", true},
        {R"({"data":{"ok":true}})", true},
        {R"({"ok":trueish})", true},  // nothing after "true" is examined
        {R"({"ok": true})", false},
        {R"({"ok":false})", false},
        {R"({"ok":"true"})", false},
        {R"({"ok":1})", false},
        {R"({"OK":true})", false},
        {R"({"okay":true})", false},
        {R"({"notok":true})", false},  // another key ending in the name
        {"", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ExtractJsonBool(row.json, "ok"), row.expected) << "json: " << row.json;
}

TEST(EscapeJson, RoundTripsThroughTheScannerForPrintableText)
{
    // What the program sends must come back unchanged through its own reader
    // when a server echoes it (control bytes aside, which the reader does not decode).
    const std::string values[] = {"Budi \"Si Kancil\" Santoso", "C:\\path\\x", "caf\xC3\xA9", "a/b"};
    for (const auto& v : values) {
        const std::string json = "{\"name\":\"" + EscapeJson(v) + "\"}";
        EXPECT_EQ(ExtractJsonString(json, "name"), v);
    }
}

// The escapes themselves are pinned through the proctor's messages (see
// proctor_command_rules_test.cpp); here, an answer cut off inside its text.
TEST(ExtractJsonText, AnAnswerCutOffInsideTheTextKeepsWhatCame)
{
    const struct {
        std::string json, expected;
    } rows[] = {
        {R"({"text":"a\u00e9)", "a\xC3\xA9"},
        {R"({"text":"a\u00e)", "a\xEF\xBF\xBD" "00e"},
        {R"({"text":"a\)", "a\xEF\xBF\xBD"},
        {R"({"text":"ab)", "ab"},
        {R"({"text":)", ""},
        {R"({"other":"ab"})", ""},
    };
    for (const auto& r : rows)
        EXPECT_EQ(ExtractJsonText(r.json, "text"), r.expected) << r.json;
}

}  // namespace
