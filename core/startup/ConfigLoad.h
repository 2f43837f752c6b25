#pragma once
// The configuration load and save: one named step per line of the sequence,
// each step owned by its subsystem's folder. This unit sits above every
// subsystem it calls; none of them calls back into it.
namespace core {

// Loads the configuration: settings record, folders, defaults and clamps,
// domain table, bind settings, anti-spam settings, message texts, subdomain
// flag and (unless stopBeforeBackEnd) the database back end, processor
// affinity and record caches. When "settings.cfg" cannot be read the result
// is !missingIsFailure; an error of any other step stays inside that step.
// The library's profile (ActiveLibraryProfile, LibraryStart.h) gives the
// bytes of "settings.cfg" taken, whether the folders are placed under the
// root and whose rule-file reader loads.
bool InitServerConfig(bool missingIsFailure, bool stopBeforeBackEnd);

// Writes "settings.cfg" (scrambled) and "domains.cfg", each through a
// temporary file. True when at least one file was written; false without
// writing while the last load could not read the existing "settings.cfg",
// and while no full configuration folder is known.
bool SaveServerConfig();

// Installs what the units above the account store lend it (group tests,
// message import, directory sync): the library start (LibraryStart.h) runs
// it once.
void InstallUnitHooks();

// Converts an older domain table and reads the attachment-scanner settings.
void CompleteConfigLoad();

// Reads the global "bind.dat" (Outgoing_Bind=, IPv6_Bind=) and the default
// templates.
void LoadGlobalBindings();

}  // namespace core
