// The session id: the name part of the folder a run writes into, the same
// for both front ends.
#pragma once

#include <ctime>
#include <string>

// The session id of a start at `when`: the local date as "%y%m%d".
std::string MakeSessionId(std::time_t when);

// Whether an id chosen by the user is usable: letters, digits, '-' and '_'
// only, 1 to 128 characters.
bool ValidSessionId(const std::string& id);
