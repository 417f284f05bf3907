#pragma once

#include <string>

// Where saved results go: the user's documents folder as the XDG user
// directories name it (XDG_DOCUMENTS_DIR in user-dirs.dirs, the file that
// xdg-user-dir reads), else ~/Documents, else the home folder itself. Only
// folders that exist are chosen; a documents folder set to the home folder
// itself means "none" there and is skipped. Only a regular user-dirs.dirs of
// at most 64 KiB is read, without blocking. Main thread.

// From the environment: HOME (or the password database) and XDG_CONFIG_HOME.
std::string documentsFolder();

// The same choice for a given home and XDG config folder ("" = ~/.config).
std::string documentsFolderFor(const std::string& home, const std::string& configHome);

// XDG_DOCUMENTS_DIR from the text of a user-dirs.dirs file, with $HOME
// expanded; "" when the file does not set it to a usable path.
std::string xdgDocumentsDir(const std::string& userDirsText, const std::string& home);
