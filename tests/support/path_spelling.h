// Another path to an existing directory, as users meet them: through a
// symbolic link on Linux, by its 8.3 short name on Windows.
#pragma once

#include <string>

// A second spelling of directory (whose last name must be longer than 8.3),
// ending in a separator as directory does; "" when the system gives none. A
// link made for it is removed with the directory's parent.
std::string AnotherSpellingOf(const std::string& directory);
