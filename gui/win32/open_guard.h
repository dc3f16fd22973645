// Which files "open" would run as programs. Portable: no Windows call in it.
#pragma once

#include <string>
#include <string_view>

// True when path names a file that Windows' "open" would run, or hand to an
// interpreter, rather than show: its extension (letter case ignored, trailing
// dots and blanks dropped as Windows drops them) is one that pathExt lists
// (the PATHEXT value, ";"-separated) or one of the well-known code-carrying
// types. A name with a stream suffix (":") counts as one too.
bool RunsAsProgram(std::string_view path, std::string_view pathExt);
