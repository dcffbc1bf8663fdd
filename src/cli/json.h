// The little JSON that tarnwick-cli writes with --json: strings from bytes and plain numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A JSON string holding `bytes`. Valid UTF-8 is written as it is, apart from the quote, the
// backslash and the control characters, which are escaped; every byte that is not part of a
// valid UTF-8 sequence (file names are bytes) is written as \udcXX, XX its value: the
// "surrogate escape" of Python's file names, so the exact bytes can be recovered (in Python:
// json.loads(line)["path"].encode("utf-8", "surrogateescape")).
std::string JsonString(std::string_view bytes);

// A number of seconds with six decimals, or null.
std::string JsonSeconds(std::optional<double> seconds);
