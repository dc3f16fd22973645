// Start-up and the end of the program.
#pragma once

#include <string>
#include <string_view>

// Where the settings file lives: the executable's directory, or the current
// directory when the executable runs from a temporary directory (its
// lower-cased directory holds "\temp\", or on Linux also "/temp/" or "/tmp/").
// Ends with a separator.
std::string ProgramDirFor(std::string_view executablePath, std::string_view currentDirectory);

// Where the settings file lives and whether the program runs installed.
struct SettingsPlace {
    std::string directory;  // ends with a separator
    bool installed = false;
};

// An installed program (one in installBinDir, the bin directory of its install
// prefix, or in a directory it cannot write) keeps its settings in the user's
// configuration directory; a portable copy where ProgramDirFor says.
SettingsPlace SettingsPlaceFor(std::string_view executablePath, std::string_view currentDirectory,
                               std::string_view installBinDir);

// Runs the start-up with the settings file in place.directory: claims the one
// instance for that file, fills the shared state, builds the window and its
// controls, reads the settings file (or, on a first run, asks for the download
// directory and writes a fresh file), restores the link rows and shows the
// window. The toolkit must be started. Returns 0, having touched nothing, when
// another instance runs on the same settings file (it is brought to the front
// instead); 1 otherwise.
int StartUp(const SettingsPlace& place);
// The same for a portable copy with its settings in programDir.
inline int StartUp(std::string_view programDir) {
    return StartUp(SettingsPlace{std::string(programDir), false});
}

// Closes what is still open and releases the window (after a confirmed quit).
void EndProgram();
