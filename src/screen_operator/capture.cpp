#include "screen_operator/capture.hpp"

namespace screen_operator {

std::string powershell_capture_script(std::string_view path) {
  std::string script =
      "Add-Type -AssemblyName System.Windows.Forms;"
      "[System.Windows.Forms.Screen]::PrimaryScreen | ForEach-Object {"
      "$bmp = New-Object System.Drawing.Bitmap($_.Bounds.Width, $_.Bounds.Height);"
      "$g = [System.Drawing.Graphics]::FromImage($bmp);"
      "$g.CopyFromScreen($_.Bounds.Location, [System.Drawing.Point]::Empty, $_.Bounds.Size);"
      "$bmp.Save('";
  for (const char c : path) {
    if (c == '\'') script.push_back('\'');
    script.push_back(c);
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
