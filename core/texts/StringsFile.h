#pragma once
// "strings.dat" in the configuration folder: the configuration load reads it
// at every start and replaces the texts it names (MessageTexts.h).
namespace core {

// A missing or unreadable file changes nothing.
void LoadStringsFile();

}  // namespace core
