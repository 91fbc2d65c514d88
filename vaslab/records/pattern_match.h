// A small regular-expression engine of the compile-then-execute kind, used
// to split the tags of hand-written scripts.  One pattern is compiled at a
// time into one program-wide automaton; matching records the bounds of the
// whole match and of up to nine groups in the subject text.
//
// Syntax: "." any character; "[...]" a class ("^" first negates, "-" joins a
// range, "]" or "-" first is a member); "*" zero or more and "+" one or more
// of the item before, longest first; "^" first and "$" last anchor to the
// ends (elsewhere they are ordinary); "\(" "\)" a group (nine at most),
// "\1".."\9" the text a closed group matched, "\<" "\>" word bounds; a
// backslash before any other character makes it ordinary.
#pragma once

#include <cstddef>

namespace vaslab {

// Size of the compiled form, END included.
inline constexpr std::size_t kPatternAutomatonSize = 1024;
// Steps one re_exec may take before it gives up (see re_exec_gave_up).
inline constexpr long kPatternStepBudget = 4'000'000;

// Compiles `pattern`.  nullptr on success, else the error text; an error
// leaves no automaton.  An empty pattern keeps the previous automaton.
const char* re_comp(const char* pattern);

// True when the automaton matches somewhere in `text` (which must stay
// unchanged while its groups are used).  Every group is cleared first.
bool re_exec(const char* text);

// True when the last re_exec ran out of steps; it then reported no match.
bool re_exec_gave_up();

// Writes `tmpl` into `dest` (capacity bytes, NUL included) with "&" replaced
// by the whole match and "\0".."\9" by a group's text; a backslash before
// another character gives that character.  False, with `dest` empty, when
// there is no match, a group's text holds a NUL, or the result does not fit.
bool re_subs(const char* tmpl, char* dest, std::size_t capacity);

// Start of group n (0 the whole match, 1..9), nullptr when not matched.
const char* regex_group_start(int n);
// Length of group n, 0 outside 0..9 or when not matched.
int regex_group_length(int n);

}  // namespace vaslab
