// The few character classes that the program's readers of typed texts,
// hand-edited files and datagrams share, so that a blank, a letter or a
// digit means the same to all of them. ASCII only: the texts are 8-bit
// bytes in the Windows-1252 code page, and no reader gives bytes above 127
// a meaning of their own.
#pragma once

#include <string_view>

namespace rotavox {

// A blank: a space or a tab, or the CR and LF of a line end.
constexpr bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
constexpr bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
constexpr char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
// A byte below 32 (tab, CR, LF, STX, ESC ...): never part of a name or a
// frame's parameter.
constexpr bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20; }

// `text` without the blanks at either end.
constexpr std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

constexpr bool HasControl(std::string_view text) {
  for (const char c : text) {
    if (IsControl(c)) return true;
  }
  return false;
}

}  // namespace rotavox
