#pragma once
// Message variables on Windows: the environment of a message file (its
// headers read once per run, its body, its attachment names), the system's
// clock and regional date texts, commands with their output captured, and
// the rewrite of a whole message file with its variables expanded.
#include <string>
#include <string_view>

#include "core/messages/MessageContext.h"
#include "core/mime/LineReader.h"
#include "core/variables/LineExpansion.h"

namespace core {

// Expands one line against the context's message file (LineExpansion.h).
void ExpandSystemVariables(const MessageContext& context, std::string_view line, bool& keep, std::string& out,
                           ByteSink* output);
std::string ExpandSystemVariablesText(const MessageContext& context, std::string_view line);

// Rewrites the context's message file with every line expanded: written to a
// unique ".tmp" file in the temporary folder, which then replaces the
// message. A ".tmp" message is unstuffed line by line and its result stuffed;
// other forms are neither. False, with the message unchanged and no
// temporary file left, when the message cannot be read, the temporary file
// not written or the replace fails.
bool ApplySystemVariables(MessageContext& context);

// The standard output (and error) of the command line, run with its window
// hidden ("command|user;domain;password" runs it as that user); blanks in
// front of it are dropped. Empty when it cannot run.
std::string RunCommandVariable(const std::string& commandLine);

// The attachment names of a message file for "%%AttachmentNames%%". Until
// the library start installs the attachment unit's, every message has none.
using AttachmentNamesSource = std::string (*)(const std::string& messageFile);
void SetAttachmentNamesSource(AttachmentNamesSource source);

// Test seam: a fixed clock for the date variables; nullptr restores the
// system's local time.
using VariableClock = LocalTime (*)();
void SetVariableClock(VariableClock clock);

// The regional date texts of the user's locale.
DateLocale& SystemDateLocale();

// Installs the expansion into the welcome messages of core/messages.
void InstallVariableHooks();

}  // namespace core
