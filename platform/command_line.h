// Argument text of the kind a program on the instrument's system received as
// one command line, split into an argument vector the way that system's
// run-time library splits it, so that the text reaches a program started
// here exactly as it reached the original, without a shell in between.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Blanks and tabs separate arguments outside double quotes.  A double quote
// starts or ends a quoted stretch; inside one, two double quotes in a row
// give one literal quote.  Backslashes are literal except before a double
// quote: 2n backslashes then a quote give n backslashes and the quote acts;
// 2n+1 give n backslashes and a literal quote.
std::vector<std::string> split_command_line(std::string_view text);

}  // namespace platform
