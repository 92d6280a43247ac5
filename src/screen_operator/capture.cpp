#include "screen_operator/capture.hpp"

namespace screen_operator {

namespace {

// The length of the UTF-8 character at the start of `text` when PowerShell reads it as
// a single quote ('\'', U+2018, U+2019, U+201A, U+201B), else 0.
std::size_t single_quote_length(std::string_view text) {
  if (text.starts_with('\'')) return 1;
  // U+2018..U+201B are E2 80 98..9B in UTF-8.
  if (text.size() >= 3 && text[0] == '\xE2' && text[1] == '\x80' && text[2] >= '\x98' && text[2] <= '\x9B') {
    return 3;
  }
  return 0;
}

}  // namespace

std::string powershell_capture_script(std::string_view path) {
  std::string script =
      "Add-Type -AssemblyName System.Windows.Forms;"
      "[System.Windows.Forms.Screen]::PrimaryScreen | ForEach-Object {"
      "$bmp = New-Object System.Drawing.Bitmap($_.Bounds.Width, $_.Bounds.Height);"
      "$g = [System.Drawing.Graphics]::FromImage($bmp);"
      "$g.CopyFromScreen($_.Bounds.Location, [System.Drawing.Point]::Empty, $_.Bounds.Size);"
      "$bmp.Save('";
  std::size_t i = 0;
  while (i < path.size()) {
    const std::size_t length = single_quote_length(path.substr(i));
    const std::string_view piece = path.substr(i, length == 0 ? 1 : length);
    script += piece;
    if (length > 0) script += piece;
    i += piece.size();
  }
  script += "')}";
  return script;
}

void encode_base64(const unsigned char* data, std::size_t size, char* out) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const unsigned triple = (unsigned(data[i]) << 16) | (unsigned(data[i + 1]) << 8) | data[i + 2];
    *out++ = kAlphabet[(triple >> 18) & 63];
    *out++ = kAlphabet[(triple >> 12) & 63];
    *out++ = kAlphabet[(triple >> 6) & 63];
    *out++ = kAlphabet[triple & 63];
  }
  const std::size_t rest = size - i;
  if (rest > 0) {
    const unsigned triple = (unsigned(data[i]) << 16) | (rest == 2 ? unsigned(data[i + 1]) << 8 : 0u);
    *out++ = kAlphabet[(triple >> 18) & 63];
    *out++ = kAlphabet[(triple >> 12) & 63];
    *out++ = rest == 2 ? kAlphabet[(triple >> 6) & 63] : '=';
    *out++ = '=';
  }
}

}  // namespace screen_operator
