#pragma once

#include <CLI/CLI.hpp>

#include "cli/ButtonsRun.h"
#include "cli/CpiRun.h"

// The options of `quillmark buttons` and `quillmark cpi`, described on the
// program's parser.
namespace cli {

CLI::App* describeButtons(CLI::App& app, ButtonsOptions& options);
CLI::App* describeCpi(CLI::App& app, CpiOptions& options);

}  // namespace cli
