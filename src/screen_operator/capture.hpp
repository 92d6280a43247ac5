// Pieces of the screenshot path that need no runtime: the Windows capture script and
// the base64 text of the PNG handed to the model.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace screen_operator {

// A PowerShell script that saves the primary screen as an image at `path` (UTF-8). The
// path stands between single quotes, each character PowerShell takes for a single quote
// (', U+2018, U+2019, U+201A, U+201B) doubled, so no path can end the literal early.
std::string powershell_capture_script(std::string_view path);

// RFC 4648 base64 with the standard alphabet and "=" padding, no line breaks.
constexpr std::size_t base64_length(std::size_t size) { return (size + 2) / 3 * 4; }
// Writes base64_length(size) characters to `out`.
void encode_base64(const unsigned char* data, std::size_t size, char* out);

}  // namespace screen_operator
