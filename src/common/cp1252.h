// Conversion between the program's 8-bit texts and UTF-8.
//
// The program's texts (control texts, STAT.DAT, frames) are bytes in the
// Western Windows code page, Windows-1252, so that both editions read and
// write the same bytes. An edition converts only where text meets its
// toolkit or voice.
#pragma once

#include <string>
#include <string_view>

namespace rotavox {

// Every byte has a character; the five bytes that Windows-1252 leaves
// undefined (81 8D 8F 90 9D) become the control characters of the same
// number, as Windows itself maps them.
std::string Cp1252ToUtf8(std::string_view bytes);

// Characters with no Windows-1252 byte become '?'; malformed UTF-8 bytes too.
std::string Utf8ToCp1252(std::string_view utf8);

}  // namespace rotavox
