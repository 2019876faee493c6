#pragma once

#include <string>
#include <vector>

// Every message the core asked the error box to show, oldest first.
extern std::vector<std::string> ShownErrors;
