// lumivex-render --fit: a copy of a definition file with the suggested boxes (and weights).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "ifs/check/check_verdict.h"

// The bytes of a definition file with the box lines (and, with weights, the weights) of every
// definition that can be rewritten in place replaced by the suggested ones. What changed and which
// definitions were left as they were, with why, go to the lists.
std::string FitText(const std::string& bytes, const std::vector<DefinitionReport>& reports, bool weights,
                    std::vector<std::string>* changes, std::vector<std::string>* left);

// --fit: a copy of the file at outPath with every box line (and, with weights, every weight)
// replaced by the suggested one; every other byte kept. Written under a partial name and renamed.
// 0 when every definition was fitted, 1 when some were left as they were, 2 when nothing was
// written.
int RunFit(const std::string& path, const std::string& outPath, bool weights, const CheckSettings& settings,
           std::FILE* out, std::FILE* err);
