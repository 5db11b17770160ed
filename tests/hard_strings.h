// Strings that spreadsheets and the dialect both trip over, for the tests
// of the tidy and for the tables of the round trip through a real
// spreadsheet program: number-like text, formula starters, separators,
// quotes, backslashes before n and r, the escapes as text, line breaks,
// UTF-8, spaces, now and then nothing or a very long string.
#pragma once

#include <iterator>
#include <random>
#include <string>

namespace dbcpack::testing {

inline std::string HardString(std::mt19937_64& random) {
  static const char* const kPieces[] = {"007",
                                        "=",
                                        "+",
                                        "-",
                                        "@",
                                        ",",
                                        ";",
                                        "\"",
                                        "\\",
                                        "n",
                                        "r",
                                        "\n",
                                        "\r",
                                        "\\n",
                                        "x",
                                        " ",
                                        "1.5",
                                        "\xC3\xA9",
                                        "\xE6\x97\xA5\xE6\x9C\xAC",
                                        "\xD0\x96",
                                        "Sword",
                                        "#",
                                        "Err"};
  std::string text;
  // One draw a statement, so that every compiler draws in the same order.
  std::size_t pieces = 0;
  if (random() % 6 != 0) {
    const std::size_t most = random() % 10 == 0 ? 400 : 8;
    pieces = 1 + random() % most;
  }
  for (std::size_t i = 0; i < pieces; ++i) {
    const char* piece = kPieces[random() % std::size(kPieces)];
    // No text can carry a backslash right before a line break.
    if ((piece[0] == '\n' || piece[0] == '\r') && !text.empty() && text.back() == '\\') continue;
    text += piece;
  }
  return text;
}

}  // namespace dbcpack::testing
