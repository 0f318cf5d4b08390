// Text as it is shown to a person: UTF-8 characters as they are; control bytes, bytes that are
// not UTF-8 and invisible characters that reorder or hide text as escapes, so that no input can
// move a terminal's cursor, change its title or its clipboard, or hide what it shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zoqc {

// The length (2 to 4) of the well-formed UTF-8 character that starts at AAt, or 0 when the
// byte there is ASCII or does not start one (overlong forms, surrogates and code points past
// U+10FFFF are not well formed).
std::size_t Utf8Length(std::string_view AText, std::size_t AAt);

// One character of a text as shown: a byte that is not UTF-8 is a character of its own.
struct TShownChar {
  std::size_t Length = 1;  // its bytes in the text: 1 to 4
  std::size_t Units = 1;   // its UTF-16 code units: 2 past U+FFFF, else 1
  bool Tab = false;        // a tab: in a source line, blanks to the next multiple of 8
  char Escape[9] = {};     // how it is shown, when not as itself: "\x1b", "\n", "<E9>",
                           // "<U+FEFF>"; empty for a character shown as itself
  // Its columns where it is not a tab in a source line: the escape's length, else 1.
  std::size_t Width() const;
};

// The character that starts at AAt (AAt < AText.size()).
TShownChar ShowChar(std::string_view AText, std::size_t AAt);

// The columns a tab takes when it starts at the 1-based display column AColumn.
inline std::size_t TabWidth(std::int64_t AColumn) {
  return 8 - static_cast<std::size_t>((AColumn - 1) % 8);
}

// AText as shown in a message: every character as ShowChar shows it (a tab as "\t").
std::string Shown(std::string_view AText);

// AText with only its control bytes (0 to 31 and 127) escaped, every other byte as it is: for
// the lines whose bytes are fixed, which must stay the same for any name without control bytes.
std::string ControlsEscaped(std::string_view AText);

}  // namespace zoqc
