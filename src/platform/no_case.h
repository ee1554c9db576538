// Names compared the way the platform's directory search and list boxes
// compare them: without regard to case.
#pragma once

#include <string_view>

// True when `a` and `b` have the same length and the same characters, an
// upper-case letter counting as its lower-case one.
bool EqualNoCase(std::string_view a, std::string_view b);

// True when `name` ends with `suffix`, compared as EqualNoCase does.
bool EndsWithNoCase(std::string_view name, std::string_view suffix);
