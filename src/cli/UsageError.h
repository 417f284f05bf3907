#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

// A command line the parser refused, told in one line of the program's own
// words, with a guess at what was meant, and the usage line of the command.
namespace cli {

// The name among `names` nearest to `typed` (at most two edits, three when
// the first three letters agree), or "" when none is that near.
std::string nearestName(const std::string& typed, const std::vector<std::string>& names);

// What was wrong; `context` is the (sub)command the error belongs to.
std::string usageProblem(const CLI::App& context, const CLI::ParseError& e);

// "用法：quillmark measure [选项]（全部选项见 quillmark measure --help）"
std::string usageLine(const CLI::App& context);

}  // namespace cli
