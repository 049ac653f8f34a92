#pragma once

#include <string_view>

// Names and paths that come from package files, the database or a router root
// image, and the checks they must pass before they are used to build a path or are
// written into the database's text files.

// A control character: bytes 0x00 to 0x1F and 0x7F. Bytes from 0x80 up are
// ordinary characters.
bool isControlCharacter(char c);
bool hasControlCharacter(std::string_view text);

// A package name that names exactly one directory below the database root and
// survives the database's text files: not empty, not "." or "..", no "/", no blank
// and no control character.
bool isSafePackageName(std::string_view name);

// A name inside a dependency, provides or conflicts list: one white-space-free
// field of a database line, so not empty, no blank and no control character.
bool isSafeListName(std::string_view name);

// A container entry name: no control character (the "files" list keeps one path a
// line) and no ".." component. A leading "/" and blanks are fine.
bool isSafeContainerName(std::string_view name);

// A path a package may own: below "/flash/", every component a plain name (not
// empty, ".", or ".."), no NUL. Extraction creates only such paths, and removing a
// package deletes only such paths.
bool isInstalledFilePath(std::string_view path);
