// Who the program is to the desktop: one organisation and application name
// for every settings file, the desktop entry's name, and the version the
// build was made from. The viewer, kestrune-cli and krlang all answer
// --version with it.
#pragma once

#include <string>
#include <vector>

namespace kestrune {

// The settings of every program live under these names, so the preferences and
// anything Qt keeps by default share ~/.config/<organisation>/<application>.conf.
constexpr const char* kOrganizationName = "Quillmer Software, Inc.";
constexpr const char* kApplicationName = "Kestrune";
// The desktop entry (and AppStream id) without ".desktop".
constexpr const char* kDesktopFileName = "com.quillmer.Kestrune";

// The project version the build was made from ("0.1").
const char* ApplicationVersion();

// Names the running application after the organisation and application above
// and the build's version (QCoreApplication must exist).
void SetApplicationIdentity();

// Whether a program's words (after its name) ask only for the version: the
// one word "--version".
bool AsksForVersion(const std::vector<std::string>& words);
// "PROGRAM VERSION", the line --version prints.
std::string VersionLine(const std::string& program);

}  // namespace kestrune
