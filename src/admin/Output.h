// Output for people (aligned tables) and for scripts (JSON), both on standard output.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace orvex::admin {

using Json = nlohmann::ordered_json;

struct Table {
  std::vector<std::string> headers;
  std::vector<std::vector<std::string>> rows;
};

// Columns padded to their widest cell, two blanks apart, the last column unpadded.
void PrintTable(std::ostream& out, const Table& table);

// The JSON text, indented, with invalid UTF-8 replaced rather than refused (settings and
// addresses may hold any bytes).
std::string JsonText(const Json& value);

class Session;

// What a command prints: the JSON with --json, else the table or the one sentence.
void Print(const Session& session, std::ostream& out, const Json& json, const Table& table);
void PrintMessage(const Session& session, std::ostream& out, const Json& json,
                  const std::string& text);

}  // namespace orvex::admin
