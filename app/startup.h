// Start-up and the end of the program.
#pragma once

#include <string>
#include <string_view>

// Where the settings file lives: the executable's directory, or the current
// directory when the executable runs from a temporary directory (its
// lower-cased directory holds "\temp\", "/temp/" or "/tmp/"). Ends with "/".
std::string ProgramDirFor(std::string_view executablePath, std::string_view currentDirectory);

// Runs the start-up with the settings file in programDir: fills the shared
// state, builds the window and its controls, reads the settings file (or, on a
// first run, asks for the download directory and writes a fresh file),
// restores the link rows and shows the window. The toolkit must be started.
void StartUp(std::string_view programDir);

// Closes what is still open and releases the window (after a confirmed quit).
void EndProgram();
