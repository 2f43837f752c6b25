#pragma once
// The configuration store: the process-wide folders, the shared settings
// record, the path overrides ("path.cfg"), the global and per-domain IP
// bindings ("bind.dat"), the address-list checks (relay and domain-shield
// lists), and the load and save of the whole configuration.
//
// The settings record is shared by every thread and is never seen scrambled:
// the load works on a copy and publishes it, the save writes a scrambled copy.
// Loads and saves take no lock (callers do not run them while other calls are
// in progress); the folder texts are guarded and handed out as copies.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/config/SettingsRecord.h"

namespace core {

// ---- Process-wide state -------------------------------------------------

// The in-memory settings record (built-in image until a load reads the file).
SettingsRecord& Settings();

// Installation (root) and configuration folders, each ending in "\" once set.
std::string RootFolder();
void SetRootFolder(std::string_view folder);
std::string ConfigFolder();
void SetConfigFolder(std::string_view folder);

// Anti-spam folder: "path.cfg" line 6, else root folder + "Spam\".
std::string AntiSpamFolder();
// Front of the message-file names: "path.cfg" line 4 + settings text at 201.
std::string MessageFilePrefix();
// Outgoing bind address ("path.cfg" line 10, then "bind.dat") and IPv6 bind list.
std::string OutgoingBindAddress();
std::string IPv6BindList();
// Whether "subdomains.dat" existed in the configuration folder at the last load.
bool SubdomainListExists();
// Whether the last load found a "settings.cfg" that it could not read; saves
// are refused meanwhile so that the file is not replaced by defaults.
bool SettingsFileUnreadable();
// The anti-spam settings' challenge-response switch ("SpamChallenge").
bool SpamChallengeOn();

// ---- Load and save ------------------------------------------------------

// Reads rootFolder + "path.cfg": line 1 configuration folder, 4 message-file
// prefix, 6 anti-spam folder, 10 "text|outgoing bind address", 11 host name.
// Empty lines keep their item; the items of an earlier "path.cfg" are
// forgotten first. A missing file leaves the configuration folder as it is.
void ReadPathConfig(const std::string& rootFolder);

// Loads the configuration: settings record, folders, defaults and clamps,
// domain table, bind settings, anti-spam settings, message texts, subdomain
// flag and (unless stopBeforeBackEnd) the database back end, processor
// affinity and record caches. When "settings.cfg" cannot be read the result
// is !missingIsFailure; an error of any other step stays inside that step.
bool InitServerConfig(bool missingIsFailure, bool stopBeforeBackEnd);

// Writes "settings.cfg" (scrambled) and "domains.cfg", each through a
// temporary file, creating the configuration folder first. True when at
// least one file was written; false without writing while the last load
// could not read the existing "settings.cfg".
bool SaveServerConfig();

// Converts an older domain table and reads the attachment-scanner settings.
void CompleteConfigLoad();

// Reads the global "bind.dat" (Outgoing_Bind=, IPv6_Bind=) and the default
// templates.
void LoadGlobalBindings();

// ---- Per-domain bindings ------------------------------------------------

// Stores a domain's binding text: non-empty text goes to the domain's
// "bind.dat" (unless keepFile) and marks the table entry 255.255.255.255;
// empty text deletes the file and clears the entry. Nothing for an index
// outside the domain table.
void WriteDomainBind(int index, std::string_view text, bool keepFile);

// The domain's bindings: its "bind.dat" line joined by ";" with the table's
// own address (the marker counts as none); at most 255 characters.
std::string ReadDomainBind(int index);

// Whether ReadDomainBind(0) is non-empty; worked out once after each load.
bool UsesDomainBinding();

// ---- Address-list checks (1 yes, 0 no) ----------------------------------

// 1 when the IP passes the domain's line of "domainshield.dat", or when the
// file or a line for the domain is missing.
int CheckDomainShield(std::string_view domain, std::string_view ip);

// 1 when an item of the ";"-list admits the IP: an IP pattern that matches,
// or (domain shield on) a served domain whose shield admits it.
int IPInList(std::string_view list, std::string_view ip);

// IPInList(list, ip); with useRelayFile, when that says 0, each line of the
// relay file (empty name: configuration folder + "relay.dat") is tried too.
int CheckRelayIP(std::string_view ip, std::string_view list, bool useRelayFile, std::string_view relayFile);

}  // namespace core
